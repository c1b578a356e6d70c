// EnumFilter: one include or exclude rule for EnumDevices.
#pragma once

#include "Velcorin_h.h"
#include "common/collection.h"
#include "common/com_object.h"
#include "common/properties.h"

namespace velcorin {

class EnumFilter final : public DispatchObject<_EnumFilter> {
 public:
  STDMETHODIMP get_FilterAction(FilterActionEnum* v) override { return GetStored(action_, v); }
  STDMETHODIMP put_FilterAction(FilterActionEnum v) override { return PutStored(action_, v); }
  STDMETHODIMP get_FilterTarget(FilterTargetEnum* v) override { return GetStored(target_, v); }
  STDMETHODIMP put_FilterTarget(FilterTargetEnum v) override { return PutStored(target_, v); }
  STDMETHODIMP get_Tokens(_Collection** v) override { return GetSelfCreating(tokens_, v); }
  // The slot early-bound callers know as the put by value: stores the reference too.
  STDMETHODIMP put_Tokens(_Collection* v) override { return PutReference(tokens_, v); }
  STDMETHODIMP putref_Tokens(_Collection* v) override { return PutReference(tokens_, v); }

 private:
  FilterActionEnum action_ = IncludeDevs;
  FilterTargetEnum target_ = FilterByDeviceClass;
  ComPtr<_Collection> tokens_;
};

}  // namespace velcorin
