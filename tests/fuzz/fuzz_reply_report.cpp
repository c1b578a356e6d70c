// A reply report of any content applies cleanly, and the fields it yields
// encode back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "wire/report.h"

using namespace velcorin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ReplyReport reply{};
  std::memcpy(reply.data(), data, size < reply.size() ? size : reply.size());
  PacketFields packet;
  ApplyReplyReport(reply, packet, Latin1DecodeBytes);
  if (packet.data.size() != kReportDataSize) std::abort();

  const CommandReport command = BuildCommandReport(packet, Latin1EncodeChar);
  const bool headMatches = std::memcmp(command.data(), reply.data(), 16) == 0;
  const bool dataMatches = std::memcmp(command.data() + 16, reply.data() + 20, kReportDataSize) == 0;
  const bool fillZero = command[33] == 0 && command[34] == 0 && command[35] == 0;
  if (!headMatches || !dataMatches || !fillZero) std::abort();
  return 0;
}
