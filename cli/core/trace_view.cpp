#include "cli/core/trace_view.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <utility>

#include "cli/core/arguments.h"
#include "cli/core/report.h"
#include "device/core/codes.h"
#include "device/core/report.h"
#include "trace/core/code_names.h"
#include "trace/core/trace_line.h"

namespace velcorin::cli {
namespace {

using trace::EventKind;
using trace::Outcome;
using trace::TraceEvent;
using OpeningId = std::pair<std::uint32_t, std::uint32_t>;  // process, handle

constexpr std::int64_t kMicrosPerDay = 86400LL * 1000000;

// One line of the view.
struct Row {
  const TraceEvent* first = nullptr;  // the event the line starts with (time, process, thread)
  std::string instrument, path;
  const TraceEvent* write = nullptr;
  const TraceEvent* read = nullptr;
  std::string command;  // for lines that are not exchanges
  std::string outcome;
  bool failed = false;
  std::int64_t micros = 0;
};

// People read texts, not padding: trailing spaces and zeros go, the rest shows.
std::string Printable(const std::string& bytes) {
  std::string text = bytes;
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    }
  }
  return out;
}

std::string DataText(const TraceEvent& event, const trace::ReportFields& fields) {
  if (event.masked) return "(withheld)";
  return "\"" + Printable(fields.data) + "\"";
}

std::string CommandText(const TraceEvent& write) {
  const auto f = trace::DecodeReport(write.bytes, false);
  std::string text =
      trace::CodeName(trace::CodeKind::OpType, f.opType) + " " + trace::CodeName(trace::CodeKind::OpCode, f.opCode);
  if (f.channel != 0) text += " ch " + std::to_string(f.channel);
  if (f.devType != 0) text += " type " + Hex(f.devType);
  if (write.masked || !f.data.empty()) text += " " + DataText(write, f);
  return text;
}

std::string ReplyText(const TraceEvent& read, const TraceEvent* write) {
  if (read.bytes.empty()) return "";
  const auto f = trace::DecodeReport(read.bytes, true);
  std::string text = trace::CodeName(trace::CodeKind::EndCode, f.endCode) + " " + DataText(read, f);
  // A reply to another command (a late one, say) says so.
  if (write && read.bytes.size() >= kOpCodeOffset + 4 && trace::DecodeReport(write->bytes, false).opCode != f.opCode)
    text += " (to " + trace::CodeName(trace::CodeKind::OpCode, f.opCode) + ")";
  return text;
}

std::string WithError(std::string text, std::uint32_t error) {
  return error ? text + " (error " + std::to_string(error) + ")" : text;
}

// What went wrong in an exchange, or nothing.
std::string ExchangeTrouble(const TraceEvent* write, const TraceEvent* read) {
  if (write && write->outcome != Outcome::Done)
    return WithError("write " + std::string(trace::OutcomeName(write->outcome)), write->error);
  if (!read) return "no read";
  switch (read->outcome) {
    case Outcome::Done: return "";
    case Outcome::Short: return "short reply (" + std::to_string(read->count) + " bytes)";
    case Outcome::TimedOut: return "no reply (timed out)";
    default: return WithError("read failed", read->error);
  }
}

std::string Milliseconds(std::int64_t micros) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(micros) / 1000);
  return text;
}

std::string TimeOfDay(std::int64_t micros) {
  const std::int64_t inDay = ((micros % kMicrosPerDay) + kMicrosPerDay) % kMicrosPerDay;
  const auto seconds = inDay / 1000000;
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%06d", static_cast<int>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60), static_cast<int>(inDay % 1000000));
  return text;
}

std::int64_t DayStart(std::int64_t micros) {
  return micros - (((micros % kMicrosPerDay) + kMicrosPerDay) % kMicrosPerDay);
}

bool Digits(std::u16string_view text, std::size_t at, std::size_t count, int& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < u'0' || text[i] > u'9') return false;
    value = value * 10 + (text[i] - u'0');
  }
  return true;
}

