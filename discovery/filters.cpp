#include "discovery/filters.h"

#include <vector>

#include "Velcorin_h.h"
#include "common/collection_ref.h"
#include "common/error_info.h"
#include "discovery/core/device_class.h"
#include "discovery/core/filter_decision.h"
#include "discovery/filter_tokens.h"

namespace velcorin {

static_assert(kExcludeDevs == ExcludeDevs, "the portable decision's exclude action differs from the type library");

namespace {

// Only through its interface after QueryInterface: the item may be any object.
ComPtr<_EnumFilter> AsEnumFilter(const VARIANT& item) {
  if (V_VT(&item) != VT_DISPATCH && V_VT(&item) != VT_UNKNOWN) Raise(kErrTypeMismatch);
  IUnknown* object = V_UNKNOWN(&item);
  if (!object) Raise(kErrObjectNotSet);
  ComPtr<_EnumFilter> filter;
  if (FAILED(object->QueryInterface(IID_PPV_ARGS(&filter))) || !filter) Raise(kErrTypeMismatch);
  return filter;
}

std::vector<std::int16_t> ClassSetOfTokens(const CollectionRef& tokens) {
  std::vector<std::int64_t> wholeNumbers;
  tokens.ForEach([&](const VARIANT& token) {
    if (auto number = TokenWholeNumber(token)) wholeNumbers.push_back(*number);
    return true;
  });
  return ClassSetOf(wholeNumbers);
}

// From a filter in another apartment a _Collection crosses only where the
// machine has a marshaller for it; an IDispatch crosses everywhere.
ComPtr<IUnknown> TokensOf(_EnumFilter& filter) {
  ComPtr<_Collection> tokens;
  HRESULT hr = filter.get_Tokens(&tokens);
  if (hr != E_NOINTERFACE) {
    ThrowIfFailed(hr);
    return tokens;
  }
  DISPPARAMS none{};
  EXCEPINFO exception{};
  Variant late;
  hr = filter.Invoke(DISPID_ENUMFILTER_TOKENS, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, late.put(),
                     &exception, nullptr);
  if (FAILED(hr)) ThrowInvokeFailure(hr, exception);
  if (late.vt() != VT_DISPATCH && late.vt() != VT_UNKNOWN) Raise(kErrTypeMismatch);
  return V_UNKNOWN(late.get());
}

bool Matches(_EnumFilter& filter, std::int32_t productId) {
  const CollectionRef tokens(TokensOf(filter).Get());
  FilterTargetEnum target{};
  ThrowIfFailed(filter.get_FilterTarget(&target));
  if (target == FilterByDeviceClass) return ClassSetContains(ClassSetOfTokens(tokens), ClassOf(productId));
  return IsInCollection(productId, tokens);
}

}  // namespace

bool PassesFilters(IUnknown* filterList, std::int32_t productId) {
  const CollectionRef filters(filterList);
  return DecideListing(filters.Count() == 0, [&](const auto& judge) {
    filters.ForEach([&](const VARIANT& item) {
      ComPtr<_EnumFilter> filter = AsEnumFilter(item);
      const bool matches = Matches(*filter.Get(), productId);
      FilterActionEnum action{};
      ThrowIfFailed(filter->get_FilterAction(&action));
      return judge(action, matches);
    });
  });
}

}  // namespace velcorin
