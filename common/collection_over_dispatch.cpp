#include "common/collection_over_dispatch.h"

#include <dispex.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "common/collection.h"
#include "common/error_info.h"
#include "common/owners.h"

namespace velcorin {

namespace {

constexpr const wchar_t* kSource = L"Velcorin.Collection";

bool IsMissing(const VARIANT* arg) {
  return arg == nullptr || (V_VT(arg) == VT_ERROR && V_ERROR(arg) == DISP_E_PARAMNOTFOUND);
}

// Some script objects (Wine's VBScript classes) answer names only through IDispatchEx.
std::optional<DISPID> IdOf(IDispatch& target, const wchar_t* name) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  if (SUCCEEDED(target.GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return id;
  ComPtr<IDispatchEx> script;
  const Bstr text(name);
  if (SUCCEEDED(target.QueryInterface(IID_PPV_ARGS(&script))) &&
      SUCCEEDED(script->GetDispID(text.get(), fdexNameCaseInsensitive, &id)))
    return id;
  return std::nullopt;
}

class CollectionOverDispatch final : public DispatchObject<_Collection> {
 public:
  CollectionOverDispatch(ComPtr<IDispatch> target, DISPID count) : target_(std::move(target)), count_(count) {}

  STDMETHODIMP Item(VARIANT* index, VARIANT* result) override {
    if (!index || !result) return E_POINTER;
    VariantInit(result);
    return Guard(kSource, [&] { *result = Call(L"Item", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {*index}).release(); });
  }

  // Passes the optional arguments up to the last one given.
  STDMETHODIMP Add(VARIANT* item, VARIANT* key, VARIANT* before, VARIANT* after) override {
    if (!item) return E_POINTER;
    return Guard(kSource, [&] {
      std::vector<VARIANT> args{*item};
      VARIANT* optional[] = {key, before, after};
      size_t given = std::size(optional);
      while (given > 0 && IsMissing(optional[given - 1])) --given;
      const Variant missing = Variant::missing();
      for (size_t i = 0; i < given; ++i) args.push_back(IsMissing(optional[i]) ? *missing.get() : *optional[i]);
      Call(L"Add", DISPATCH_METHOD, std::move(args));
    });
  }

  STDMETHODIMP Count(long* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return Guard(kSource, [&] { *count = CountNow(); });
  }

  STDMETHODIMP Remove(VARIANT* index) override {
    if (!index) return E_POINTER;
    return Guard(kSource, [&] { Call(L"Remove", DISPATCH_METHOD, {*index}); });
  }

  // Its own enumerator when it has one; otherwise one over what Item gives now.
  STDMETHODIMP _NewEnum(IUnknown** enumerator) override {
    if (!enumerator) return E_POINTER;
    *enumerator = nullptr;
    return Guard(kSource, [&] {
      Variant own;
      const HRESULT hr = Invoke(DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, own);
      if (SUCCEEDED(hr) && (own.vt() == VT_UNKNOWN || own.vt() == VT_DISPATCH) && V_UNKNOWN(own.get())) {
        *enumerator = V_UNKNOWN(own.get());
        (*enumerator)->AddRef();
        return;
      }
      ThrowIfFailed(Snapshot()->_NewEnum(enumerator));
    });
  }

 private:
  // args in natural order; the caller keeps owning them.
  HRESULT Invoke(DISPID id, WORD flags, std::vector<VARIANT> args, Variant& result) {
    std::reverse(args.begin(), args.end());
    DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    EXCEPINFO exception{};
    const HRESULT hr =
        target_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result.put(), &exception, nullptr);
    if (hr == DISP_E_EXCEPTION) ThrowInvokeFailure(hr, exception);
    return hr;
  }

  Variant Call(const wchar_t* name, WORD flags, std::vector<VARIANT> args) {
    const auto id = IdOf(*target_.Get(), name);
    if (!id) Raise(kErrNoSuchMember);
    Variant result;
    ThrowIfFailed(Invoke(*id, flags, std::move(args), result));
    return result;
  }

  long CountNow() {
    Variant count;
    ThrowIfFailed(Invoke(count_, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, count));
    const HRESULT hr = VariantChangeType(count.get(), count.get(), 0, VT_I4);
    if (FAILED(hr)) RaiseConversionFailure(hr);
    return V_I4(count.get());
  }

  ComPtr<_Collection> Snapshot() {
    ComPtr<_Collection> copy = NewCollection();
    for (long i = 1, n = CountNow(); i <= n; ++i) {
      const Variant index(i);
      Variant item = Call(L"Item", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {*index.get()});
      ThrowIfFailed(copy->Add(item.get(), nullptr, nullptr, nullptr));
    }
    return copy;
  }

  ComPtr<IDispatch> target_;
  DISPID count_;
};

}  // namespace

ComPtr<_Collection> AsCollection(IUnknown* object) {
  ComPtr<_Collection> collection;
  if (!object || SUCCEEDED(object->QueryInterface(IID_PPV_ARGS(&collection)))) return collection;
  ComPtr<IDispatch> target;
  if (FAILED(object->QueryInterface(IID_PPV_ARGS(&target))) || !target) return nullptr;
  const auto count = IdOf(*target.Get(), L"Count");
  if (!count) return nullptr;
  return MakeObject<CollectionOverDispatch>(std::move(target), *count);
}

}  // namespace velcorin
