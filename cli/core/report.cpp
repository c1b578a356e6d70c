#include "cli/core/report.h"

#include <algorithm>
#include <cstdio>

#include "cli/core/text_columns.h"

namespace velcorin::cli {
namespace {

// What a terminal acts on or a line's order obeys rather than shows: C0, DEL,
// C1, and the bidirectional marks, embeddings, overrides and isolates.
bool IsControl(char16_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

std::string Formatted(const char* format, unsigned value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

std::vector<std::string> ListRow(const Instrument& i) {
  if (!i.usable) return {std::to_string(i.index), std::string(kUnavailable) + ": " + Shown(i.plainPath)};
  return {std::to_string(i.index), Shown(i.model), Shown(i.serial),
          Shown(i.firmware),       Hex(i.type),    std::to_string(i.channels)};
}

std::string Field(std::string_view name, const std::string& json) { return "\"" + std::string(name) + "\": " + json; }

std::string Shown16(std::u16string_view text) { return JsonString(Plain(text)); }

std::string Strings(const std::vector<std::u16string>& texts, std::string (*form)(std::u16string_view)) {
  std::string out;
  for (const auto& t : texts) out += (out.empty() ? "" : ", ") + form(t);
  return "[" + out + "]";
}

bool IsPlain(std::u16string_view text) { return Plain(text) == text; }

// The exact forms that the shown ones do not give back, and nothing else.
std::string ExactJson(const Instrument& i) {
  std::string out;
  const auto add = [&](std::string_view name, const std::string& json) {
    out += (out.empty() ? "" : ", ") + Field(name, json);
  };
  const auto text = [&](std::string_view name, const std::u16string& t) {
    if (!IsPlain(t)) add(name, JsonString(t));
  };
  if (i.usable) {
    text("ModelNumber", i.model);
    text("SerialNumber", i.serial);
    text("FirmwareVersion", i.firmware);
    text("Description", i.description);
  }
  if (!i.plainPathSuffices) add("DevicePath", JsonString(i.path));
  if (i.usable && !std::all_of(i.channelNames.begin(), i.channelNames.end(), IsPlain))
    add("ChannelNames", Strings(i.channelNames, JsonString));
  return "{" + out + "}";
}

std::string InstrumentJson(const Instrument& i) {
  std::string out = "{" + Field("Index", i.index ? std::to_string(i.index) : "null") + ", " +
                    Field("State", i.usable ? "\"ready\"" : "\"unavailable\"") + ", ";
  if (i.usable)
    out += Field("ModelNumber", Shown16(i.model)) + ", " + Field("SerialNumber", Shown16(i.serial)) + ", " +
           Field("FirmwareVersion", Shown16(i.firmware)) + ", " + Field("ProductID", std::to_string(i.type)) + ", " +
           Field("VendorID", std::to_string(i.vendor)) + ", " + Field("ChannelCount", std::to_string(i.channels)) +
           ", " + Field("Description", Shown16(i.description)) + ", ";
  out += Field("DevicePath", JsonString(i.plainPath)) + ", ";
  if (i.usable) out += Field("ChannelNames", Strings(i.channelNames, Shown16)) + ", ";
  return out + Field("Exact", ExactJson(i)) + "}";
}

std::string Milliseconds(double ms) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3f", ms);
  return buffer;
}

std::string RoundTripsText(const RoundTrips& t) {
  std::string out = t.stoppedOf ? "stopped by Ctrl+C after " + std::to_string(t.runs) + " of " +
                                      std::to_string(*t.stoppedOf) + " queries"
                                : std::to_string(t.runs) + (t.runs == 1 ? " query" : " queries");
  out += ", " + std::to_string(t.failed) + " failed";
  if (t.answered)
    out += "; round trip min " + Milliseconds(t.minMs) + " ms, median " + Milliseconds(t.medianMs) + " ms, max " +
           Milliseconds(t.maxMs) + " ms";
  return out + "\n";
}

std::string RoundTripsField(const RoundTrips& t) {
  const auto ms = [&](double value) { return t.answered ? Milliseconds(value) : "null"; };
  return Field("RoundTripMs", "{" + Field("runs", std::to_string(t.runs)) + ", " +
                                  Field("failed", std::to_string(t.failed)) + ", " +
                                  Field("stopped", t.stoppedOf ? "true" : "false") + ", " + Field("min", ms(t.minMs)) +
                                  ", " + Field("median", ms(t.medianMs)) + ", " + Field("max", ms(t.maxMs)) + "}");
}

std::string Named(std::int32_t value, const NamedValues* names) {
  const std::string name = names ? NameOf(value, *names) : "";
  return std::to_string(value) + (name.empty() ? "" : " (" + name + ")");
}

std::string NameJson(std::int32_t value, const NamedValues* names) {
  const std::string name = names ? NameOf(value, *names) : "";
  return name.empty() ? "null" : "\"" + name + "\"";
}

std::string TimeText(const Stamp& t) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  return buffer;
}

std::string TimeJson(const Stamp& t) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "\"%04d-%02d-%02dT%02d:%02d:%02d\"", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return buffer;
}

const Instrument* ByPath(const std::vector<Instrument>& list, std::u16string_view path) {
  for (const auto& i : list)
    if (i.path == path) return &i;
  return nullptr;
}

Match Matched(const Instrument& i) { return {i.usable ? Found::Usable : Found::Unusable, &i}; }

}  // namespace

