#include "device/device.h"

#include "common/error_info.h"
#include "common/scope_exit.h"
#include "device/core/calibration.h"
#include "device/core/identity.h"
#include "device/packet_conversion.h"

namespace velcorin {

namespace {

constexpr const wchar_t* kSource = L"Velcorin.Device";

std::u16string_view View(BSTR text) {
  return {reinterpret_cast<const char16_t*>(text ? text : L""), SysStringLen(text)};
}

// Runs on an examiner's thread: no object is made there, only the identity read.
ListingRecord Examine(const Examination& examination) {
  InstrumentLink link;
  link.EndTransfersOn(examination.abandoned, examination.wait);
  std::optional<Identity> identity = IdentifyAt(link, examination.path);
  if (!identity) return {};
  return [identity = std::move(*identity), path = examination.path] {
    ComPtr<DevInfo> info = MakeObject<DevInfo>();
    info->Fill(identity);
    info->SetDevicePath(Bstr(std::wstring_view(reinterpret_cast<const wchar_t*>(path.data()), path.size())).get());
    return ComPtr<_DevInfo>(info);
  };
}

VARIANT_BOOL Bool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

// Runs a member that answers with a truth value.
template <class Body>
HRESULT Answer(VARIANT_BOOL* result, Body&& body) {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  return Guard(kSource, [&] { *result = Bool(body()); });
}

}  // namespace

ComPtr<DevInfo> Device::CurrentInfo() {
  if (!deviceInfo_) deviceInfo_ = MakeObject<DevInfo>();
  return deviceInfo_;
}

STDMETHODIMP Device::get_DeviceInfo(_DevInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  return Guard(kSource, [&] { *info = CurrentInfo().Detach(); });
}

STDMETHODIMP Device::get_IsDeviceOpen(VARIANT_BOOL* open) {
  if (!open) return E_POINTER;
  *open = Bool(link_.IsOpen());
  return S_OK;
}

STDMETHODIMP Device::CloseDev() {
  Close();
  return S_OK;
}

bool Device::Open(BSTR devPath) {
  if (link_.IsOpen()) return false;
  if (!link_.Open(View(devPath))) return false;
  ScopeExit closed([this] { Close(); });  // a failed open never leaves the instrument locked
  // A fresh record before any I/O: records handed out earlier keep their contents.
  deviceInfo_ = MakeObject<DevInfo>();
  Identity identity;
  try {
    if (!QueryDeviceInfo(link_, identity)) return false;
  } catch (...) {
    deviceInfo_->Fill(identity);  // a malformed identity leaves what did arrive readable
    throw;
  }
  deviceInfo_->Fill(identity);
  deviceInfo_->SetDevicePath(devPath);
  closed.Dismiss();
  return true;
}

STDMETHODIMP Device::OpenDev(BSTR devPath, VARIANT_BOOL* opened) {
  return Answer(opened, [&] { return Open(devPath); });
}

STDMETHODIMP Device::WriteDev(_Packet* pkt, VARIANT_BOOL* ok) {
  return Answer(ok, [&] { return link_.IsOpen() && link_.Write(ReadPacket(pkt)); });
}

STDMETHODIMP Device::ReadDev(_Packet* pkt, VARIANT_BOOL* ok) {
  return Answer(ok, [&] {
    if (!link_.IsOpen()) return false;
    ComPtr<_Packet> target = AsPacket(pkt);
    PacketFields reply;
    if (!link_.Read(reply)) return false;
    StorePacket(target.Get(), reply);
    return true;
  });
}

STDMETHODIMP Device::QueryDev(_Packet* pkt, VARIANT_BOOL* ok) {
  return Answer(ok, [&] {
    if (!link_.IsOpen()) return false;
    ComPtr<_Packet> target = AsPacket(pkt);
    PacketFields packet = ReadPacket(target.Get());
    if (!link_.Query(packet)) return false;
    StorePacket(target.Get(), packet);
    return true;
  });
}

STDMETHODIMP Device::EnterCalMode(BSTR passwd, VARIANT_BOOL* accepted) {
  return Answer(accepted, [&] { return link_.IsOpen() && velcorin::EnterCalMode(link_, View(passwd)); });
}

STDMETHODIMP Device::ExitCalMode(VARIANT_BOOL* accepted) {
  return Answer(accepted, [&] { return link_.IsOpen() && velcorin::ExitCalMode(link_); });
}

// Each instrument is examined through a handle of its own, never through this
// Device, which stays as it is; a record reaches the caller's filters and list
// only after its instrument was closed again.
STDMETHODIMP Device::EnumDevices(_Collection* outList, _Collection* filter, VARIANT_BOOL* listed) {
  return Answer(listed, [&] { return EnumerateDevices(outList, filter, Examine); });
}

std::unique_ptr<Enumeration> Device::StartEnumeration(std::function<void()> examined) {
  return Enumeration::StartInBackground(Examine, std::move(examined));
}

HRESULT Device::FinishEnumeration(Enumeration& enumeration, _Collection* outList, _Collection* filter,
                                  VARIANT_BOOL* listed) {
  return Answer(listed, [&] { return enumeration.Finish(outList, filter); });
}

}  // namespace velcorin
