#include "device/device.h"

#include "common/ansi.h"
#include "common/core/device_path.h"
#include "common/error_info.h"
#include "common/scope_exit.h"
#include "device/core/calibration.h"
#include "device/core/identity.h"
#include "device/packet_conversion.h"
#include "discovery/enum_devices.h"

namespace velcorin {

namespace {

constexpr const wchar_t* kSource = L"Velcorin.Device";

std::u16string_view View(BSTR text) {
  return {reinterpret_cast<const char16_t*>(text ? text : L""), SysStringLen(text)};
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
  *open = Bool(handle_.IsOpen());
  return S_OK;
}

STDMETHODIMP Device::CloseDev() {
  Close();
  return S_OK;
}

bool Device::Open(BSTR devPath) {
  if (handle_.IsOpen()) return false;
  const std::string name = AnsiEncode(NarrowDevicePath(View(devPath), AnsiCodeOf));
  if (!handle_.Open(name.c_str())) return false;
  ScopeExit closed([this] { Close(); });  // a failed open never leaves the instrument locked
  // A fresh record before any I/O: records handed out earlier keep their contents.
  deviceInfo_ = MakeObject<DevInfo>();
  Identity identity;
  try {
    if (!QueryDeviceInfo(*this, identity)) return false;
  } catch (...) {
    deviceInfo_->Fill(identity);  // a malformed identity leaves what did arrive readable
    throw;
  }
  deviceInfo_->Fill(identity);
  deviceInfo_->SetDevicePath(devPath);
  closed.Dismiss();
  return true;
}

// An instrument whose identity is malformed is as unusable as a silent one.
ComPtr<_DevInfo> Device::Identify(const std::u16string& path) {
  const ScopeExit closed([this] { Close(); });
  const Bstr devPath(std::wstring_view(reinterpret_cast<const wchar_t*>(path.data()), path.size()));
  try {
    if (!Open(devPath.get())) return nullptr;
  } catch (const RuntimeError&) {
    return nullptr;
  }
  return CurrentInfo();
}

STDMETHODIMP Device::OpenDev(BSTR devPath, VARIANT_BOOL* opened) {
  return Answer(opened, [&] { return Open(devPath); });
}

bool Device::Write(const PacketFields& packet) {
  return handle_.Write(BuildCommandReport(packet, AnsiCodeOf));
}

bool Device::Read(PacketFields& packet) {
  ReplyReport reply;
  if (!handle_.Read(reply)) return false;
  ApplyReplyReport(reply, packet, AnsiDecode);
  return true;
}

// A failed write has no reply to wait for.
bool Device::Query(PacketFields& packet) { return Write(packet) && Read(packet); }

STDMETHODIMP Device::WriteDev(_Packet* pkt, VARIANT_BOOL* ok) {
  return Answer(ok, [&] { return handle_.IsOpen() && Write(ReadPacket(pkt)); });
}

STDMETHODIMP Device::ReadDev(_Packet* pkt, VARIANT_BOOL* ok) {
  return Answer(ok, [&] {
    if (!handle_.IsOpen()) return false;
    ComPtr<_Packet> target = AsPacket(pkt);
    PacketFields reply;
    if (!Read(reply)) return false;
    StorePacket(target.Get(), reply);
    return true;
  });
}

STDMETHODIMP Device::QueryDev(_Packet* pkt, VARIANT_BOOL* ok) {
  return Answer(ok, [&] {
    if (!handle_.IsOpen()) return false;
    ComPtr<_Packet> target = AsPacket(pkt);
    PacketFields packet = ReadPacket(target.Get());
    if (!Query(packet)) return false;
    StorePacket(target.Get(), packet);
    return true;
  });
}

STDMETHODIMP Device::EnterCalMode(BSTR passwd, VARIANT_BOOL* accepted) {
  return Answer(accepted, [&] { return handle_.IsOpen() && velcorin::EnterCalMode(*this, View(passwd)); });
}

STDMETHODIMP Device::ExitCalMode(VARIANT_BOOL* accepted) {
  return Answer(accepted, [&] { return handle_.IsOpen() && velcorin::ExitCalMode(*this); });
}

STDMETHODIMP Device::EnumDevices(_Collection* outList, _Collection* filter, VARIANT_BOOL* listed) {
  // The examiner is closed again before the caller's filters and list see the
  // instrument, so an enumeration started from inside them can share it.
  const auto identify = [this](const std::u16string& path) {
    if (!examiner_) examiner_ = MakeObject<Device>();
    return examiner_->Identify(path);
  };
  return Answer(listed, [&] { return EnumerateDevices(outList, filter, identify); });
}

}  // namespace velcorin
