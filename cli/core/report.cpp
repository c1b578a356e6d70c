#include "cli/core/report.h"

#include <algorithm>
#include <cstdio>

#include "cli/core/arguments.h"

namespace velcorin::cli {
namespace {

bool IsControl(char16_t c) { return c < 0x20 || c == 0x7F; }

std::string Escaped(const char* format, unsigned value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool SameNoCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
           return Lower(x) == Lower(y);
         });
}

std::u16string WithoutZeros(std::u16string_view text) {
  std::u16string out;
  for (char16_t c : text)
    if (c != 0) out += c;
  return out;
}

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
    out += line + "\n";
  }
  return out;
}

std::vector<std::string> ListRow(const Instrument& i) {
  return {std::to_string(i.index), Shown(i.model), Shown(i.serial), Shown(i.firmware), Hex(i.type),
          std::to_string(i.channels)};
}

std::string Field(std::string_view name, const std::string& json) { return "\"" + std::string(name) + "\": " + json; }

std::string InstrumentJson(const Instrument& i, bool withIndex) {
  std::string names;
  for (const auto& name : i.channelNames) names += (names.empty() ? "" : ", ") + JsonString(name);
  std::string out = "{";
  if (withIndex) out += Field("Index", std::to_string(i.index)) + ", ";
  out += Field("ModelNumber", JsonString(i.model)) + ", " + Field("SerialNumber", JsonString(i.serial)) + ", " +
         Field("FirmwareVersion", JsonString(i.firmware)) + ", " + Field("ProductID", std::to_string(i.type)) +
         ", " + Field("VendorID", std::to_string(i.vendor)) + ", " +
         Field("ChannelCount", std::to_string(i.channels)) + ", " +
         Field("Description", JsonString(i.description)) + ", " + Field("DevicePath", JsonString(i.path)) +
         ", " + Field("ChannelNames", "[" + names + "]") + "}";
  return out;
}

std::string Milliseconds(double ms) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3f", ms);
  return buffer;
}

}  // namespace

RoundTrips Summarize(std::vector<double> ms) {
  RoundTrips r;
  r.runs = ms.size();
  if (ms.empty()) return r;
  std::sort(ms.begin(), ms.end());
  const std::size_t mid = ms.size() / 2;
  r.minMs = ms.front();
  r.maxMs = ms.back();
  r.medianMs = ms.size() % 2 ? ms[mid] : (ms[mid - 1] + ms[mid]) / 2;
  return r;
}

std::string Shown(std::u16string_view text) {
  std::u16string visible;
  std::string out;
  for (char16_t c : text) {
    if (c == 0) continue;
    if (IsControl(c)) {
      out += Utf8(visible) + Escaped("\\x%02X", c);
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
  auto flush = [&] { out += Utf8(plain); plain.clear(); };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    const bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
    const bool paired = high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    if (paired) {
      plain += c;
      plain += text[++i];
      continue;
    }
    const char* named = c == u'"' ? "\\\"" : c == u'\\' ? "\\\\" : c == u'\n' ? "\\n" : c == u'\r' ? "\\r"
                      : c == u'\t' ? "\\t" : nullptr;
    if (!named && !IsControl(c) && !high && !low) {
      plain += c;
      continue;
    }
    flush();
    out += named ? std::string(named) : Escaped("\\u%04x", c);
  }
  flush();
  return out + "\"";
}

std::string Hex(std::int32_t value) { return Escaped("0x%04X", static_cast<std::uint32_t>(value)); }

std::string ListText(const std::vector<Instrument>& list) {
  std::vector<std::vector<std::string>> rows = {{"#", "Model", "Serial", "Firmware", "Type", "Channels"}};
  for (const auto& i : list) rows.push_back(ListRow(i));
  return Columns(rows);
}

std::string ListJson(const std::vector<Instrument>& list) {
  std::string out = "[";
  for (const auto& i : list) out += (out.size() > 1 ? ",\n " : "") + InstrumentJson(i, true);
  return out + "]\n";
}

std::string InfoText(const Instrument& i) {
  std::vector<std::vector<std::string>> rows = {
      {"Model:", Shown(i.model)},     {"Serial:", Shown(i.serial)},
      {"Firmware:", Shown(i.firmware)}, {"Type:", Hex(i.type)},
      {"Vendor:", Hex(i.vendor)},     {"Channels:", std::to_string(i.channels)},
      {"Description:", Shown(i.description)}, {"Path:", Shown(i.path)}};
  for (std::size_t n = 0; n < i.channelNames.size(); ++n)
    rows.push_back({"Channel " + std::to_string(n + 1) + ":", Shown(i.channelNames[n])});
  return Columns(rows);
}

std::string InfoJson(const Instrument& i) { return InstrumentJson(i, false) + "\n"; }

std::string ReplyText(const Reply& r, const std::optional<RoundTrips>& timing) {
  std::string out = Columns({{"DevType:", std::to_string(r.devType) + " (" + Hex(r.devType) + ")"},
                             {"Channel:", std::to_string(r.channel)},
                             {"OpType:", std::to_string(r.opType)},
                             {"OpCode:", std::to_string(r.opCode)},
                             {"EndCode:", std::to_string(r.endCode)},
                             {"Data:", Shown(r.data)}});
  if (timing)
    out += "Round trip over " + std::to_string(timing->runs) + " queries: min " + Milliseconds(timing->minMs) +
           " ms, median " + Milliseconds(timing->medianMs) + " ms, max " + Milliseconds(timing->maxMs) + " ms\n";
  return out;
}

std::string ReplyJson(const Reply& r, const std::optional<RoundTrips>& timing) {
  std::string out = "{" + Field("DevType", std::to_string(r.devType)) + ", " +
                    Field("Channel", std::to_string(r.channel)) + ", " + Field("OpType", std::to_string(r.opType)) +
                    ", " + Field("OpCode", std::to_string(r.opCode)) + ", " +
                    Field("EndCode", std::to_string(r.endCode)) + ", " + Field("Data", JsonString(r.data));
  if (timing)
    out += ", " + Field("RoundTripMs", "{" + Field("runs", std::to_string(timing->runs)) + ", " +
                                           Field("min", Milliseconds(timing->minMs)) + ", " +
                                           Field("median", Milliseconds(timing->medianMs)) + ", " +
                                           Field("max", Milliseconds(timing->maxMs)) + "}");
  return out + "}\n";
}

std::string ChangeLine(bool appeared, const Instrument& i) {
  std::string line = appeared ? "+" : "-";
  for (const auto& cell : ListRow(i)) line += " " + cell;
  return line + "\n";
}

const Instrument* FindInstrument(const std::vector<Instrument>& list, std::u16string_view device) {
  for (const auto& i : list)
    if (WithoutZeros(i.serial) == device) return &i;
  if (const auto index = ParseNumber(device); index && device.find_first_not_of(u"0123456789") == device.npos)
    for (const auto& i : list)
      if (i.index == *index) return &i;
  for (const auto& i : list)
    if (i.path == device || SameNoCase(WithoutZeros(i.path), device)) return &i;
  return nullptr;
}

Changes Compare(const std::vector<Instrument>& before, const std::vector<Instrument>& now) {
  auto missingFrom = [](const std::vector<Instrument>& from, const std::vector<Instrument>& in) {
    std::vector<Instrument> out;
    for (const auto& i : from)
      if (std::none_of(in.begin(), in.end(), [&](const Instrument& o) { return o.path == i.path; })) out.push_back(i);
    return out;
  };
  return {missingFrom(now, before), missingFrom(before, now)};
}

}  // namespace velcorin::cli
