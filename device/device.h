// Device: one client's connection to one instrument.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Velcorin_h.h"
#include "common/com_object.h"
#include "device/dev_info.h"
#include "device/instrument_link.h"
#include "discovery/enum_devices.h"

namespace velcorin {

class Device final : public DispatchObject<_Device> {
 public:
  STDMETHODIMP get_DeviceInfo(_DevInfo** info) override;
  STDMETHODIMP get_IsDeviceOpen(VARIANT_BOOL* open) override;
  STDMETHODIMP CloseDev() override;
  STDMETHODIMP EnterCalMode(BSTR passwd, VARIANT_BOOL* accepted) override;
  STDMETHODIMP EnumDevices(_Collection* outList, _Collection* filter, VARIANT_BOOL* listed) override;
  STDMETHODIMP ExitCalMode(VARIANT_BOOL* accepted) override;
  STDMETHODIMP OpenDev(BSTR devPath, VARIANT_BOOL* opened) override;
  STDMETHODIMP QueryDev(_Packet* pkt, VARIANT_BOOL* ok) override;
  STDMETHODIMP ReadDev(_Packet* pkt, VARIANT_BOOL* ok) override;
  STDMETHODIMP WriteDev(_Packet* pkt, VARIANT_BOOL* ok) override;

  // EnumDevices in two halves, for a caller whose own message loop keeps
  // running while the instruments are examined: `examined` runs, on another
  // thread, once the enumeration is ready to finish.
  std::unique_ptr<Enumeration> StartEnumeration(std::function<void()> examined);
  HRESULT FinishEnumeration(Enumeration& enumeration, _Collection* outList, _Collection* filter, VARIANT_BOOL* listed);

 private:
  bool Open(BSTR devPath);
  void Close() { link_.Close(); }
  ComPtr<DevInfo> CurrentInfo();

  InstrumentLink link_;  // closed with the Device, should the caller forget CloseDev
  ComPtr<DevInfo> deviceInfo_;
};

}  // namespace velcorin
