#include "common/collection.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/collection_over_dispatch.h"
#include "common/error_info.h"

namespace velcorin {

namespace {

constexpr const wchar_t* kSource = L"Velcorin.Collection";

struct Entry {
  Variant value;
  std::optional<std::wstring> key;
};

using Entries = std::vector<Entry>;

bool IsMissing(const VARIANT* arg) {
  return arg == nullptr || (V_VT(arg) == VT_ERROR && V_ERROR(arg) == DISP_E_PARAMNOTFOUND);
}

bool SameKey(const std::wstring& a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                              TRUE) == CSTR_EQUAL;
}

// Enumerates a snapshot of the items, so that changing the collection while a
// For Each runs can never invalidate the walk.
class Enumerator final : public ComObject<IEnumVARIANT> {
 public:
  Enumerator(std::shared_ptr<const std::vector<Variant>> items, size_t next)
      : items_(std::move(items)), next_(next) {}

  STDMETHODIMP Next(ULONG wanted, VARIANT* out, ULONG* fetched) override {
    if (!out || (!fetched && wanted != 1)) return E_POINTER;
    ULONG done = 0;
    for (; done < wanted && next_ < items_->size(); ++done, ++next_) {
      VariantInit(&out[done]);
      const HRESULT hr = VariantCopy(&out[done], const_cast<VARIANT*>((*items_)[next_].get()));
      if (FAILED(hr)) {
        for (ULONG i = 0; i < done; ++i) VariantClear(&out[i]);
        if (fetched) *fetched = 0;
        return hr;
      }
    }
    if (fetched) *fetched = done;
    return done == wanted ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    const size_t left = items_->size() - next_;
    next_ += count < left ? count : left;
    return count <= left ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    next_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumVARIANT** copy) override {
    if (!copy) return E_POINTER;
    *copy = nullptr;
    try {
      *copy = MakeObject<Enumerator>(items_, next_).Detach();
      return S_OK;
    } catch (...) {
      return CaughtException(kSource);
    }
  }

 private:
  std::shared_ptr<const std::vector<Variant>> items_;
  size_t next_;
};

class Collection final : public DispatchObject<_Collection> {
 public:
  STDMETHODIMP Item(VARIANT* index, VARIANT* result) override {
    if (!index || !result) return E_POINTER;
    VariantInit(result);
    return Guard(kSource, [&] { ThrowIfFailed(VariantCopy(result, entries_[Position(*index)].value.get())); });
  }

  STDMETHODIMP Add(VARIANT* item, VARIANT* key, VARIANT* before, VARIANT* after) override {
    if (!item) return E_POINTER;
    return Guard(kSource, [&] {
      Entry entry{Variant::CopyOf(*item), KeyOf(key)};
      if (!IsMissing(before) && !IsMissing(after)) Raise(kErrInvalidCall);
      size_t at = entries_.size();
      if (!IsMissing(before)) at = Position(*before);
      if (!IsMissing(after)) at = Position(*after) + 1;
      entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(at), std::move(entry));
    });
  }

  STDMETHODIMP Count(long* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<long>(entries_.size());
    return S_OK;
  }

