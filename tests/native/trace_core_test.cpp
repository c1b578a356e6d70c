// The trace's line form, its masking and limit, and a trace read back as instruments.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "simulation/core/replay_book.h"
#include "trace/core/shared_turn.h"
#include "trace/core/trace_line.h"
#include "trace/core/trace_settings.h"
#include "wire/codes.h"
#include "wire/report.h"

namespace velcorin::trace {
namespace {

std::vector<std::uint8_t> Command(std::int32_t opType, std::int32_t opCode, std::string data = "",
                                  std::int32_t channel = 0) {
  std::vector<std::uint8_t> bytes(kCommandReportSize, 0);
  const std::int32_t fields[] = {0, channel, opType, opCode};
  for (int f = 0; f < 4; ++f)
    for (int i = 0; i < 4; ++i)
      bytes[f * 4 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(fields[f]) >> (8 * i));
  std::copy(data.begin(), data.end(), bytes.begin() + kCommandDataOffset);
  return bytes;
}

// The simulator's way of answering: the header echoed, an end code, a text.
std::vector<std::uint8_t> Reply(const std::vector<std::uint8_t>& command, std::int32_t endCode, std::string data) {
  std::vector<std::uint8_t> bytes(kReplyReportSize, 0);
  std::copy_n(command.begin(), 16, bytes.begin());
  bytes[kEndCodeOffset] = static_cast<std::uint8_t>(endCode);
  std::copy(data.begin(), data.end(), bytes.begin() + kReplyDataOffset);
  return bytes;
}

TraceEvent Transfer(EventKind kind, std::uint32_t handle, std::vector<std::uint8_t> bytes,
                    Outcome outcome = Outcome::Done) {
  TraceEvent e;
  e.kind = kind;
  e.pid = 7;
  e.handle = handle;
  e.outcome = outcome;
  e.count = static_cast<std::uint32_t>(bytes.size());
  e.bytes = std::move(bytes);
  return e;
}

TraceEvent Opened(std::uint32_t handle, std::string path) {
  TraceEvent e;
  e.kind = EventKind::Open;
  e.pid = 7;
  e.handle = handle;
  e.outcome = Outcome::Opened;
  e.path = std::move(path);
  return e;
}

TEST(TraceLine, EveryKindOfEventReadsBackAsWritten) {
  TraceEvent walk;
  walk.kind = EventKind::Walk;
  walk.index = 2;
  walk.path = "\\\\?\\usb#vid_6a5b&pid_3001#\"q\"\xE9#{guid}";
  TraceEvent refused = Opened(4, "C:\\x.txt");
  refused.outcome = Outcome::DiskFile;
  refused.error = 0;
  TraceEvent busy = Opened(5, "\\\\?\\a#b#{g}");
  busy.outcome = Outcome::InUse;
  busy.error = 231;
  TraceEvent late = Transfer(EventKind::Read, 3, {}, Outcome::TimedOut);
  late.micros = 1000123;
  TraceEvent shortReply = Transfer(EventKind::Read, 3, {1, 2, 3}, Outcome::Short);
  shortReply.simulated = true;
  TraceEvent close;
  close.kind = EventKind::Close;
  close.handle = 3;
  const std::vector<TraceEvent> events = {walk, refused,    busy,  Transfer(EventKind::Write, 3, Command(1, 1)),
                                          late, shortReply, close, LimitEvent(100)};
  std::string text;
  for (TraceEvent e : events) {
    e.time = 1796716818123456;
    e.tid = 99;
    text += FormatLine(e);
  }
  text += "{\"t\":1,\"ev\":\"wri\n";  // torn by a crash: skipped, not fatal
  std::size_t skipped = 0;
  const auto back = ParseTrace(text, &skipped);
  EXPECT_EQ(skipped, 1u);
  ASSERT_EQ(back.size(), events.size());
  for (std::size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(back[i].kind, events[i].kind);
    EXPECT_EQ(back[i].time, 1796716818123456);
    EXPECT_EQ(back[i].pid, events[i].pid);
    EXPECT_EQ(back[i].tid, 99u);
    EXPECT_EQ(back[i].handle, events[i].handle);
    EXPECT_EQ(back[i].outcome, events[i].outcome);
    EXPECT_EQ(back[i].error, events[i].error);
    EXPECT_EQ(back[i].path, events[i].path);
    EXPECT_EQ(back[i].bytes, events[i].bytes);
    EXPECT_EQ(back[i].micros, events[i].micros);
    EXPECT_EQ(back[i].limitMb, events[i].limitMb);
    EXPECT_EQ(back[i].simulated, events[i].simulated);
  }
  // One line each, and plain ASCII whatever the path holds.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), static_cast<long>(events.size() + 1));
  EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](char c) { return c > 0; }));
}

