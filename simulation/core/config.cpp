#include "simulation/core/config.h"

#include <algorithm>
#include <charconv>
#include <functional>

#include "common/core/hex_digit.h"

namespace velcorin::sim {
namespace {

constexpr std::int64_t kMaxChannelKey = 32767;

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return out;
}

[[noreturn]] void Fail(int line, const std::string& what) {
  throw ConfigError("line " + std::to_string(line) + ": " + what);
}

// A quoted value keeps its spaces and may hold any byte: \\ \" \0 \xHH.
std::string Unquote(std::string_view quoted, int line) {
  std::string out;
  for (std::size_t i = 1; i + 1 < quoted.size(); ++i) {
    if (quoted[i] != '\\') {
      out += quoted[i];
      continue;
    }
    if (++i + 1 >= quoted.size()) Fail(line, "unfinished escape");
    const char c = quoted[i];
    if (c == '\\' || c == '"') {
      out += c;
    } else if (c == '0') {
      out += '\0';
    } else if (c == 'x' && i + 2 < quoted.size() && HexDigitValue(quoted[i + 1]) >= 0 &&
               HexDigitValue(quoted[i + 2]) >= 0) {
      out += static_cast<char>(HexDigitValue(quoted[i + 1]) * 16 + HexDigitValue(quoted[i + 2]));
      i += 2;
    } else {
      Fail(line, "unknown escape \\" + std::string(1, c));
    }
  }
  return out;
}

std::string ValueText(std::string_view raw, int line) {
  if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') return Unquote(raw, line);
  if (!raw.empty() && raw.front() == '"') Fail(line, "missing closing quote");
  return std::string(raw);
}

std::optional<std::int64_t> ParseInteger(std::string_view text) {
  text = Trim(text);
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  std::uint64_t magnitude = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  if (magnitude > (negative ? 0x8000000000000000ULL : 0x7FFFFFFFFFFFFFFFULL)) return std::nullopt;
  return negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
}

std::int64_t IntegerIn(std::string_view text, std::int64_t low, std::int64_t high, int line) {
  const auto value = ParseInteger(text);
  if (!value || *value < low || *value > high) Fail(line, "not a number in range: " + std::string(text));
  return *value;
}

bool Flag(std::string_view text, int line) {
  const std::string word = Lower(text);
  if (word == "yes" || word == "true" || word == "on" || word == "1") return true;
  if (word == "no" || word == "false" || word == "off" || word == "0") return false;
  Fail(line, "expected yes or no: " + std::string(text));
}

std::set<std::int64_t> NumberList(std::string_view text, int line) {
  std::set<std::int64_t> numbers;
  while (!Trim(text).empty()) {
    const auto comma = text.find(',');
    numbers.insert(IntegerIn(text.substr(0, comma), 1, INT64_MAX, line));
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return numbers;
}

// The serial becomes part of a device instance id and of a device path.
bool IsValidSerial(std::string_view serial) {
  if (serial.empty() || serial.size() > 64) return false;
  return std::all_of(serial.begin(), serial.end(), [](unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '-' ||
           c == '.';
  });
}

using Setter = std::function<void(InstrumentConfig&, const std::string&, int)>;

const std::map<std::string, Setter, std::less<>>& Setters() {
  static const std::map<std::string, Setter, std::less<>> setters = {
      {"model", [](auto& c, auto& v, int) { c.model = v; }},
      {"serial", [](auto& c, auto& v, int) { c.serial = v; }},
      {"firmware", [](auto& c, auto& v, int) { c.firmware = v; }},
      {"description", [](auto& c, auto& v, int) { c.description = v; }},
      {"type", [](auto& c, auto& v, int l) { c.typeCode = IntegerIn(v, INT64_MIN, INT64_MAX, l); }},
      {"channels", [](auto& c, auto& v, int l) { c.channelCount = IntegerIn(v, INT64_MIN, INT64_MAX, l); }},
      {"padding",
       [](auto& c, auto& v, int l) {
         const std::string word = Lower(v);
         if (word != "spaces" && word != "zeros") Fail(l, "padding is spaces or zeros");
         c.padding = word == "spaces" ? Padding::Spaces : Padding::Zeros;
       }},
      {"password", [](auto& c, auto& v, int) { c.password = v; }},
      {"wrong_password_code",
       [](auto& c, auto& v, int l) {
         c.wrongPasswordCode = static_cast<std::int32_t>(IntegerIn(v, INT32_MIN, INT32_MAX, l));
       }},
      {"free_on_close", [](auto& c, auto& v, int l) { c.freeOnClose = Flag(v, l); }},
      {"silent", [](auto& c, auto& v, int l) { c.silent = Flag(v, l); }},
      {"fail_transfers", [](auto& c, auto& v, int l) { c.failTransfers = NumberList(v, l); }},
      {"fail_mode",
       [](auto& c, auto& v, int l) {
         const std::string word = Lower(v);
         if (word != "noreply" && word != "empty") Fail(l, "fail_mode is noreply or empty");
         c.failMode = word == "noreply" ? FailMode::NoReply : FailMode::EmptyMessage;
       }},
      {"delay_ms", [](auto& c, auto& v, int l) { c.delayMs = static_cast<std::uint32_t>(IntegerIn(v, 0, 600000, l)); }},
      {"delay_transfers", [](auto& c, auto& v, int l) { c.delayTransfers = NumberList(v, l); }},
      {"devtype_text", [](auto& c, auto& v, int) { c.devTypeText = v; }},
      {"chanct_text", [](auto& c, auto& v, int) { c.chanCtText = v; }},
      {"answer_channels", [](auto& c, auto& v, int l) { c.answerChannels = Flag(v, l); }},
      {"random_replies", [](auto& c, auto& v, int l) { c.randomReplies = Flag(v, l); }},
      {"random_sizes", [](auto& c, auto& v, int l) { c.randomSizes = Flag(v, l); }},
      {"random_seed",
       [](auto& c, auto& v, int l) { c.randomSeed = static_cast<std::uint64_t>(IntegerIn(v, 0, INT64_MAX, l)); }},
      {"random_transfers", [](auto& c, auto& v, int l) { c.randomTransfers = NumberList(v, l); }},
      {"unplug_after", [](auto& c, auto& v, int l) { c.unplugAfter = IntegerIn(v, 1, INT64_MAX, l); }},
  };
  return setters;
}

void ApplyKey(InstrumentConfig& config, std::string_view key, const std::string& value, int line) {
  const std::string name = Lower(key);
  if (name.rfind("channel", 0) == 0 && name.size() > 7 && name != "channels") {
    const auto channel = ParseInteger(std::string_view(name).substr(7));
    if (!channel || *channel < 1 || *channel > kMaxChannelKey) Fail(line, "bad channel key " + name);
    config.channelNames[*channel] = value;
    return;
  }
  const auto setter = Setters().find(name);
  if (setter == Setters().end()) Fail(line, "unknown key " + std::string(key));
  setter->second(config, value, line);
}

void CheckInstrument(const InstrumentConfig& config, const std::vector<InstrumentConfig>& earlier, int line) {
  if (!IsValidSerial(config.serial)) {
    Fail(line, "[" + config.section + "] needs a serial of 1-64 letters, digits, '_', '-' or '.'");
  }
  if (config.randomSizes && !config.randomReplies) Fail(line, "random_sizes needs random_replies = yes");
  for (const auto& other : earlier) {
    if (Lower(other.serial) == Lower(config.serial)) Fail(line, "serial " + config.serial + " used twice");
  }
}

}  // namespace

std::string InstrumentConfig::ChannelName(std::int64_t channel) const {
  const auto named = channelNames.find(channel);
  return named != channelNames.end() ? named->second : "Channel " + std::to_string(channel);
}

std::vector<InstrumentConfig> ParseConfig(std::string_view text) {
  std::vector<InstrumentConfig> instruments;
  std::optional<InstrumentConfig> current;
  int sectionLine = 0;
  auto finishSection = [&] {
    if (!current) return;
    CheckInstrument(*current, instruments, sectionLine);
    instruments.push_back(std::move(*current));
    current.reset();
  };

  int lineNumber = 0;
  while (!text.empty()) {
    const auto newline = text.find('\n');
    const std::string_view line = Trim(text.substr(0, newline));
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    ++lineNumber;
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      if (line.back() != ']') Fail(lineNumber, "section header without ]");
      finishSection();
      current.emplace();
      current->section = std::string(Trim(line.substr(1, line.size() - 2)));
      sectionLine = lineNumber;
      continue;
    }
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) Fail(lineNumber, "expected key = value");
    if (!current) Fail(lineNumber, "key before the first [section]");
    ApplyKey(*current, Trim(line.substr(0, equals)), ValueText(Trim(line.substr(equals + 1)), lineNumber), lineNumber);
  }
  finishSection();
  return instruments;
}

}  // namespace velcorin::sim