// HH:MM:SS[.f...] on the trace's first day, or YYYY-MM-DDTHH:MM:SS[.f...]; UTC.
std::int64_t SinceMicros(std::u16string_view text, std::int64_t firstTime) {
  std::int64_t day = DayStart(firstTime);
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (text.size() >= 11 && text[4] == u'-' && text[7] == u'-' && (text[10] == u'T' || text[10] == u' ')) {
    using namespace std::chrono;
    if (!Digits(text, 0, 4, y) || !Digits(text, 5, 2, mo) || !Digits(text, 8, 2, d))
      throw UsageError("--since: cannot read the date in '" + Utf8(text) + "'");
    const year_month_day date{year{y}, month{static_cast<unsigned>(mo)}, std::chrono::day{static_cast<unsigned>(d)}};
    if (!date.ok()) throw UsageError("--since: no such date in '" + Utf8(text) + "'");
    day = sys_days(date).time_since_epoch().count() * kMicrosPerDay;
    text.remove_prefix(11);
  }
  if (text.size() < 8 || text[2] != u':' || text[5] != u':' || !Digits(text, 0, 2, h) || !Digits(text, 3, 2, mi) ||
      !Digits(text, 6, 2, s) || h > 23 || mi > 59 || s > 59)
    throw UsageError("--since wants HH:MM:SS or YYYY-MM-DDTHH:MM:SS (UTC), not '" + Utf8(text) + "'");
  std::int64_t fraction = 0;
  if (text.size() > 8) {
    std::int64_t scale = 100000;
    if (text[8] != u'.' || text.size() == 9 || text.size() > 15)
      throw UsageError("--since: up to six digits after the seconds' point");
    for (std::size_t i = 9; i < text.size(); ++i, scale /= 10) {
      if (text[i] < u'0' || text[i] > u'9') throw UsageError("--since: cannot read '" + Utf8(text) + "'");
      fraction += (text[i] - u'0') * scale;
    }
  }
  return day + ((h * 60LL + mi) * 60 + s) * 1000000 + fraction;
}

class RowBuilder {
 public:
  std::vector<Row> Build(const std::vector<TraceEvent>& events) {
    LearnSerials(events);
    for (const TraceEvent& event : events) Take(event);
    for (auto& [id, open] : openings_) FlushWrite(open);
    std::stable_sort(rows_.begin(), rows_.end(),
                     [](const Row& a, const Row& b) { return a.first->time < b.first->time; });
    return std::move(rows_);
  }

 private:
  struct Opening {
    std::string path;
    const TraceEvent* pendingWrite = nullptr;
  };

  // Who an opening talks to: the serial its identity query received, which
  // then also names its path's other openings and the walk.
  void LearnSerials(const std::vector<TraceEvent>& events) {
    std::map<OpeningId, std::string> paths;
    std::map<OpeningId, const TraceEvent*> writes;
    for (const TraceEvent& e : events) {
      const OpeningId id{e.pid, e.handle};
      if (e.kind == EventKind::Open) paths[id] = e.path;
      if (e.kind == EventKind::Write) writes[id] = &e;
      if (e.kind != EventKind::Read || !writes[id] || e.bytes.empty() || e.masked) continue;
      const auto command = trace::DecodeReport(writes[id]->bytes, false);
      if (command.opType == codes::TypeRead && command.opCode == codes::CmdSerial && command.channel == 0) {
        const std::string serial = Printable(trace::DecodeReport(e.bytes, true).data);
        const std::size_t first = serial.find_first_not_of(' ');
        serialOfPath_[paths[id]] = first == std::string::npos ? serial : serial.substr(first);
      }
      writes[id] = nullptr;
    }
  }

  std::string InstrumentAt(const std::string& path) const {
    const auto found = serialOfPath_.find(path);
    return found != serialOfPath_.end() && !found->second.empty() ? found->second : "?";
  }

  Row& NewRow(const TraceEvent& first, const std::string& path) {
    Row& row = rows_.emplace_back();
    row.first = &first;
    row.path = path;
    row.instrument = InstrumentAt(path);
    return row;
  }

  void FlushWrite(Opening& open) {
    if (!open.pendingWrite) return;
    Exchange(open, *open.pendingWrite, nullptr);
    open.pendingWrite = nullptr;
  }

