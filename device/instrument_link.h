// Packets over an instrument's handle: the reports every exchange with an
// instrument is made of, for a Device and for enumeration's examinations.
#pragma once

#include <optional>
#include <string_view>

#include "device/core/identity.h"
#include "wire/packet_fields.h"
#include "device/device_handle.h"

namespace velcorin {

class InstrumentLink final : public PacketPort {
 public:
  // `devPath` is a device path string: each character one byte of the system's path.
  bool Open(std::u16string_view devPath);
  void Close() { handle_.Close(); }
  bool IsOpen() const { return handle_.IsOpen(); }
  void EndTransfersOn(HANDLE abandoned, WaitForAny wait) { handle_.EndTransfersOn(abandoned, wait); }

  bool Write(const PacketFields& packet);
  bool Read(PacketFields& packet);
  bool Query(PacketFields& packet) override;  // a failed write has no reply to wait for

 private:
  DeviceHandle handle_;
};

// The identity of the instrument at a device path, opened exclusively and
// closed again however the query ends; nothing when it does not open, does not
// answer or answers malformed (such an instrument is as unusable as a silent one).
std::optional<Identity> IdentifyAt(InstrumentLink& link, std::u16string_view devPath);

}  // namespace velcorin