TEST(TraceLine, APasswordNeverReachesTheLine) {
  TraceEvent write = Transfer(EventKind::Write, 1, Command(codes::TypeWrite, codes::CmdPasswd, "factory"));
  write.masked = IsPasswordReport(write.bytes);
  MaskData(write.bytes, false);
  const std::string line = FormatLine(write);
  EXPECT_EQ(line.find("factory"), std::string::npos);
  EXPECT_EQ(line.find("666163746F7279"), std::string::npos);  // nor its hex
  EXPECT_NE(line.find("\"Data\":\"(withheld)\""), std::string::npos) << line;
  const auto back = ParseLine(line);
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->masked);
  EXPECT_EQ(HexOf(back->bytes, true, false).substr(32, 34), std::string(34, '*'));
  EXPECT_FALSE(IsPasswordReport(Command(codes::TypeWrite, codes::CmdRevert)));
}

TEST(TraceSettings, FileNameLimitAndBudget) {
  EXPECT_EQ(ExpandFileName(u"C:\\t\\{pid}-{pid}.jsonl", 412), u"C:\\t\\412-412.jsonl");
  EXPECT_EQ(ExpandFileName(u"{pi}d}", 1), u"{pi}d}");
  EXPECT_EQ(LimitMbFrom(std::nullopt), kDefaultLimitMb);
  EXPECT_EQ(LimitMbFrom(0), kDefaultLimitMb);
  EXPECT_EQ(LimitMbFrom(5), 5u);
  EXPECT_EQ(LimitMbFrom(1ull << 40), kDefaultLimitMb);

  // Line after line into 1 MB: the limit line still fits when the budget says stop.
  const SizeBudget budget(1);
  const std::string limitLine = FormatLine([] {
    TraceEvent e = LimitEvent(4294967295u);
    e.time = INT64_MAX, e.pid = e.tid = 4294967295u;
    return e;
  }());
  std::uint64_t size = 0;
  const std::size_t lineSize = 300;
  while (budget.Judge(size, lineSize) == SizeBudget::Verdict::Write) size += lineSize;
  EXPECT_LE(size + limitLine.size(), 1024u * 1024u);
  EXPECT_GT(size + lineSize + limitLine.size(), 1024u * 1024u - lineSize - 256);
}

// Takers of one word, each as its own process would be: whoever is inside, alone.
class Turns {
 public:
  explicit Turns(SharedTurn::Clock::duration patience) : patience_(patience) {}
  SharedTurn Taker(std::uint32_t self) { return SharedTurn(word_, self, patience_); }
  std::uint32_t Holder() const { return static_cast<std::uint32_t>(word_); }
  // Counts an overlap when another taker is inside too.
  void Inside(std::chrono::microseconds stay = {}) {
    if (inside_.fetch_add(1) != 0) ++overlaps_;
    std::this_thread::sleep_for(stay);
    inside_.fetch_sub(1);
  }
  int Overlaps() const { return overlaps_; }

 private:
  alignas(8) std::uint64_t word_ = 0;
  SharedTurn::Clock::duration patience_;
  std::atomic<int> inside_{0}, overlaps_{0};
};

TEST(SharedTurn, OneTakerAtATime) {
  Turns turns(std::chrono::seconds(10));
  constexpr int kTakers = 4, kTurnsEach = 20000;
  std::vector<std::thread> takers;
  for (std::uint32_t self = 1; self <= kTakers; ++self) {
    takers.emplace_back([&turns, self] {
      SharedTurn turn = turns.Taker(self);
      for (int i = 0; i < kTurnsEach; ++i) {
        const std::lock_guard held(turn);
        turns.Inside();
      }
    });
  }
  for (auto& taker : takers) taker.join();
  EXPECT_EQ(turns.Overlaps(), 0);
  EXPECT_EQ(turns.Holder(), 0u);
}

