#include "common/collection.h"

#include <iterator>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/error_info.h"
#include "common/owners.h"

namespace velcorin {

namespace {

constexpr const wchar_t* kSource = L"Velcorin.Collection";

// The upper-case table that CompareStringOrdinal ignores case with.
extern "C" __declspec(dllimport) WCHAR NTAPI RtlUpcaseUnicodeChar(WCHAR unit);

// Keys compare as CompareStringOrdinal ignoring case does: unit by unit, each
// in its upper-case form. Folding them once lets a hash table find them.
std::wstring Folded(const wchar_t* text, size_t length) {
  std::wstring folded(text, length);
  for (wchar_t& unit : folded) unit = RtlUpcaseUnicodeChar(unit);
  return folded;
}

// The items in order, with their optional keys, in constant time by key and at
// either end. A position in between is walked to from the nearer end, or on
// from the last position reached, so that a loop over 1 to Count stays linear.
class Items {
 public:
  struct Entry {
    Variant value;
    std::optional<std::wstring> key;  // folded
  };
  using Iter = std::list<Entry>::iterator;

  size_t size() const { return list_.size(); }
  Iter begin() { return list_.begin(); }
  Iter end() { return list_.end(); }

  Iter Find(const std::wstring& folded) {
    const auto found = keys_.find(folded);
    return found == keys_.end() ? list_.end() : found->second;
  }

  // 0-based; index < size().
  Iter At(size_t index) {
    size_t from = index <= size() - index ? 0 : size();
    Iter at = from == 0 ? list_.begin() : list_.end();
    if (cursorValid_ && Distance(index, cursorIndex_) < Distance(index, from)) from = cursorIndex_, at = cursor_;
    std::advance(at, static_cast<std::ptrdiff_t>(index) - static_cast<std::ptrdiff_t>(from));
    cursor_ = at, cursorIndex_ = index, cursorValid_ = true;
    return at;
  }

  void Insert(Iter before, Entry entry) {
    const Iter added = list_.insert(before, std::move(entry));
    if (added->key) {
      try {
        keys_.emplace(*added->key, added);
      } catch (...) {
        list_.erase(added);
        throw;
      }
    }
    if (before != list_.end()) cursorValid_ = false;  // positions after it moved
  }

  void Erase(Iter at) {
    if (cursorValid_) KeepCursorAcross(at);
    if (at->key) keys_.erase(*at->key);
    list_.erase(at);
  }

 private:
  // A removal at the cursor or next to it leaves a position whose index is
  // known, so that a loop that reads and removes as it goes stays linear.
  // Elsewhere in between, which side it was on is not known without a walk.
  void KeepCursorAcross(Iter at) {
    const bool first = at == list_.begin(), last = std::next(at) == list_.end();
    if (at == cursor_) {
      if (!last)
        cursor_ = std::next(at);  // the next item takes its index
      else if (!first)
        cursor_ = std::prev(at), --cursorIndex_;
      else
        cursorValid_ = false;
    } else if (first || std::next(at) == cursor_) {
      --cursorIndex_;  // before it
    } else if (!last && at != std::next(cursor_)) {
      cursorValid_ = false;
    }
  }

  static size_t Distance(size_t a, size_t b) { return a < b ? b - a : a - b; }

  std::list<Entry> list_;
  std::unordered_map<std::wstring, Iter> keys_;
  Iter cursor_;
  size_t cursorIndex_ = 0;
  bool cursorValid_ = false;
};

bool IsMissing(const VARIANT* arg) {
  return arg == nullptr || (V_VT(arg) == VT_ERROR && V_ERROR(arg) == DISP_E_PARAMNOTFOUND);
}

// Enumerates a snapshot of the items, so that changing the collection while a
// For Each runs can never invalidate the walk.
class Enumerator final : public ComObject<IEnumVARIANT> {
 public:
  Enumerator(std::shared_ptr<const std::vector<Variant>> items, size_t next) : items_(std::move(items)), next_(next) {}

  STDMETHODIMP Next(ULONG wanted, VARIANT* out, ULONG* fetched) override {
    if (!out || (!fetched && wanted != 1)) return E_POINTER;
    ULONG done = 0;
    for (; done < wanted && next_ < items_->size(); ++done, ++next_) {
      VariantInit(&out[done]);
      const HRESULT hr = VariantCopy(&out[done], (*items_)[next_].as_input());
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
    return Guard(kSource, [&] { ThrowIfFailed(VariantCopy(result, Locate(*index)->value.get())); });
  }

  STDMETHODIMP Add(VARIANT* item, VARIANT* key, VARIANT* before, VARIANT* after) override {
    if (!item) return E_POINTER;
    return Guard(kSource, [&] {
      Items::Entry entry{Variant::copy(*item), KeyOf(key)};
      if (!IsMissing(before) && !IsMissing(after)) Raise(kErrInvalidCall);
      Items::Iter at = items_.end();
      if (!IsMissing(before)) at = Locate(*before);
      if (!IsMissing(after)) at = std::next(Locate(*after));
      items_.Insert(at, std::move(entry));
    });
  }

  STDMETHODIMP Count(long* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<long>(items_.size());
    return S_OK;
  }

  STDMETHODIMP Remove(VARIANT* index) override {
    if (!index) return E_POINTER;
    return Guard(kSource, [&] { items_.Erase(Locate(*index)); });
  }

  STDMETHODIMP _NewEnum(IUnknown** enumerator) override {
    if (!enumerator) return E_POINTER;
    *enumerator = nullptr;
    return Guard(kSource, [&] {
      auto snapshot = std::make_shared<std::vector<Variant>>();
      snapshot->reserve(items_.size());
      for (const Items::Entry& entry : items_) snapshot->push_back(entry.value);
      *enumerator = MakeObject<Enumerator>(std::move(snapshot), 0).Detach();
    });
  }

 private:
  std::optional<std::wstring> KeyOf(const VARIANT* key) {
    if (IsMissing(key)) return std::nullopt;
    Variant text = Variant::copy(*key);
    if (text.vt() != VT_BSTR) Raise(kErrTypeMismatch);
    std::wstring folded = Folded(V_BSTR(text.get()), SysStringLen(V_BSTR(text.get())));
    if (items_.Find(folded) != items_.end()) Raise(kErrDuplicateKey);
    return folded;
  }

  // The item named by its 1-based index or by its key.
  Items::Iter Locate(const VARIANT& index) {
    Variant which = Variant::copy(index);
    if (which.vt() == VT_BSTR) {
      const Items::Iter found = items_.Find(Folded(V_BSTR(which.get()), SysStringLen(V_BSTR(which.get()))));
      if (found == items_.end()) Raise(kErrInvalidCall);
      return found;
    }
    const HRESULT hr = VariantChangeType(which.get(), which.get(), 0, VT_I4);
    if (FAILED(hr)) RaiseConversionFailure(hr);
    const long number = V_I4(which.get());
    if (number < 1 || static_cast<size_t>(number) > items_.size()) Raise(kErrSubscript);
    return items_.At(static_cast<size_t>(number - 1));
  }

  Items items_;
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

}  // namespace velcorin
