#include "discovery/present_interfaces.h"

#include <cstddef>
#include <cstring>
#include <span>
#include <vector>

#include "common/ansi.h"
#include "common/core/device_path.h"
#include "common/defs.h"
#include "simulation/simulation.h"
#include "trace/trace.h"

namespace velcorin {

namespace {

// What the detail record's cbSize must say: the size of its fixed part as the
// platform packs it (6 on 32-bit Windows, 8 on 64-bit).
constexpr DWORD kDetailRecordSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
constexpr std::size_t kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
// The header plus at least one path character and the terminating zero; a
// smaller record could not even hold the header the read needs.
constexpr DWORD kSmallestDetailRecord = 8;

// Wine's 64-bit SetupAPI also accepts 6, so no run-time test could tell.
#if defined(_WIN64)
static_assert(kDetailRecordSize == 8, "the 64-bit platform pads the detail record to 8 bytes");
#else
static_assert(kDetailRecordSize == 6, "the 32-bit platform packs the detail record to 6 bytes");
#endif

}  // namespace

std::optional<PresentInterfaces> PresentInterfaces::List() {
  if (simulation::IsOn()) return PresentInterfaces(simulation::Instruments().PresentPaths(sim::SimClock::now()));
  GUID interfaceClass{};
  const HRESULT converted = CLSIDFromString(reinterpret_cast<LPCOLESTR>(kInterfaceClassGuid), &interfaceClass);
  if (IsNegative(converted)) return std::nullopt;
  UniqueDeviceInfoList list(
      SetupDiGetClassDevsW(&interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!list) return std::nullopt;
  return PresentInterfaces(interfaceClass, std::move(list));
}

bool PresentInterfaces::Next(std::optional<std::u16string>& path) {
  if (simulated_) return NextSimulated(path);
  SP_DEVICE_INTERFACE_DATA interfaceData{};
  interfaceData.cbSize = sizeof(interfaceData);
  // The end of the list and any other failure both end the walk.
  if (!SetupDiEnumDeviceInterfaces(list_.get(), nullptr, &class_, index_, &interfaceData)) return false;
  path = PathOf(interfaceData);
  if (trace::IsOn())
    trace::RecordWalk(static_cast<std::int32_t>(index_), path ? AnsiEncode(NarrowDevicePath(*path, AnsiCodeOf)) : "");
  ++index_;
  return true;
}

bool PresentInterfaces::NextSimulated(std::optional<std::u16string>& path) {
  if (index_ >= simulated_->size()) return false;
  const std::string& plain = (*simulated_)[index_];
  path = simulation::DevicePathString(plain);
  if (trace::IsOn()) trace::RecordWalk(static_cast<std::int32_t>(index_), plain);
  ++index_;
  return true;
}

std::optional<std::u16string> PresentInterfaces::PathOf(SP_DEVICE_INTERFACE_DATA& interfaceData) const {
  DWORD required = 0;
  const BOOL sized = SetupDiGetDeviceInterfaceDetailW(list_.get(), &interfaceData, nullptr, 0, &required, nullptr);
  if (sized || GetLastError() != ERROR_INSUFFICIENT_BUFFER || required < kSmallestDetailRecord) return std::nullopt;

  // One zero byte beyond the record, which the path string keeps.
  std::vector<std::uint8_t> record(std::size_t{required} + 1, 0);
  std::memcpy(record.data(), &kDetailRecordSize, sizeof(kDetailRecordSize));
  DWORD ignored = 0;
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(record.data());
  if (!SetupDiGetDeviceInterfaceDetailW(list_.get(), &interfaceData, detail, required, &ignored, nullptr))
    return std::nullopt;
  return WidenDevicePath(std::span(record).subspan(kPathOffset), AnsiDecodeByte);
}

}  // namespace velcorin
