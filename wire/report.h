// The raw blocks exchanged with an instrument: a 36-byte command report and a
// 40-byte reply report. Code-page conversion is injected so that this stays
// portable; the Windows build passes the process's ANSI code page.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "common/core/ansi_codec.h"
#include "wire/packet_fields.h"

namespace velcorin {

inline constexpr std::size_t kCommandReportSize = 36;
inline constexpr std::size_t kReplyReportSize = 40;
inline constexpr std::size_t kReportDataSize = 17;
// Both reports start DevType, Channel, OpType, OpCode at 0, 4, 8, 12; the reply
// then has EndCode, which moves its Data field 4 bytes on.
inline constexpr std::size_t kOpCodeOffset = 12;
inline constexpr std::size_t kEndCodeOffset = 16;
inline constexpr std::size_t kCommandDataOffset = 16;
inline constexpr std::size_t kReplyDataOffset = 20;

using CommandReport = std::array<std::uint8_t, kCommandReportSize>;
using ReplyReport = std::array<std::uint8_t, kReplyReportSize>;

// Throws RuntimeError 6 if one of the first 17 data characters does not fit
// in one byte.
CommandReport BuildCommandReport(const PacketFields& packet, const AnsiEncoder& encode);

// Overwrites all six fields; data always gets the whole 17-byte field.
void ApplyReplyReport(const ReplyReport& reply, PacketFields& packet, const AnsiDecoder& decode);

// A 32-bit little-endian field of either report.
std::int32_t LoadInt32(const std::uint8_t* at);
void StoreInt32(std::uint8_t* at, std::int32_t value);

// Stand-ins for a Latin-1 (ISO 8859-1) ANSI code page, for native builds and
// tests. Characters above U+00FF become '?', as the platform's default char.
int Latin1EncodeChar(char16_t unit);
std::u16string Latin1DecodeBytes(std::span<const std::uint8_t> bytes);
char16_t Latin1DecodeByte(std::uint8_t byte);

}  // namespace velcorin