// A holder that takes turn after turn for longer than the patience keeps them
// all; one that stays in a single turn that long loses it, and its late
// unlock leaves the new holder's turn alone.
TEST(SharedTurn, OnlyATurnHeldPastPatienceIsTakenOver) {
  // Far longer than a short turn takes on a loaded machine.
  const auto patience = std::chrono::milliseconds(250);
  Turns turns(patience);
  std::thread busyHolder([&] {
    SharedTurn turn = turns.Taker(1);
    for (const auto start = SharedTurn::Clock::now(); SharedTurn::Clock::now() - start < 4 * patience;) {
      const std::lock_guard held(turn);
      turns.Inside(std::chrono::microseconds(200));
    }
  });
  while (turns.Holder() != 1) std::this_thread::yield();
  SharedTurn waiter = turns.Taker(2);
  waiter.lock();
  turns.Inside();
  waiter.unlock();
  busyHolder.join();
  EXPECT_EQ(turns.Overlaps(), 0);

  SharedTurn dead = turns.Taker(3), next = turns.Taker(4);
  dead.lock();
  const auto start = SharedTurn::Clock::now();
  next.lock();
  EXPECT_GE(SharedTurn::Clock::now() - start, patience);
  dead.unlock();
  EXPECT_EQ(turns.Holder(), 4u);
  next.unlock();
  EXPECT_EQ(turns.Holder(), 0u);
}

TEST(ReplayBook, RepliesInRecordedOrderThenTheLastAgain) {
  const auto model = Command(1, codes::CmdModel), serial = Command(1, codes::CmdSerial);
  const auto password = Command(codes::TypeWrite, codes::CmdPasswd, "factory");
  const auto refused = Command(1, 42);
  std::vector<TraceEvent> events;
  TraceEvent walk;
  walk.kind = EventKind::Walk;
  walk.path = "\\\\?\\usb#vid_6a5b&pid_3001#sn#{g}";
  events.push_back(walk);
  events.push_back(Opened(1, walk.path));
  const auto exchange = [&](const std::vector<std::uint8_t>& command, TraceEvent read) {
    TraceEvent write = Transfer(EventKind::Write, 1, command);
    write.masked = IsPasswordReport(command);
    if (write.masked) MaskData(write.bytes, false);
    events.push_back(write);
    events.push_back(read);
  };
  exchange(model, Transfer(EventKind::Read, 1, Reply(model, 0, "first")));
  exchange(serial, Transfer(EventKind::Read, 1, Reply(serial, 0, "SN 7/a ")));
  exchange(model, Transfer(EventKind::Read, 1, {}, Outcome::TimedOut));
  exchange(model, Transfer(EventKind::Read, 1, Reply(model, 0, "third")));
  exchange(password, Transfer(EventKind::Read, 1, Reply(password, 0, "")));
  exchange(refused, Transfer(EventKind::Read, 1, {}, Outcome::Failed));
  events.push_back(Transfer(EventKind::Write, 1, Command(1, 43)));     // no read followed
  events.push_back(Opened(2, "\\\\?\\USB#VID_6A5B&PID_3001#SN#{G}"));  // the same instrument, another case

  auto instruments = sim::ReplayInstruments(events);
  ASSERT_EQ(instruments.size(), 1u);
  EXPECT_EQ(instruments[0].serial, "SN7_a");
  sim::InstrumentScript& script = instruments[0].script;
  const auto answer = [&](const std::vector<std::uint8_t>& command) -> std::string {
    const auto reply = script.Answer(command);
    if (!reply) return "unrecorded";
    if (reply->kind == sim::RecordedReply::Kind::None) return "none";
    if (reply->kind == sim::RecordedReply::Kind::Empty) return "empty";
    return DecodeReport(reply->bytes, true).data;
  };
  EXPECT_EQ(answer(model), "first");
  EXPECT_EQ(answer(model), "none");
  EXPECT_EQ(answer(model), "third");
  EXPECT_EQ(answer(model), "third");
  EXPECT_EQ(answer(Command(codes::TypeWrite, codes::CmdPasswd, "anything")), "");  // accepted as recorded
  EXPECT_EQ(answer(refused), "empty");
  EXPECT_EQ(answer(Command(1, 43)), "none");
  EXPECT_EQ(answer(Command(1, codes::CmdFwVer)), "unrecorded");
}

}  // namespace
}  // namespace velcorin::trace
