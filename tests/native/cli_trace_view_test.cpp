// `velcorin trace show`: a trace with time-outs and failures as people read it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/core/arguments.h"
#include "cli/core/trace_view.h"
#include "wire/codes.h"
#include "wire/report.h"
#include "trace/core/trace_line.h"

namespace velcorin::cli {
namespace {

using trace::EventKind;
using trace::Outcome;
using trace::TraceEvent;

constexpr std::int64_t k074018 = 1796715618000000;  // 2026-12-08 07:40:18 UTC
const std::string kPath = "\\\\?\\usb#vid_6a5b&pid_3001#demo3001#{f27100c7}";

std::vector<std::uint8_t> Command(std::int32_t opType, std::int32_t opCode, std::int32_t channel = 0) {
  std::vector<std::uint8_t> bytes(kCommandReportSize, 0);
  bytes[4] = static_cast<std::uint8_t>(channel);
  bytes[8] = static_cast<std::uint8_t>(opType);
  bytes[kOpCodeOffset] = static_cast<std::uint8_t>(opCode);
  return bytes;
}

std::vector<std::uint8_t> Reply(std::int32_t opCode, std::int32_t endCode, std::string text) {
  std::vector<std::uint8_t> bytes(kReplyReportSize, 0);
  bytes[8] = 1;
  bytes[kOpCodeOffset] = static_cast<std::uint8_t>(opCode);
  bytes[kEndCodeOffset] = static_cast<std::uint8_t>(endCode);
  text.resize(kReportDataSize, ' ');
  std::copy(text.begin(), text.end(), bytes.begin() + kReplyDataOffset);
  return bytes;
}

// Events one millisecond apart, written and read back as a file would be.
class TraceText {
 public:
  TraceEvent& Add(EventKind kind, std::uint32_t handle, Outcome outcome = Outcome::None) {
    TraceEvent& e = events_.emplace_back();
    e.kind = kind;
    e.time = k074018 + 1000 * static_cast<std::int64_t>(events_.size());
    e.pid = 7, e.tid = 8, e.handle = handle, e.outcome = outcome;
    return e;
  }
  TraceEvent& Transfer(EventKind kind, Outcome outcome, std::vector<std::uint8_t> bytes, std::int64_t micros) {
    TraceEvent& e = Add(kind, 1, outcome);
    e.count = static_cast<std::uint32_t>(bytes.size());
    e.bytes = std::move(bytes);
    e.micros = micros;
    return e;
  }
  std::vector<TraceEvent> Read() const {
    std::string text;
    for (const auto& e : events_) text += trace::FormatLine(e);
    return trace::ParseTrace(text);
  }