RoundTrips Summarize(std::vector<double> ms) {
  RoundTrips r;
  r.runs = r.answered = ms.size();
  if (ms.empty()) return r;
  std::sort(ms.begin(), ms.end());
  const std::size_t mid = ms.size() / 2;
  r.minMs = ms.front();
  r.maxMs = ms.back();
  r.medianMs = ms.size() % 2 ? ms[mid] : (ms[mid - 1] + ms[mid]) / 2;
  return r;
}

std::u16string Plain(std::u16string_view text) {
  std::u16string out;
  for (char16_t c : text)
    if (c != 0) out += c;
  while (!out.empty() && out.back() == u' ') out.pop_back();
  return out;
}

std::string Shown(std::u16string_view text) {
  std::u16string visible;
  std::string out;
  for (char16_t c : Plain(text)) {
    if (IsControl(c)) {
      out += Utf8(visible) + Formatted(c < 0x100 ? "\\x%02X" : "\\u%04X", c);
      visible.clear();
    } else {
      visible += c;
    }
  }
  return out + Utf8(visible);
}

std::string JsonString(std::u16string_view text) {
  std::string out = "\"";
  std::u16string plain;
  auto flush = [&] {
    out += Utf8(plain);
    plain.clear();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    const bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
    const bool paired = high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    if (paired) {
      plain += c;
      plain += text[++i];
      continue;
    }
    const char* named = c == u'"'    ? "\\\""
                        : c == u'\\' ? "\\\\"
                        : c == u'\n' ? "\\n"
                        : c == u'\r' ? "\\r"
                        : c == u'\t' ? "\\t"
                                     : nullptr;
    if (!named && !IsControl(c) && !high && !low) {
      plain += c;
      continue;
    }
    flush();
    out += named ? std::string(named) : Formatted("\\u%04x", c);
  }
  flush();
  return out + "\"";
}

std::string Hex(std::int32_t value) { return Formatted("0x%04X", static_cast<std::uint32_t>(value)); }

std::string ListText(const std::vector<Instrument>& list) {
  std::vector<std::vector<std::string>> rows = {{"#", "Model", "Serial", "Firmware", "Type", "Channels"}};
  for (const auto& i : list) rows.push_back(ListRow(i));
  return Columns(rows);
}

std::string ListJson(const std::vector<Instrument>& list) {
  std::string out = "[";
  for (const auto& i : list) out += (out.size() > 1 ? ",\n " : "") + InstrumentJson(i);
  return out + "]\n";
}

std::string InfoText(const Instrument& i) {
  std::vector<std::vector<std::string>> rows = {{"Model:", Shown(i.model)},
                                                {"Serial:", Shown(i.serial)},
                                                {"Firmware:", Shown(i.firmware)},
                                                {"Type:", Hex(i.type)},
                                                {"Vendor:", Hex(i.vendor)},
                                                {"Channels:", std::to_string(i.channels)},
                                                {"Description:", Shown(i.description)},
                                                {"Path:", Shown(i.plainPath)}};
  if (i.index) rows.insert(rows.begin(), {"Index:", std::to_string(i.index)});
  for (std::size_t n = 0; n < i.channelNames.size(); ++n)
    rows.push_back({"Channel " + std::to_string(n + 1) + ":", Shown(i.channelNames[n])});
  return Columns(rows);
}

std::string InfoJson(const Instrument& i) { return InstrumentJson(i) + "\n"; }

std::string ReplyText(const Reply& r, const std::optional<RoundTrips>& timing, const Enumerations* names) {
  std::string out = Columns({{"DevType:", std::to_string(r.devType) + " (" + Hex(r.devType) + ")"},
                             {"Channel:", std::to_string(r.channel)},
                             {"OpType:", Named(r.opType, names ? &names->opTypes : nullptr)},
                             {"OpCode:", Named(r.opCode, names ? &names->opCodes : nullptr)},
                             {"EndCode:", Named(r.endCode, names ? &names->endCodes : nullptr)},
                             {"Data:", Shown(r.data)}});
  return timing ? out + RoundTripsText(*timing) : out;
}

