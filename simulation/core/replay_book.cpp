#include "simulation/core/replay_book.h"

#include <algorithm>
#include <utility>

#include "wire/codes.h"
#include "wire/report.h"
#include "trace/core/trace_line.h"

namespace velcorin::sim {

using namespace trace;
namespace {

constexpr std::size_t kMaxSerialLength = 64;

using OpeningId = std::pair<std::uint32_t, std::uint32_t>;  // process, handle

RecordedReply ReplyOf(const TraceEvent& read) {
  switch (read.outcome) {
    case Outcome::Done:
    case Outcome::Short: return {RecordedReply::Kind::Report, read.bytes};
    case Outcome::Failed: return {RecordedReply::Kind::Empty, {}};
    default: return {};
  }
}

bool IsSerialQuery(const ReportFields& command) {
  return command.opType == codes::TypeRead && command.opCode == codes::CmdSerial && command.channel == 0;
}

bool IsNameChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '-' || c == '.';
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return text;
}

// What the instrument calls itself, made fit to name it in commands and pipes.
std::string SerialFrom(const std::string& data) {
  std::string serial;
  for (char c : data)
    if (c != ' ' && c != '\0') serial += IsNameChar(c) ? c : '_';
  return serial.substr(0, kMaxSerialLength);
}

class Builder {
 public:
  explicit Builder(std::vector<ReplayInstrument>& instruments) : instruments_(instruments) {}

  void Take(const TraceEvent& event) {
    const OpeningId opening{event.pid, event.handle};
    switch (event.kind) {
      case EventKind::Walk: InstrumentAt(event.path); break;
      case EventKind::Open: {
        const auto index = InstrumentAt(event.path);
        if (index && event.outcome == Outcome::Opened) openings_[opening] = {*index, std::nullopt};
        break;
      }
      case EventKind::Write:
        if (auto* open = Find(opening)) {
          Flush(*open);
          open->pendingWrite = event;
        }
        break;
      case EventKind::Read:
        if (auto* open = Find(opening); open && open->pendingWrite) {
          Pair(*open, ReplyOf(event), event);
          open->pendingWrite.reset();
        }
        break;
      case EventKind::Close:
        if (auto* open = Find(opening)) Flush(*open);
        openings_.erase(opening);
        break;
      case EventKind::Limit: break;
    }
  }

  void Finish() {
    for (auto& [id, open] : openings_) Flush(open);
    NameInstruments();
  }

 private:
  struct Opening {
    std::size_t instrument;
    std::optional<TraceEvent> pendingWrite;
  };

  std::optional<std::size_t> InstrumentAt(const std::string& path) {
    if (path.empty()) return std::nullopt;
    const std::string key = Lower(path);
    for (std::size_t i = 0; i < instruments_.size(); ++i)
      if (Lower(instruments_[i].path) == key) return i;
    instruments_.push_back({path, "", {}});
    return instruments_.size() - 1;
  }

  Opening* Find(const OpeningId& id) {
    const auto found = openings_.find(id);
    return found == openings_.end() ? nullptr : &found->second;
  }

  void Pair(Opening& open, RecordedReply reply, const TraceEvent& read) {
    const TraceEvent& write = *open.pendingWrite;
    ReplayInstrument& instrument = instruments_[open.instrument];
    const ReportFields command = DecodeReport(write.bytes, false);
    if (instrument.serial.empty() && IsSerialQuery(command) && reply.kind == RecordedReply::Kind::Report)
      instrument.serial = SerialFrom(DecodeReport(read.bytes, true).data);
    instrument.script.Record(CommandKey(write.bytes), std::move(reply));
  }

  // A command that no read followed got no reply.
  void Flush(Opening& open) {
    if (!open.pendingWrite) return;
    instruments_[open.instrument].script.Record(CommandKey(open.pendingWrite->bytes), {});
    open.pendingWrite.reset();
  }

  void NameInstruments() {
    std::vector<std::string> taken;
    for (std::size_t i = 0; i < instruments_.size(); ++i) {
      std::string& serial = instruments_[i].serial;
      if (serial.empty()) serial = "REPLAY" + std::to_string(i + 1);
      const std::string base = serial;
      for (int n = 2; std::find(taken.begin(), taken.end(), Lower(serial)) != taken.end(); ++n)
        serial = base.substr(0, kMaxSerialLength - 8) + "-" + std::to_string(n);
      taken.push_back(Lower(serial));
    }
  }

  std::vector<ReplayInstrument>& instruments_;
  std::map<OpeningId, Opening> openings_;
};

}  // namespace

std::string CommandKey(std::span<const std::uint8_t> command) {
  const std::span<const std::uint8_t> sent = command.first(std::min(command.size(), kCommandReportSize));
  std::vector<std::uint8_t> bytes(sent.begin(), sent.end());
  bytes.resize(kCommandReportSize, 0);
  const bool secret = IsPasswordReport(bytes);
  if (secret) MaskData(bytes, false);
  return HexOf(bytes, secret, false);
}

void InstrumentScript::Record(const std::string& key, RecordedReply reply) {
  entries_[key].replies.push_back(std::move(reply));
}

std::optional<RecordedReply> InstrumentScript::Answer(std::span<const std::uint8_t> request) {
  const auto found = entries_.find(CommandKey(request));
  if (found == entries_.end()) return std::nullopt;
  Entry& entry = found->second;
  const std::size_t n = std::min(entry.served++, entry.replies.size() - 1);
  return entry.replies[n];
}

std::vector<ReplayInstrument> ReplayInstruments(const std::vector<TraceEvent>& events) {
  std::vector<ReplayInstrument> instruments;
  Builder builder(instruments);
  for (const TraceEvent& event : events) builder.Take(event);
  builder.Finish();
  return instruments;
}

}  // namespace velcorin::sim