  STDMETHODIMP Remove(VARIANT* index) override {
    if (!index) return E_POINTER;
    return Guard(kSource, [&] {
      entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(Position(*index)));
    });
  }

  STDMETHODIMP _NewEnum(IUnknown** enumerator) override {
    if (!enumerator) return E_POINTER;
    *enumerator = nullptr;
    return Guard(kSource, [&] {
      auto items = std::make_shared<std::vector<Variant>>();
      items->reserve(entries_.size());
      for (const Entry& entry : entries_) items->push_back(entry.value);
      *enumerator = MakeObject<Enumerator>(std::move(items), 0).Detach();
    });
  }

 private:
  std::optional<std::wstring> KeyOf(const VARIANT* key) const {
    if (IsMissing(key)) return std::nullopt;
    Variant text = Variant::CopyOf(*key);
    if (text.vt() != VT_BSTR) Raise(kErrTypeMismatch);
    std::wstring value(V_BSTR(text.get()), SysStringLen(V_BSTR(text.get())));
    if (Find(value)) Raise(kErrDuplicateKey);
    return value;
  }

  std::optional<size_t> Find(std::wstring_view key) const {
    for (size_t i = 0; i < entries_.size(); ++i)
      if (entries_[i].key && SameKey(*entries_[i].key, key)) return i;
    return std::nullopt;
  }

  // 0-based position of an item named by its 1-based index or by its key.
  size_t Position(const VARIANT& index) const {
    Variant which = Variant::CopyOf(index);
    if (which.vt() == VT_BSTR) {
      auto found = Find({V_BSTR(which.get()), SysStringLen(V_BSTR(which.get()))});
      if (!found) Raise(kErrInvalidCall);
      return *found;
    }
    const HRESULT hr = VariantChangeType(which.get(), which.get(), 0, VT_I4);
    if (FAILED(hr)) RaiseConversionFailure(hr);
    const long number = V_I4(which.get());
    if (number < 1 || static_cast<size_t>(number) > entries_.size()) Raise(kErrSubscript);
    return static_cast<size_t>(number - 1);
  }

  Entries entries_;
};

}  // namespace

ComPtr<_Collection> NewCollection() { return MakeObject<Collection>(); }

HRESULT GetSelfCreating(ComPtr<_Collection>& field, _Collection** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    if (!field) field = NewCollection();
  } catch (...) {
    return CaughtException(kSource);
  }
  *out = field.Get();
  (*out)->AddRef();
  return S_OK;
}

HRESULT PutReference(ComPtr<_Collection>& field, _Collection* value) {
  field = value;
  return S_OK;
}

CollectionRef::CollectionRef(IUnknown* collection) {
  if (!collection) Raise(kErrObjectNotSet);
  // Otherwise an implementation that serves the runtime's DISPIDs without names.
  const ComPtr<_Collection> usable = AsCollection(collection);
  ThrowIfFailed(usable ? usable.As(&dispatch_) : collection->QueryInterface(IID_PPV_ARGS(&dispatch_)));
}

Variant CollectionRef::Call(DISPID member, WORD flags, VARIANT* args, UINT count) const {
  DISPPARAMS params{args, nullptr, count, 0};
  Variant result;
  EXCEPINFO exception{};
  const HRESULT hr =
      dispatch_->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result.out(), &exception, nullptr);
  if (FAILED(hr)) ThrowInvokeFailure(hr, exception);
  return result;
}

long CollectionRef::Count() const {
  Variant count = Call(2, DISPATCH_METHOD | DISPATCH_PROPERTYGET, nullptr, 0);
  const HRESULT hr = VariantChangeType(count.get(), count.get(), 0, VT_I4);
  if (FAILED(hr)) RaiseConversionFailure(hr);
  return V_I4(count.get());
}

void CollectionRef::RemoveFirst() const {
  VARIANT first;
  V_VT(&first) = VT_I4;
  V_I4(&first) = 1;
  Call(3, DISPATCH_METHOD, &first, 1);
}

void CollectionRef::Add(const VARIANT& item) const {
  Variant copy = Variant::CopyOf(item);
  Call(1, DISPATCH_METHOD, copy.get(), 1);
}

void CollectionRef::Add(IDispatch* item) const {
  VARIANT object;
  V_VT(&object) = VT_DISPATCH;
  V_DISPATCH(&object) = item;
  Add(object);
}

void CollectionRef::ForEach(const std::function<bool(const VARIANT&)>& visit) const {
  Variant source = Call(DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, nullptr, 0);
  if (source.vt() != VT_UNKNOWN && source.vt() != VT_DISPATCH) Raise(kErrTypeMismatch);
  IUnknown* unknown = V_UNKNOWN(source.get());
  if (!unknown) Raise(kErrObjectNotSet);
  ComPtr<IEnumVARIANT> items;
  ThrowIfFailed(unknown->QueryInterface(IID_PPV_ARGS(&items)));
  for (;;) {
    Variant item;
    ULONG fetched = 0;
    const HRESULT hr = items->Next(1, item.out(), &fetched);
    ThrowIfFailed(hr);
    if (hr != S_OK || fetched != 1) return;
    if (!visit(*item.get())) return;
  }
}

}  // namespace velcorin