std::string ReplyJson(const Reply& r, const std::optional<RoundTrips>& timing, const Enumerations* names) {
  std::string out = "{" + Field("DevType", std::to_string(r.devType)) + ", " +
                    Field("Channel", std::to_string(r.channel)) + ", " + Field("OpType", std::to_string(r.opType)) +
                    ", " + Field("OpTypeName", NameJson(r.opType, names ? &names->opTypes : nullptr)) + ", " +
                    Field("OpCode", std::to_string(r.opCode)) + ", " +
                    Field("OpCodeName", NameJson(r.opCode, names ? &names->opCodes : nullptr)) + ", " +
                    Field("EndCode", std::to_string(r.endCode)) + ", " +
                    Field("EndCodeName", NameJson(r.endCode, names ? &names->endCodes : nullptr)) + ", " +
                    Field("Data", Shown16(r.data)) + ", " +
                    Field("Exact", IsPlain(r.data) ? "{}" : "{" + Field("Data", JsonString(r.data)) + "}");
  if (timing) out += ", " + RoundTripsField(*timing);
  return out + "}\n";
}

std::string RepeatReport(const std::optional<Reply>& last, const RoundTrips& timing, const Enumerations* names,
                         bool json) {
  if (last) return json ? ReplyJson(*last, timing, names) : ReplyText(*last, timing, names);
  return json ? "{" + RoundTripsField(timing) + "}\n" : RoundTripsText(timing);
}

std::string CalibrationJson(bool entered) {
  return std::string("{").append(Field("CalibrationMode", entered ? "true" : "false")).append("}\n");
}

Match FindInstrument(const std::vector<Instrument>& list, std::u16string_view device) {
  for (const auto& i : list)
    if (i.usable && Plain(i.serial) == device) return Matched(i);
  const Instrument* noCase = nullptr;
  for (const auto& i : list) {
    if (!i.usable || !SameNoCase(Plain(i.serial), device)) continue;
    if (noCase) return {Found::Ambiguous, nullptr};
    noCase = &i;
  }
  if (noCase) return Matched(*noCase);
  if (const auto index = ParseNumber(device); index && device.find_first_not_of(u"0123456789") == device.npos)
    for (const auto& i : list)
      if (i.index == *index) return Matched(i);
  for (const auto& i : list)
    if (i.path == device || SameNoCase(i.plainPath, device)) return Matched(i);
  return {};
}

bool IsDevicePath(std::u16string_view device) {
  return device.starts_with(u"\\\\?\\") || device.starts_with(u"\\\\.\\");
}

std::vector<Change> Compare(const std::vector<Instrument>& before, std::vector<Instrument>& now) {
  std::vector<Change> changes;
  for (const auto& i : before)
    if (!ByPath(now, i.path)) changes.push_back({'-', i});
  for (auto& i : now) {
    const Instrument* was = ByPath(before, i.path);
    if (!i.usable && was) {
      const int index = i.index;
      i = *was;
      i.index = index;
      i.usable = false;
    }
    if (!was || was->usable != i.usable) changes.push_back({i.usable ? '+' : '!', i});
  }
  return changes;
}

std::string ChangeLine(const Change& c, const Stamp& at, bool json) {
  if (json) {
    const char* event = c.mark == '+' ? "\"ready\"" : c.mark == '-' ? "\"gone\"" : "\"unavailable\"";
    return "{" + Field("Time", TimeJson(at)) + ", " + Field("Event", event) + ", " +
           Field("Instrument", InstrumentJson(c.instrument)) + "}\n";
  }
  std::string line = TimeText(at) + " " + c.mark + " " + std::to_string(c.instrument.index);
  const bool known = !c.instrument.serial.empty() || !c.instrument.model.empty();
  const std::string unavailable = c.mark == '!' ? std::string(kUnavailable) : "";
  if (c.instrument.usable || known) {
    Instrument shown = c.instrument;
    shown.usable = true;
    const auto row = ListRow(shown);
    for (std::size_t n = 1; n < row.size(); ++n) line += " " + row[n];
    if (!unavailable.empty()) line += " " + unavailable;
  } else {
    line += " " + (unavailable.empty() ? "" : unavailable + ": ") + Shown(c.instrument.plainPath);
  }
  return line + "\n";
}

}  // namespace velcorin::cli
