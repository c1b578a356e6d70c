#include "wire/report.h"

#include "common/defs.h"
#include "common/runtime_error.h"

namespace velcorin {
namespace {

std::uint8_t SingleByteCode(char16_t unit, const AnsiEncoder& encode) {
  const int code = encode(unit);
  if (code < 0 || code > 0xFF) Raise(kErrOverflow);
  return static_cast<std::uint8_t>(code);
}

}  // namespace

CommandReport BuildCommandReport(const PacketFields& packet, const AnsiEncoder& encode) {
  CommandReport report{};
  StoreInt32(&report[0], packet.devType);
  StoreInt32(&report[4], packet.channel);
  StoreInt32(&report[8], packet.opType);
  StoreInt32(&report[12], packet.opCode);
  const std::size_t count = MinOf(kReportDataSize, packet.data.size());
  for (std::size_t i = 0; i < count; ++i) {
    report[kCommandDataOffset + i] = SingleByteCode(packet.data[i], encode);
  }
  return report;
}

void ApplyReplyReport(const ReplyReport& reply, PacketFields& packet, const AnsiDecoder& decode) {
  // Decode first so that a throwing decoder cannot leave a half-applied packet.
  std::u16string data = decode(std::span<const std::uint8_t>(&reply[kReplyDataOffset], kReportDataSize));
  packet.devType = LoadInt32(&reply[0]);
  packet.channel = LoadInt32(&reply[4]);
  packet.opType = LoadInt32(&reply[8]);
  packet.opCode = LoadInt32(&reply[kOpCodeOffset]);
  packet.endCode = LoadInt32(&reply[kEndCodeOffset]);
  packet.data = std::move(data);
}

void StoreInt32(std::uint8_t* at, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

std::int32_t LoadInt32(const std::uint8_t* at) {
  std::uint32_t bits = 0;
  for (int i = 0; i < 4; ++i) bits |= static_cast<std::uint32_t>(at[i]) << (8 * i);
  return static_cast<std::int32_t>(bits);
}

int Latin1EncodeChar(char16_t unit) { return unit <= 0xFF ? static_cast<int>(unit) : '?'; }

std::u16string Latin1DecodeBytes(std::span<const std::uint8_t> bytes) {
  return std::u16string(bytes.begin(), bytes.end());
}

char16_t Latin1DecodeByte(std::uint8_t byte) { return static_cast<char16_t>(byte); }

}  // namespace velcorin