  void Exchange(const Opening& open, const TraceEvent& first, const TraceEvent* read) {
    Row& row = NewRow(first, open.path);
    row.write = first.kind == EventKind::Write ? &first : nullptr;
    row.read = read;
    row.outcome = ExchangeTrouble(row.write, read);
    row.failed = !row.outcome.empty();
    row.micros = (row.write ? row.write->micros : 0) + (read ? read->micros : 0);
  }

  void Take(const TraceEvent& e) {
    const OpeningId id{e.pid, e.handle};
    switch (e.kind) {
      case EventKind::Walk: {
        Row& row = NewRow(e, e.path);
        row.command = e.path.empty() ? "found an interface without a path" : "found " + e.path;
        break;
      }
      case EventKind::Open: {
        openings_[id] = Opening{e.path, nullptr};
        Row& row = NewRow(e, e.path);
        row.command = "open " + e.path;
        row.micros = e.micros;
        row.failed = e.outcome != Outcome::Opened;
        row.outcome = row.failed ? WithError(std::string(trace::OutcomeName(e.outcome)), e.error) : "";
        break;
      }
      case EventKind::Write: {
        Opening& open = openings_[id];
        FlushWrite(open);
        if (e.outcome == Outcome::Done)
          open.pendingWrite = &e;
        else
          Exchange(open, e, nullptr);  // no read follows a failed write
        break;
      }
      case EventKind::Read: {
        Opening& open = openings_[id];
        Exchange(open, open.pendingWrite ? *open.pendingWrite : e, &e);
        open.pendingWrite = nullptr;
        break;
      }
      case EventKind::Close: {
        Opening& open = openings_[id];
        FlushWrite(open);
        NewRow(e, open.path).command = "close";
        openings_.erase(id);
        break;
      }
      case EventKind::Limit: {
        Row& row = NewRow(e, "");
        row.instrument = "";
        row.command = "trace stopped: size limit of " + std::to_string(e.limitMb) + " MB reached";
        break;
      }
    }
  }

  std::map<std::string, std::string> serialOfPath_;
  std::map<OpeningId, Opening> openings_;
  std::vector<Row> rows_;
};

std::string Columns(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  std::string out;
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i)
      line += row[i] + (i + 1 < row.size() ? std::string(widths[i] - row[i].size() + 2, ' ') : "");
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  }
  return out;
}

std::string TableOf(const std::vector<const Row*>& rows) {
  std::vector<std::vector<std::string>> cells = {{"Time (UTC)", "Instrument", "Command", "Reply", "ms", "Outcome"}};
  for (const Row* row : rows) {
    const bool exchange = row->write || row->read;
    cells.push_back({TimeOfDay(row->first->time), row->instrument,
                     exchange ? (row->write ? CommandText(*row->write) : "(read only)") : row->command,
                     row->read ? ReplyText(*row->read, row->write) : "",
                     row->micros || exchange ? Milliseconds(row->micros) : "",
                     row->failed ? "! " + row->outcome : row->outcome});
  }
  return Columns(cells);
}

std::string Field(std::string_view name, const std::string& json) { return "\"" + std::string(name) + "\":" + json; }

std::string ReportJson(const TraceEvent& event, bool reply) {
  const auto f = trace::DecodeReport(event.bytes, reply);
  std::string out = "{" + Field("DevType", std::to_string(f.devType)) + "," +
                    Field("Channel", std::to_string(f.channel)) + "," + Field("OpType", std::to_string(f.opType)) +
                    "," + Field("OpTypeName", trace::JsonText(trace::CodeName(trace::CodeKind::OpType, f.opType))) +
                    "," + Field("OpCode", std::to_string(f.opCode)) + "," +
                    Field("OpCodeName", trace::JsonText(trace::CodeName(trace::CodeKind::OpCode, f.opCode)));
  if (reply)
    out += "," + Field("EndCode", std::to_string(f.endCode)) + "," +
           Field("EndCodeName", trace::JsonText(trace::CodeName(trace::CodeKind::EndCode, f.endCode)));
  out += "," + Field("Data", event.masked ? "null" : trace::JsonText(f.data)) + "," +
         Field("withheld", event.masked ? "true" : "false") + "," +
         Field("bytes", trace::JsonText(trace::HexOf(event.bytes, event.masked, reply))) + "}";
  return out;
}