 private:
  std::vector<TraceEvent> events_;
};

std::vector<TraceEvent> TroubledTrace() {
  using namespace codes;
  TraceText t;
  t.Add(EventKind::Walk, 0).path = kPath;
  TraceEvent& open = t.Add(EventKind::Open, 1, Outcome::Opened);
  open.path = kPath, open.micros = 120;
  t.Transfer(EventKind::Write, Outcome::Done, Command(TypeRead, CmdSerial), 40);
  t.Transfer(EventKind::Read, Outcome::Done, Reply(CmdSerial, ErrOk, "DEMO3001"), 210);
  t.Transfer(EventKind::Write, Outcome::Done, Command(TypeRead, CmdModel), 40);
  t.Transfer(EventKind::Read, Outcome::TimedOut, {}, 1000000);
  t.Transfer(EventKind::Write, Outcome::Done, Command(TypeRead, CmdFwVer), 40);
  t.Transfer(EventKind::Read, Outcome::Done, Reply(CmdModel, ErrOk, "LDI-3001"), 60);  // the late one
  TraceEvent& password = t.Transfer(EventKind::Write, Outcome::Done, Command(TypeWrite, CmdPasswd), 40);
  password.masked = true;
  t.Transfer(EventKind::Read, Outcome::Done, Reply(CmdPasswd, 9, ""), 200).masked = true;
  t.Transfer(EventKind::Write, Outcome::Failed, Command(TypeRead, CmdChanCt), 30).error = 232;
  t.Transfer(EventKind::Write, Outcome::Done, Command(TypeRead, CmdDevDesc, 2), 40);
  t.Transfer(EventKind::Read, Outcome::Failed, {}, 20).error = 109;
  t.Transfer(EventKind::Write, Outcome::Done, Command(TypeRead, CmdDevType), 40);
  t.Transfer(EventKind::Read, Outcome::Short, std::vector<std::uint8_t>(12, 0), 200);
  t.Add(EventKind::Close, 1);
  TraceEvent& busy = t.Add(EventKind::Open, 2, Outcome::InUse);
  busy.path = kPath, busy.error = 231, busy.micros = 90;
  t.Add(EventKind::Limit, 0).limitMb = 100;
  return t.Read();
}

TEST(TraceShow, OneLinePerExchangeWithTroubleMarked) {
  const std::string expected[] = {
      "Time (UTC)       Instrument  Command                                              Reply                         "
      "  ms        Outcome",
      "07:40:18.001000  DEMO3001    found " + kPath,
      "07:40:18.002000  DEMO3001    open " + kPath + "                                   0.120",
      "07:40:18.003000  DEMO3001    TypeRead CmdSerial                                   ErrOk \"DEMO3001\"            "
      "    0.250",
      "07:40:18.005000  DEMO3001    TypeRead CmdModel                                                                  "
      "  1000.040  ! no reply (timed out)",
      "07:40:18.007000  DEMO3001    TypeRead CmdFwVer                                    ErrOk \"LDI-3001\" (to "
      "CmdModel)  0.100",
      "07:40:18.009000  DEMO3001    TypeWrite CmdPasswd (withheld)                       ErrCalMode (withheld)         "
      "  0.240",
      "07:40:18.011000  DEMO3001    TypeRead CmdChanCt                                                                 "
      "  0.030     ! write failed (error 232)",
      "07:40:18.012000  DEMO3001    TypeRead CmdDevDesc ch 2                                                           "
      "  0.060     ! read failed (error 109)",
      "07:40:18.014000  DEMO3001    TypeRead CmdDevType                                  ErrOk \"\"                    "
      "    0.240     ! short reply (12 bytes)",
      "07:40:18.016000  DEMO3001    close",
      "07:40:18.017000  DEMO3001    open " + kPath +
          "                                   0.090     ! in use (error 231)",
      "07:40:18.018000              trace stopped: size limit of 100 MB reached",
  };
  std::string table;
  for (const auto& line : expected) table += line + "\n";
  EXPECT_EQ(ShowTrace(TroubledTrace(), TraceShowOptions{}, false), table);
}

TEST(TraceShow, NarrowedByInstrumentAndTimeOrPassedOnAsJson) {
  const auto events = TroubledTrace();
  const auto lines = [&](TraceShowOptions options) {
    const std::string out = ShowTrace(events, options, false);
    return std::count(out.begin(), out.end(), '\n');
  };
  EXPECT_EQ(lines({u"f", u"demo3001", std::nullopt}), 12);  // header, and all but the limit line
  EXPECT_EQ(lines({u"f", u"DEMO9999", std::nullopt}), 1);
  EXPECT_EQ(lines({u"f", u"", u"07:40:18.016"}), 4);
  EXPECT_EQ(lines({u"f", u"", u"2026-12-08T07:40:18.0165"}), 3);
  EXPECT_EQ(lines({u"f", u"", u"2026-12-09T00:00:00"}), 1);
  EXPECT_THROW(ShowTrace(events, {u"f", u"", u"7:40"}, false), UsageError);

  const std::string json = ShowTrace(events, {u"f", u"", std::nullopt}, true);
  EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 12);
  EXPECT_NE(json.find("\"OpCodeName\":\"CmdFwVer\""), std::string::npos);
  EXPECT_NE(json.find("\"EndCode\":9,\"EndCodeName\":\"ErrCalMode\",\"Data\":null,\"withheld\":true"),
            std::string::npos);
}

bool PrintableAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c == '\n' || (c >= 0x20 && c < 0x7F); });
}

// A trace from elsewhere cannot drive the reader's terminal: its texts show as
// printable ASCII in every row and column, however the trace spelled them.
TEST(TraceShow, TextsFromTheTraceShownEscaped) {
  using namespace codes;
  const struct {
    const char* json;  // the path as the trace's line spells it
    const char* shown;
  } cases[] = {
      {R"(\u001b[2J\u001b]0;k4\u0007)", R"(\x1B[2J\x1B]0;k4\x07)"},  // clear the screen, retitle the window
      {R"(\u009b31m)", R"(\x9B31m)"},                                // C1 CSI as one byte
      {"\xc2\x9b"
       "31m",
       R"(\xC2\x9B31m)"},                    // C1 CSI as UTF-8
      {R"(a\u202eb)", R"(a\xE2\x80\xAEb)"},  // right-to-left override
      {R"(\ud800)", R"(\xED\xA0\x80)"},      // a lone surrogate
      {"\xff\xfe\x80", R"(\xFF\xFE\x80)"},   // not UTF-8
  };
  for (const auto& c : cases) {
    TraceText t;
    t.Add(EventKind::Walk, 0).path = "PATH";
    TraceEvent& open = t.Add(EventKind::Open, 1, Outcome::InUse);
    open.path = "PATH", open.error = 231;
    t.Transfer(EventKind::Write, Outcome::Done, Command(TypeRead, CmdSerial), 40);
    t.Transfer(EventKind::Read, Outcome::Done, Reply(CmdSerial, ErrOk, "SN\x1b[8m\x9b"), 210);
    t.Add(EventKind::Close, 1);
    std::string text;
    for (const auto& e : t.Read()) text += trace::FormatLine(e);
    for (std::size_t at; (at = text.find("\"PATH\"")) != std::string::npos;)
      text.replace(at, 6, "\"" + std::string(c.json) + "\"");
    const auto events = trace::ParseTrace(text);
    ASSERT_EQ(events.size(), 5u) << text;

    const std::string table = ShowTrace(events, {}, false);
    EXPECT_TRUE(PrintableAscii(table)) << table;
    EXPECT_NE(table.find(std::string("found ") + c.shown + "\n"), std::string::npos) << table;
    EXPECT_NE(table.find(std::string("open ") + c.shown + " "), std::string::npos) << table;
    EXPECT_NE(table.find("  SN\\x1B[8m\\x9B  "), std::string::npos) << table;  // the Instrument column
    EXPECT_TRUE(PrintableAscii(ShowTrace(events, {}, true)));
  }
}

}  // namespace
}  // namespace velcorin::cli
