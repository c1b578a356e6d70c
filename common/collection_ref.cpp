#include "common/collection_ref.h"

#include "Velcorin_h.h"
#include "common/collection_over_dispatch.h"
#include "common/error_info.h"

namespace velcorin {

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
      dispatch_->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result.put(), &exception, nullptr);
  if (FAILED(hr)) ThrowInvokeFailure(hr, exception);
  return result;
}

long CollectionRef::Count() const {
  Variant count = Call(DISPID_COLLECTION_COUNT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, nullptr, 0);
  const HRESULT hr = VariantChangeType(count.get(), count.get(), 0, VT_I4);
  if (FAILED(hr)) RaiseConversionFailure(hr);
  return V_I4(count.get());
}

void CollectionRef::RemoveFirst() const {
  const Variant first(1L);
  Call(DISPID_COLLECTION_REMOVE, DISPATCH_METHOD, first.as_input(), 1);
}

void CollectionRef::Add(const VARIANT& item) const {
  Variant copy = Variant::copy(item);
  Call(DISPID_COLLECTION_ADD, DISPATCH_METHOD, copy.get(), 1);
}

void CollectionRef::Add(IDispatch* item) const {
  const Variant object(item);
  Call(DISPID_COLLECTION_ADD, DISPATCH_METHOD, object.as_input(), 1);
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
    const HRESULT hr = items->Next(1, item.put(), &fetched);
    ThrowIfFailed(hr);
    if (hr != S_OK || fetched != 1) return;
    if (!visit(*item.get())) return;
  }
}

}  // namespace velcorin