std::string JsonOf(const std::vector<const Row*>& rows) {
  std::string out;
  for (const Row* row : rows) {
    const TraceEvent& first = *row->first;
    std::string line = "{" + Field("time", trace::JsonText(TimeOfDay(first.time))) + "," +
                       Field("t", std::to_string(first.time)) + "," + Field("pid", std::to_string(first.pid)) + "," +
                       Field("tid", std::to_string(first.tid)) + "," + Field("h", std::to_string(first.handle)) + "," +
                       Field("instrument", trace::JsonText(row->instrument)) + "," +
                       Field("path", trace::JsonText(row->path));
    if (row->write || row->read) {
      line += "," + Field("command", row->write ? ReportJson(*row->write, false) : "null") + "," +
              Field("reply", row->read && !row->read->bytes.empty() ? ReportJson(*row->read, true) : "null");
    } else {
      line += "," + Field("event", trace::JsonText(row->command));
    }
    line += "," + Field("us", std::to_string(row->micros)) + "," + Field("failed", row->failed ? "true" : "false") +
            "," + Field("outcome", trace::JsonText(row->outcome)) + "}\n";
    out += line;
  }
  return out;
}

bool SameNoCase(std::string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char32_t c) { return c >= U'A' && c <= U'Z' ? c + 32 : c; };
    if (lower(static_cast<unsigned char>(a[i])) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::optional<std::u16string> TakeFileOption(std::vector<std::u16string>& args, std::u16string_view option) {
  if (args.empty()) return std::nullopt;
  const std::string missing = Utf8(std::u16string(option)) + " needs a FILE";
  if (args[0].starts_with(std::u16string(option) + u"=")) {
    std::u16string file = args[0].substr(option.size() + 1);
    args.erase(args.begin());
    if (file.empty()) throw UsageError(missing);
    return file;
  }
  if (args[0] != option) return std::nullopt;
  if (args.size() < 2) throw UsageError(missing);
  std::u16string file = args[1];
  args.erase(args.begin(), args.begin() + 2);
  return file;
}

std::optional<std::u16string> TakeTraceOption(std::vector<std::u16string>& args) {
  return TakeFileOption(args, u"--trace");
}

bool IsTraceCommand(const std::vector<std::u16string>& args) { return !args.empty() && args[0] == u"trace"; }

TraceShowOptions ParseTraceShow(const std::vector<std::u16string>& args) {
  if (args.size() < 2 || args[1] != u"show") throw UsageError("trace needs 'show FILE'");
  TraceShowOptions options;
  bool haveFile = false;
  for (std::size_t i = 2; i < args.size(); ++i) {
    const std::u16string& arg = args[i];
    const auto value = [&](std::u16string_view name) -> std::optional<std::u16string> {
      if (arg.starts_with(std::u16string(name) + u"=")) return arg.substr(name.size() + 1);
      if (arg != name) return std::nullopt;
      if (i + 1 >= args.size()) throw UsageError(Utf8(name) + " needs a value");
      return args[++i];
    };
    if (arg == u"--json") {
      options.json = true;
    } else if (auto serial = value(u"--instrument")) {
      options.instrument = *serial;
    } else if (auto since = value(u"--since")) {
      options.since = *since;
    } else if (!arg.starts_with(u"--") && !haveFile) {
      options.file = arg;
      haveFile = true;
    } else {
      throw UsageError("unexpected argument '" + Utf8(arg) + "' for trace show");
    }
  }
  if (!haveFile) throw UsageError("trace show needs the trace FILE");
  return options;
}

std::string ShowTrace(const std::vector<trace::TraceEvent>& events, const TraceShowOptions& options) {
  const std::vector<Row> rows = RowBuilder().Build(events);
  std::optional<std::int64_t> since;
  if (options.since) since = SinceMicros(*options.since, rows.empty() ? 0 : rows.front().first->time);
  std::vector<const Row*> shown;
  for (const Row& row : rows) {
    if (!options.instrument.empty() && !SameNoCase(row.instrument, options.instrument)) continue;
    if (since && row.first->time < *since) continue;
    shown.push_back(&row);
  }
  return options.json ? JsonOf(shown) : TableOf(shown);
}

}  // namespace velcorin::cli
