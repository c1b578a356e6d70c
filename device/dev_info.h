// DevInfo: the identity record of one instrument.
#pragma once

#include "Velcorin_h.h"
#include "common/com_object.h"
#include "common/defs.h"
#include "common/properties.h"
#include "device/core/identity.h"

namespace velcorin {

class DevInfo final : public DispatchObject<_DevInfo> {
 public:
  STDMETHODIMP get_ChannelCount(long* v) override { return GetStored(channelCount_, v); }
  STDMETHODIMP put_ChannelCount(long v) override { return PutStored(channelCount_, v); }
  STDMETHODIMP get_Description(BSTR* v) override { return GetStored(description_, v); }
  STDMETHODIMP put_Description(BSTR v) override { return PutStored(description_, v); }
  STDMETHODIMP get_DevicePath(BSTR* v) override { return GetStored(devicePath_, v); }
  STDMETHODIMP put_DevicePath(BSTR v) override { return PutStored(devicePath_, v); }
  STDMETHODIMP get_FirmwareVersion(BSTR* v) override { return GetStored(firmwareVersion_, v); }
  STDMETHODIMP put_FirmwareVersion(BSTR v) override { return PutStored(firmwareVersion_, v); }
  STDMETHODIMP get_ModelNumber(BSTR* v) override { return GetStored(modelNumber_, v); }
  STDMETHODIMP put_ModelNumber(BSTR v) override { return PutStored(modelNumber_, v); }
  STDMETHODIMP get_ProductID(long* v) override { return GetStored(productId_, v); }
  STDMETHODIMP put_ProductID(long v) override { return PutStored(productId_, v); }
  STDMETHODIMP get_SerialNumber(BSTR* v) override { return GetStored(serialNumber_, v); }
  STDMETHODIMP put_SerialNumber(BSTR v) override { return PutStored(serialNumber_, v); }
  STDMETHODIMP get_VendorID(long* v) override { return GetStored(vendorId_, v); }
  STDMETHODIMP put_VendorID(long v) override { return PutStored(vendorId_, v); }
  STDMETHODIMP get_ChannelNames(SAFEARRAY** names) override;
  STDMETHODIMP put_ChannelNames(SAFEARRAY** names) override;

  // What an identity query found; fields it did not reach keep their values.
  void Fill(const Identity& identity);
  void SetDevicePath(BSTR path) { devicePath_ = Bstr::copy(path); }

 private:
  long channelCount_ = 0;
  Bstr description_{L""};
  Bstr devicePath_{L""};
  Bstr firmwareVersion_{L""};
  Bstr modelNumber_{L""};
  long productId_ = 0;
  Bstr serialNumber_{L""};
  long vendorId_ = kFamilyVendorId;
  SafeArray channelNames_;  // null until an array is set: "no array", not an empty one
};

}  // namespace velcorin
