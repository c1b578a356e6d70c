#include "device/instrument_link.h"

#include <string>

#include "common/ansi.h"
#include "common/core/device_path.h"
#include "common/runtime_error.h"
#include "common/scope_exit.h"
#include "wire/report.h"

namespace velcorin {

bool InstrumentLink::Open(std::u16string_view devPath) {
  const std::string name = AnsiEncode(NarrowDevicePath(devPath, AnsiCodeOf));
  return handle_.Open(name.c_str());
}

bool InstrumentLink::Write(const PacketFields& packet) { return handle_.Write(BuildCommandReport(packet, AnsiCodeOf)); }

bool InstrumentLink::Read(PacketFields& packet) {
  ReplyReport reply;
  if (!handle_.Read(reply)) return false;
  ApplyReplyReport(reply, packet, AnsiDecode);
  return true;
}

bool InstrumentLink::Query(PacketFields& packet) { return Write(packet) && Read(packet); }

std::optional<Identity> IdentifyAt(InstrumentLink& link, std::u16string_view devPath) {
  if (!link.Open(devPath)) return std::nullopt;
  const ScopeExit closed([&link] { link.Close(); });
  Identity identity;
  try {
    if (!QueryDeviceInfo(link, identity)) return std::nullopt;
  } catch (const RuntimeError&) {
    return std::nullopt;
  }
  return identity;
}

}  // namespace velcorin
