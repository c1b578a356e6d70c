#include "simulation/core/instrument_set.h"

#include <algorithm>

#include "simulation/core/naming.h"
#include "simulation/core/replay.h"

namespace velcorin::sim {

std::vector<InstrumentConfig> ReadInstruments(std::string_view fileText) {
  const auto first = fileText.find_first_not_of(" \t\r\n");
  if (first != std::string_view::npos && fileText[first] == '{') return ReplayConfigs(fileText);
  return ParseConfig(fileText);
}

struct InstrumentSet::Instrument {
  struct Message {
    SimClock::time_point ready;
    std::vector<std::uint8_t> bytes;
    std::size_t taken = 0;
  };

  explicit Instrument(const InstrumentConfig& config) : responder(config), path(ToLowerAscii(DevicePath(config))) {}

  bool PresentAt(SimClock::time_point now) const { return !unpluggedAt || *unpluggedAt > now; }

  Responder responder;
  std::string path;
  std::uint64_t session = 0;
  // When it answers its next request: after the replies before it, as one thread serving a pipe does.
  SimClock::time_point idleFrom{};
  std::optional<SimClock::time_point> unpluggedAt;
  std::deque<Message> replies;
};

InstrumentSet::InstrumentSet(std::vector<InstrumentConfig> configs) : configs_(std::move(configs)) {
  for (const InstrumentConfig& config : configs_) instruments_.push_back(std::make_unique<Instrument>(config));
  // In the order Wine's device list gives interfaces: by path.
  std::stable_sort(instruments_.begin(), instruments_.end(),
                   [](const auto& a, const auto& b) { return a->path < b->path; });
}

InstrumentSet::~InstrumentSet() = default;

std::vector<std::string> InstrumentSet::PresentPaths(SimClock::time_point now) {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> paths;
  for (const auto& instrument : instruments_)
    if (instrument->PresentAt(now)) paths.push_back(DevicePath(instrument->responder.Config()));
  return paths;
}

std::uint32_t InstrumentSet::Open(std::string_view path, SimClock::time_point now, std::uint64_t& session) {
  const std::lock_guard lock(mutex_);
  const std::string wanted = ToLowerAscii(std::string(path));
  for (const auto& instrument : instruments_) {
    if (instrument->path != wanted || !instrument->PresentAt(now)) continue;
    if (instrument->session != 0) return kBusyError;
    instrument->session = session = ++lastSession_;
    instrument->responder.StartConnection();
    instrument->idleFrom = now;
    instrument->replies.clear();
    return 0;
  }
  return kNotFoundError;
}

// What the client did not read goes with it.
void InstrumentSet::Close(std::uint64_t session) {
  const std::lock_guard lock(mutex_);
  if (Instrument* instrument = Session(session)) {
    instrument->session = 0;
    instrument->replies.clear();
  }
}

InstrumentSet::Instrument* InstrumentSet::Session(std::uint64_t session) {
  for (const auto& instrument : instruments_)
    if (session != 0 && instrument->session == session) return instrument.get();
  return nullptr;
}

std::uint32_t InstrumentSet::Write(std::uint64_t session, std::span<const std::uint8_t> request,
                                   SimClock::time_point now) {
  const std::lock_guard lock(mutex_);
  Instrument* instrument = Session(session);
  if (!instrument || !instrument->PresentAt(now)) return kNoDataError;
  Serve(*instrument, request, now);
  return 0;
}

// One that has unplugged itself, or is about to, answers nothing more.
void InstrumentSet::Serve(Instrument& instrument, std::span<const std::uint8_t> request, SimClock::time_point now) {
  if (instrument.unpluggedAt) return;
  const SimClock::time_point start = std::max(now, instrument.idleFrom);
  Reply reply = instrument.responder.Answer(request);
  if (reply.kind == ReplyKind::Unplug) {
    instrument.unpluggedAt = start;
    return;
  }
  instrument.idleFrom = start + std::chrono::milliseconds(reply.delayMs);
  if (reply.kind == ReplyKind::None) return;
  if (reply.kind == ReplyKind::Empty) reply.bytes.clear();
  instrument.replies.push_back({instrument.idleFrom, std::move(reply.bytes)});
}

ReadOutcome InstrumentSet::Read(std::uint64_t session, std::span<std::uint8_t> buffer, SimClock::time_point now) {
  const std::lock_guard lock(mutex_);
  Instrument* instrument = Session(session);
  if (!instrument || !instrument->PresentAt(now)) return {0, kBrokenError, std::nullopt};
  auto& replies = instrument->replies;
  if (!replies.empty() && replies.front().ready <= now) {
    // An empty reply ends a read by itself; other replies run together.
    if (replies.front().bytes.empty()) {
      replies.pop_front();
      return {0, 0, std::nullopt};
    }
    std::size_t done = 0;
    while (done < buffer.size() && !replies.empty() && replies.front().ready <= now && !replies.front().bytes.empty()) {
      auto& message = replies.front();
      const std::size_t part = std::min(buffer.size() - done, message.bytes.size() - message.taken);
      std::copy_n(message.bytes.begin() + static_cast<std::ptrdiff_t>(message.taken), part,
                  buffer.subspan(done).begin());
      message.taken += part;
      done += part;
      if (message.taken == message.bytes.size()) replies.pop_front();
    }
    return {done, 0, std::nullopt};
  }
  SimClock::time_point next = SimClock::time_point::max();
  if (!instrument->replies.empty()) next = instrument->replies.front().ready;
  if (instrument->unpluggedAt) next = std::min(next, *instrument->unpluggedAt);
  return {0, 0, next};
}

}  // namespace velcorin::sim
