#include "cli/core/arguments.h"

#include <algorithm>
#include <array>
#include <functional>

namespace velcorin::cli {
namespace {

std::optional<std::uint32_t> DigitsValue(std::u16string_view digits, unsigned base, std::uint64_t limit) {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char16_t c : digits) {
    unsigned digit = 0;
    if (c >= u'0' && c <= u'9') digit = c - u'0';
    else if (base == 16 && c >= u'a' && c <= u'f') digit = c - u'a' + 10;
    else if (base == 16 && c >= u'A' && c <= u'F') digit = c - u'A' + 10;
    else return std::nullopt;
    if (digit >= base) return std::nullopt;
    value = value * base + digit;
    if (value > limit) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char16_t c = text[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

enum class Kind { Flag, Number, Text };

constexpr unsigned Bit(Verb verb) { return 1u << static_cast<unsigned>(verb); }
constexpr unsigned kList = Bit(Verb::List), kQuery = Bit(Verb::Query);

struct OptionDefinition {
  std::u16string_view name;
  Kind kind;
  unsigned verbs;  // where it is allowed: a mask of Bit(verb)
  std::function<void(Invocation&, std::int32_t, std::u16string_view)> apply;
};

void AddFilter(Invocation& in, bool exclude, bool byId, std::int32_t token) {
  in.filters.push_back({exclude, byId, token});
}

const std::vector<OptionDefinition>& Options() {
  static const std::vector<OptionDefinition> definitions = {
      {u"--json", Kind::Flag, kList | Bit(Verb::Info) | kQuery, [](Invocation& in, auto, auto) { in.json = true; }},
      {u"--class", Kind::Number, kList, [](Invocation& in, std::int32_t n, auto) { AddFilter(in, false, false, n); }},
      {u"--id", Kind::Number, kList, [](Invocation& in, std::int32_t n, auto) { AddFilter(in, false, true, n); }},
      {u"--exclude-class", Kind::Number, kList, [](Invocation& in, std::int32_t n, auto) { AddFilter(in, true, false, n); }},
      {u"--exclude-id", Kind::Number, kList, [](Invocation& in, std::int32_t n, auto) { AddFilter(in, true, true, n); }},
      {u"--op", Kind::Number, kQuery, [](Invocation& in, std::int32_t n, auto) { in.query.opType = n; }},
      {u"--code", Kind::Number, kQuery, [](Invocation& in, std::int32_t n, auto) { in.query.opCode = n; }},
      {u"--type", Kind::Number, kQuery, [](Invocation& in, std::int32_t n, auto) { in.query.devType = n; }},
      {u"--channel", Kind::Number, kQuery, [](Invocation& in, std::int32_t n, auto) { in.query.channel = n; }},
      {u"--data", Kind::Text, kQuery, [](Invocation& in, auto, std::u16string_view t) { in.query.data = t; }},
      {u"--repeat", Kind::Number, kQuery, [](Invocation& in, std::int32_t n, auto) {
         if (n < 1 || static_cast<std::uint32_t>(n) > kMaxRepeat)
           throw UsageError("--repeat must be 1 to " + std::to_string(kMaxRepeat) + ", not " + std::to_string(n));
         in.query.repeat = static_cast<std::uint32_t>(n);
       }},
  };
  return definitions;
}

bool Allowed(const OptionDefinition& option, Verb verb) { return (option.verbs & Bit(verb)) != 0; }

struct VerbName {
  std::u16string_view name;
  Verb verb;
  std::size_t positionals;  // besides the options
};
constexpr std::array<VerbName, 7> kVerbs = {{{u"help", Verb::Help, 0}, {u"list", Verb::List, 0},
                                             {u"info", Verb::Info, 1}, {u"query", Verb::Query, 1},
                                             {u"cal", Verb::Cal, 3}, {u"choose", Verb::Choose, 0},
                                             {u"watch", Verb::Watch, 0}}};

const VerbName& FindVerb(std::u16string_view word) {
  for (const auto& v : kVerbs)
    if (v.name == word) return v;
  throw UsageError("unknown command '" + Utf8(word) + "'");
}

void ApplyOption(Invocation& in, const VerbName& verb, std::u16string_view arg,
                 const std::vector<std::u16string>& args, std::size_t& i) {
  const auto equals = arg.find(u'=');
  const std::u16string_view name = arg.substr(0, equals);
  const auto option = std::find_if(Options().begin(), Options().end(), [&](const auto& s) { return s.name == name; });
  if (option == Options().end() || !Allowed(*option, verb.verb))
    throw UsageError("unknown option '" + Utf8(name) + "' for " + Utf8(verb.name));
  if (option->kind == Kind::Flag) {
    if (equals != std::u16string_view::npos) throw UsageError(Utf8(name) + " takes no value");
    option->apply(in, 0, {});
    return;
  }
  std::u16string_view value;
  if (equals != std::u16string_view::npos) value = arg.substr(equals + 1);
  else if (i + 1 < args.size()) value = args[++i];
  else throw UsageError(Utf8(name) + (option->kind == Kind::Number ? " needs a number" : " needs a value"));
  if (option->kind == Kind::Text) return option->apply(in, 0, value);
  const auto number = ParseNumber(value);
  if (!number)
    throw UsageError(Utf8(name) + ": '" + Utf8(value) + "' is not a 32-bit number (decimal, 0x or &H hexadecimal)");
  option->apply(in, *number, {});
}

void TakePositionals(Invocation& in, const VerbName& verb, const std::vector<std::u16string>& words) {
  const std::string command = Utf8(verb.name);
  if (verb.verb == Verb::Help) return;
  if (verb.positionals > 0 && words.empty())
    throw UsageError(command + " needs DEVICE (a serial number, an index from list or a device path)");
  if (verb.verb == Verb::Cal) {
    if (words.size() >= 2 && words[1] == u"enter") {
      if (words.size() < 3) throw UsageError("cal DEVICE enter needs the PASSWORD");
      if (words.size() > 3) throw UsageError("unexpected argument '" + Utf8(words[3]) + "'");
      in.enterCalMode = true;
      in.password = words[2];
    } else if (words.size() == 2 && words[1] == u"exit") {
      in.enterCalMode = false;
    } else {
      throw UsageError(words.size() < 2 ? "cal DEVICE needs 'enter PASSWORD' or 'exit'"
                                        : "cal: '" + Utf8(words[1]) + "' is neither 'enter PASSWORD' nor 'exit'");
    }
  } else if (words.size() > verb.positionals) {
    throw UsageError("unexpected argument '" + Utf8(words[verb.positionals]) + "' for " + command);
  }
  if (!words.empty()) in.device = words[0];
}

}  // namespace

std::optional<std::int32_t> ParseNumber(std::u16string_view text) {
  if (StartsWithNoCase(text, u"0x") || StartsWithNoCase(text, u"&h")) {
    const auto digits = text.substr(2);
    if (digits.size() > 8) return std::nullopt;
    const auto value = DigitsValue(digits, 16, 0xFFFFFFFFull);
    if (!value) return std::nullopt;
    return static_cast<std::int32_t>(*value);
  }
  const bool negative = !text.empty() && text[0] == u'-';
  if (!text.empty() && (text[0] == u'-' || text[0] == u'+')) text.remove_prefix(1);
  const auto value = DigitsValue(text, 10, negative ? 0x80000000ull : 0x7FFFFFFFull);
  if (!value) return std::nullopt;
  return static_cast<std::int32_t>(negative ? 0u - *value : *value);
}

Invocation ParseArguments(const std::vector<std::u16string>& args) {
  Invocation in;
  if (args.empty()) throw UsageError("a command is needed");
  const VerbName& verb = args[0] == u"--help" || args[0] == u"-h" ? kVerbs[0] : FindVerb(args[0]);
  in.verb = verb.verb;
  std::vector<std::u16string> words;
  bool optionsEnded = false;
  bool sawOp = false, sawCode = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::u16string_view arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != u'-' || ParseNumber(arg)) {
      words.emplace_back(arg);
    } else if (arg == u"--") {
      optionsEnded = true;
    } else if (arg == u"--help" || arg == u"-h") {
      in.verb = Verb::Help;
      return in;
    } else {
      sawOp |= arg.starts_with(u"--op");
      sawCode |= arg.starts_with(u"--code");
      ApplyOption(in, verb, arg, args, i);
    }
  }
  TakePositionals(in, verb, words);
  if (in.verb == Verb::Query && !sawOp) throw UsageError("query needs --op N");
  if (in.verb == Verb::Query && !sawCode) throw UsageError("query needs --code N");
  return in;
}

std::string Utf8(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    else if (c >= 0xD800 && c <= 0xDFFF)
      c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string UsageText() {
  return R"(usage: velcorin COMMAND [options]
  list [--class N] [--id N] [--exclude-class N] [--exclude-id N] [--json]
        the instruments attached; filters apply in the order given, the first
        that matches decides; with only --exclude-* filters, all others are listed
  info DEVICE [--json]
        every identity field of one instrument, with its channel names
  query DEVICE --op N --code N [--type N] [--channel N] [--data TEXT] [--repeat N] [--json]
        send one command and print the reply; --repeat N also times N round trips
  cal DEVICE enter PASSWORD
  cal DEVICE exit
        enter or leave the instrument's calibration mode
  choose
        show the "Select Device" dialog and print the chosen instrument's path
  watch
        print a line whenever an instrument appears (+) or goes away (-), until Ctrl+C
DEVICE is a serial number, an index from list, or a device path.
N is decimal, 0x or &H hexadecimal.
Exit status: 0 done; 1 not found, refused or no reply; 2 bad usage;
3 the component raised an error.
)";
}

}  // namespace velcorin::cli
