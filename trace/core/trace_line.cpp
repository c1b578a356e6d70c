#include "trace/core/trace_line.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <map>
#include <utility>

#include "common/core/hex_digit.h"
#include "wire/report.h"

namespace velcorin::trace {
namespace {

constexpr std::array<std::pair<EventKind, std::string_view>, 6> kKindNames = {{
    {EventKind::Walk, "walk"},
    {EventKind::Open, "open"},
    {EventKind::Write, "write"},
    {EventKind::Read, "read"},
    {EventKind::Close, "close"},
    {EventKind::Limit, "limit"},
}};
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::string_view kMaskedData = "(withheld)";

std::string_view KindName(EventKind kind) {
  for (const auto& [value, name] : kKindNames)
    if (value == kind) return name;
  return "";
}

// ASCII only: bytes outside printable ASCII as \u00XX, so that any byte survives.
void AppendJsonString(std::string& out, std::string_view bytes) {
  out += '"';
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      out += "\\u00";
      out += kHexDigits[byte >> 4];
      out += kHexDigits[byte & 0xF];
    } else {
      out += c;
    }
  }
  out += '"';
}

class LineWriter {
 public:
  LineWriter() { line_ = "{"; }
  LineWriter& Number(std::string_view key, std::int64_t value) {
    Key(key);
    line_ += std::to_string(value);
    return *this;
  }
  LineWriter& True(std::string_view key) {
    Key(key);
    line_ += "true";
    return *this;
  }
  LineWriter& Text(std::string_view key, std::string_view value) {
    Key(key);
    AppendJsonString(line_, value);
    return *this;
  }
  std::string Finish() { return line_ + "}\n"; }

 private:
  void Key(std::string_view key) {
    if (line_.size() > 1) line_ += ',';
    AppendJsonString(line_, key);
    line_ += ':';
  }
  std::string line_;
};

void AppendFields(LineWriter& out, const TraceEvent& event, bool reply) {
  const ReportFields fields = DecodeReport(event.bytes, reply);
  out.Number("DevType", fields.devType).Number("Channel", fields.channel).Number("OpType", fields.opType);
  out.Number("OpCode", fields.opCode);
  if (reply) out.Number("EndCode", fields.endCode);
  out.Text("Data", event.masked ? kMaskedData : std::string_view(fields.data));
}

// --- reading: flat objects of strings and integers --------------------------------

struct JsonValue {
  bool isText = false;
  std::string text;
  std::int64_t number = 0;
};
using JsonObject = std::map<std::string, JsonValue, std::less<>>;

class FlatObjectParser {
 public:
  explicit FlatObjectParser(std::string_view text) : text_(text) {}

  std::optional<JsonObject> Parse() {
    JsonObject object;
    if (!Take('{')) return std::nullopt;
    if (Take('}')) return End(std::move(object));
    do {
      std::string key;
      JsonValue value;
      if (!String(key) || !Take(':') || !Value(value)) return std::nullopt;
      object[std::move(key)] = std::move(value);
    } while (Take(','));
    if (!Take('}')) return std::nullopt;
    return End(std::move(object));
  }

