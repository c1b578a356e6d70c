// Chooser: lets an interactive client's user pick one attached instrument.
#pragma once

#include "Velcorin_h.h"
#include "common/collection.h"
#include "common/com_object.h"
#include "common/properties.h"

namespace velcorin {

class Chooser final : public DispatchObject<_Chooser> {
 public:
  STDMETHODIMP get_Filter(_Collection** v) override { return GetSelfCreating(filter_, v); }
  // The slot early-bound callers know as the put by value: stores the reference too.
  STDMETHODIMP put_Filter(_Collection* v) override { return PutReference(filter_, v); }
  STDMETHODIMP putref_Filter(_Collection* v) override { return PutReference(filter_, v); }
  STDMETHODIMP get_DevicePath(BSTR* v) override { return GetStored(devicePath_, v); }
  STDMETHODIMP get_IsDeviceSelected(VARIANT_BOOL* v) override { return GetStored(isDeviceSelected_, v); }
  STDMETHODIMP ShowDialog(VARIANT_BOOL* selected) override;

 private:
  ComPtr<_Collection> filter_;
  Bstr devicePath_{L""};
  VARIANT_BOOL isDeviceSelected_ = VARIANT_FALSE;
};

}  // namespace velcorin
