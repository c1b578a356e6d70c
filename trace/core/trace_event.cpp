#include "trace/core/trace_event.h"

#include <algorithm>
#include <array>
#include <utility>

#include "wire/codes.h"
#include "wire/report.h"

namespace velcorin::trace {
namespace {

constexpr std::array<std::pair<Outcome, std::string_view>, 10> kOutcomeNames = {{
    {Outcome::None, ""},
    {Outcome::Done, "done"},
    {Outcome::Short, "short"},
    {Outcome::Failed, "failed"},
    {Outcome::TimedOut, "timed out"},
    {Outcome::Opened, "opened"},
    {Outcome::NotFound, "not found"},
    {Outcome::InUse, "in use"},
    {Outcome::DiskFile, "disk file refused"},
    {Outcome::OpenFailed, "open failed"},
}};

std::int32_t FieldAt(const std::array<std::uint8_t, kReplyReportSize>& block, std::size_t offset) {
  return LoadInt32(&block[offset]);
}

}  // namespace

std::string_view OutcomeName(Outcome outcome) {
  for (const auto& [value, name] : kOutcomeNames)
    if (value == outcome) return name;
  return "";
}

std::optional<Outcome> OutcomeNamed(std::string_view name) {
  for (const auto& [value, text] : kOutcomeNames)
    if (text == name) return value;
  return std::nullopt;
}

Outcome TransferOutcome(bool finished, bool timedOut, std::uint32_t done, std::size_t size) {
  if (!finished) return timedOut ? Outcome::TimedOut : Outcome::Failed;
  return done == size ? Outcome::Done : done > 0 ? Outcome::Short : Outcome::Failed;
}

Outcome OpenRefusal(std::uint32_t systemError) {
  switch (systemError) {
    case 2:    // file not found
    case 3:    // path not found
    case 123:  // invalid name
      return Outcome::NotFound;
    case 5:    // access denied
    case 32:   // sharing violation
    case 231:  // all pipe instances busy
      return Outcome::InUse;
    default: return Outcome::OpenFailed;
  }
}

ReportFields DecodeReport(std::span<const std::uint8_t> bytes, bool reply) {
  std::array<std::uint8_t, kReplyReportSize> block{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), reply ? kReplyReportSize : kCommandReportSize), block.begin());
  ReportFields fields;
  fields.devType = FieldAt(block, 0);
  fields.channel = FieldAt(block, 4);
  fields.opType = FieldAt(block, 8);
  fields.opCode = FieldAt(block, kOpCodeOffset);
  if (reply) fields.endCode = FieldAt(block, kEndCodeOffset);
  const auto* data = &block[reply ? kReplyDataOffset : kCommandDataOffset];
  std::size_t length = kReportDataSize;
  while (length > 0 && data[length - 1] == 0) --length;
  fields.data.assign(data, data + length);
  return fields;
}

bool IsPasswordReport(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= kOpCodeOffset + 4 && LoadInt32(&bytes[kOpCodeOffset]) == codes::CmdPasswd;
}

void MaskData(std::vector<std::uint8_t>& bytes, bool reply) {
  const std::size_t from = reply ? kReplyDataOffset : kCommandDataOffset;
  for (std::size_t i = from; i < from + kReportDataSize && i < bytes.size(); ++i) bytes[i] = 0;
}

}  // namespace velcorin::trace