 private:
  std::optional<JsonObject> End(JsonObject object) {
    SkipSpace();
    if (at_ != text_.size()) return std::nullopt;
    return object;
  }
  void SkipSpace() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r' || text_[at_] == '\n'))
      ++at_;
  }
  bool Take(char c) {
    SkipSpace();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool Value(JsonValue& value) {
    SkipSpace();
    if (at_ < text_.size() && text_[at_] == '"') {
      value.isText = true;
      return String(value.text);
    }
    for (std::string_view word : {"true", "false", "null"}) {
      if (text_.substr(at_, word.size()) == word) {
        at_ += word.size();
        value.number = word == "true";
        return true;
      }
    }
    const char* begin = text_.data() + at_;
    const auto [end, error] = std::from_chars(begin, text_.data() + text_.size(), value.number);
    if (error != std::errc{} || end == begin) return false;
    at_ += static_cast<std::size_t>(end - begin);
    return true;
  }
  bool Escape(std::string& out) {
    if (at_ >= text_.size()) return false;
    const char c = text_[at_++];
    static constexpr std::string_view kFrom = "\"\\/bfnrt", kTo = "\"\\/\b\f\n\r\t";
    if (const auto i = kFrom.find(c); i != std::string_view::npos) {
      out += kTo[i];
      return true;
    }
    if (c != 'u' || at_ + 4 > text_.size()) return false;
    unsigned code = 0;
    for (int i = 0; i < 4; ++i) {
      const int digit = HexDigitValue(text_[at_++]);
      if (digit < 0) return false;
      code = code * 16 + static_cast<unsigned>(digit);
    }
    // Our own lines only escape single bytes; anything wider is kept as UTF-8.
    if (code < 0x100) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
    return true;
  }
  bool String(std::string& out) {
    if (!Take('"')) return false;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return true;
      if (c != '\\') {
        out += c;
      } else if (!Escape(out)) {
        return false;
      }
    }
    return false;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

std::int64_t NumberOf(const JsonObject& object, std::string_view key) {
  const auto found = object.find(key);
  return found == object.end() || found->second.isText ? 0 : found->second.number;
}

std::string TextOf(const JsonObject& object, std::string_view key) {
  const auto found = object.find(key);
  return found == object.end() || !found->second.isText ? std::string() : found->second.text;
}

// Hex pairs, "**" for a withheld byte (read as zero).
bool ParseHex(std::string_view hex, std::vector<std::uint8_t>& bytes, bool& masked) {
  if (hex.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    if (hex[i] == '*' && hex[i + 1] == '*') {
      masked = true;
      bytes.push_back(0);
      continue;
    }
    const int high = HexDigitValue(hex[i]), low = HexDigitValue(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  return true;
}

std::optional<EventKind> KindNamed(std::string_view name) {
  for (const auto& [value, text] : kKindNames)
    if (text == name) return value;
  return std::nullopt;
}

}  // namespace

std::string JsonText(std::string_view bytes) {
  std::string out;
  AppendJsonString(out, bytes);
  return out;
}

std::string HexOf(std::span<const std::uint8_t> bytes, bool masked, bool reply) {
  const std::size_t from = reply ? kReplyDataOffset : kCommandDataOffset;
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (masked && i >= from && i < from + kReportDataSize) {
      hex += "**";
    } else {
      hex += kHexDigits[bytes[i] >> 4];
      hex += kHexDigits[bytes[i] & 0xF];
    }
  }
  return hex;
}

TraceEvent LimitEvent(std::uint32_t limitMb) {
  TraceEvent event;
  event.kind = EventKind::Limit;
  event.limitMb = limitMb;
  return event;
}

std::string FormatLine(const TraceEvent& event) {
  LineWriter out;
  out.Number("t", event.time).Number("pid", event.pid).Number("tid", event.tid);
  if (event.handle) out.Number("h", event.handle);
  out.Text("ev", KindName(event.kind));
  if (event.simulated) out.True("simulated");
  if (event.outcome != Outcome::None) out.Text("outcome", OutcomeName(event.outcome));
  if (event.error) out.Number("error", event.error);
  switch (event.kind) {
    case EventKind::Walk: out.Number("index", event.index).Text("path", event.path); break;
    case EventKind::Open: out.Number("us", event.micros).Text("path", event.path); break;
    case EventKind::Write:
    case EventKind::Read: {
      const bool reply = event.kind == EventKind::Read;
      out.Number("us", event.micros).Number("n", event.count).Text("bytes", HexOf(event.bytes, event.masked, reply));
      if (!reply || !event.bytes.empty()) AppendFields(out, event, reply);
      break;
    }
    case EventKind::Close: break;
    case EventKind::Limit:
      out.Number("limit_mb", event.limitMb).Text("message", "trace stopped: size limit reached");
      break;
  }
  return out.Finish();
}

std::optional<TraceEvent> ParseLine(std::string_view line) {
  const auto object = FlatObjectParser(line).Parse();
  if (!object) return std::nullopt;
  const auto kind = KindNamed(TextOf(*object, "ev"));
  if (!kind) return std::nullopt;
  TraceEvent event;
  event.kind = *kind;
  event.time = NumberOf(*object, "t");
  event.pid = static_cast<std::uint32_t>(NumberOf(*object, "pid"));
  event.tid = static_cast<std::uint32_t>(NumberOf(*object, "tid"));
  event.handle = static_cast<std::uint32_t>(NumberOf(*object, "h"));
  event.micros = NumberOf(*object, "us");
  event.outcome = OutcomeNamed(TextOf(*object, "outcome")).value_or(Outcome::None);
  event.error = static_cast<std::uint32_t>(NumberOf(*object, "error"));
  event.path = TextOf(*object, "path");
  event.index = static_cast<std::int32_t>(NumberOf(*object, "index"));
  event.count = static_cast<std::uint32_t>(NumberOf(*object, "n"));
  event.limitMb = static_cast<std::uint32_t>(NumberOf(*object, "limit_mb"));
  event.simulated = NumberOf(*object, "simulated") != 0;
  if (!ParseHex(TextOf(*object, "bytes"), event.bytes, event.masked)) return std::nullopt;
  // Only a Data field can be withheld, and then all of it.
  const bool reply = event.kind == EventKind::Read;
  event.masked = event.masked && event.bytes.size() > (reply ? kReplyDataOffset : kCommandDataOffset);
  if (event.masked) MaskData(event.bytes, reply);
  return event;
}

std::vector<TraceEvent> ParseTrace(std::string_view text, std::size_t* skipped) {
  std::vector<TraceEvent> events;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    if (auto event = ParseLine(line)) {
      events.push_back(std::move(*event));
    } else if (skipped) {
      ++*skipped;
    }
  }
  return events;
}

}  // namespace velcorin::trace
