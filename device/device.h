// Device: one client's connection to one instrument.
#pragma once

#include <string>

#include "Velcorin_h.h"
#include "common/com_object.h"
#include "device/core/packet_fields.h"
#include "device/dev_info.h"
#include "device/device_handle.h"

namespace velcorin {

class Device final : public DispatchObject<_Device>, private PacketPort {
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

  // Enumeration's view of one instrument: opened, identified and closed again.
  ComPtr<_DevInfo> Identify(const std::u16string& path);

 private:
  bool Open(BSTR devPath);
  void Close() { handle_.Close(); }
  ComPtr<DevInfo> CurrentInfo();
  bool Query(PacketFields& packet) override;  // one command and its reply, as QueryDev
  bool Write(const PacketFields& packet);
  bool Read(PacketFields& packet);

  DeviceHandle handle_;  // closed with the Device, should the caller forget CloseDev
  ComPtr<DevInfo> deviceInfo_;
  ComPtr<Device> examiner_;  // EnumDevices opens instruments with it, never with this one; made when first needed
};

}  // namespace velcorin
