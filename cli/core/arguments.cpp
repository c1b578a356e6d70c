#include "cli/core/arguments.h"

#include <algorithm>
#include <functional>

#include "cli/core/text_columns.h"
#include "wire/report.h"

namespace velcorin::cli {
namespace {

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && SameNoCase(text.substr(0, prefix.size()), prefix);
}

std::optional<std::uint32_t> DigitsValue(std::u16string_view digits, unsigned base, std::uint64_t limit) {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char16_t c : digits) {
    unsigned digit = 0;
    if (c >= u'0' && c <= u'9')
      digit = c - u'0';
    else if (base == 16 && LowerAscii(c) >= u'a' && LowerAscii(c) <= u'f')
      digit = LowerAscii(c) - u'a' + 10;
    else
      return std::nullopt;
    if (digit >= base) return std::nullopt;
    value = value * base + digit;
    if (value > limit) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

const CommandDefinition& Command(Verb verb) {
  return *std::find_if(Commands().begin(), Commands().end(), [&](const auto& c) { return c.verb == verb; });
}

std::string Name(Verb verb) { return Utf8(Command(verb).name); }

const CommandDefinition& FindCommand(std::u16string_view word) {
  for (const auto& c : Commands())
    if (SameNoCase(c.name, word)) return c;
  throw UsageError("unknown command '" + Utf8(word) + "'");
}

bool IsHelpFlag(std::u16string_view arg) {
  return SameNoCase(arg, u"--help") || SameNoCase(arg, u"-h") || arg == u"/?";
}

enum class Kind { Flag, Number, Text };

constexpr unsigned Bit(Verb verb) { return 1u << static_cast<unsigned>(verb); }
constexpr unsigned kEveryCommand = ~(Bit(Verb::Help) | Bit(Verb::Version));
constexpr unsigned kList = Bit(Verb::List), kQuery = Bit(Verb::Query), kTrace = Bit(Verb::Trace);
// Those that talk to instruments, and so have I/O to trace or to simulate.
constexpr unsigned kTraceable = kEveryCommand & ~kTrace;

struct OptionDefinition {
  std::u16string_view name;
  Kind kind;
  unsigned verbs;  // where it is allowed: a mask of Bit(verb)
  std::string_view value, help;
  std::function<void(Invocation&, std::int32_t, std::u16string_view)> apply;
};

void AddFilter(Invocation& in, bool exclude, bool byId, std::int32_t token) {
  in.filters.push_back({exclude, byId, token});
}

void CheckData(std::u16string_view data) {
  if (data.size() > kReportDataSize)
    throw UsageError("--data holds at most " + std::to_string(kReportDataSize) +
                     " characters (a packet's data field), not " + std::to_string(data.size()));
}

const std::vector<OptionDefinition>& Options() {
  static const std::vector<OptionDefinition> definitions = {
      {u"--json", Kind::Flag, kEveryCommand, "", "print JSON instead of text (see the README for its fields)",
       [](Invocation& in, auto, auto) { in.json = true; }},
      {u"--class", Kind::Number, kList, "N", "take in instruments of device class N (type code with the low 8 bits 0)",
       [](Invocation& in, std::int32_t n, auto) { AddFilter(in, false, false, n); }},
      {u"--id", Kind::Number, kList, "N", "take in instruments whose type code is N",
       [](Invocation& in, std::int32_t n, auto) { AddFilter(in, false, true, n); }},
      {u"--exclude-class", Kind::Number, kList, "N", "leave out device class N",
       [](Invocation& in, std::int32_t n, auto) { AddFilter(in, true, false, n); }},
      {u"--exclude-id", Kind::Number, kList, "N", "leave out type code N",
       [](Invocation& in, std::int32_t n, auto) { AddFilter(in, true, true, n); }},
      {u"--op", Kind::Text, kQuery, "OP", "the packet's OpType: a number or a name below (required)",
       [](Invocation& in, auto, std::u16string_view t) { in.packet.opType = t; }},
      {u"--code", Kind::Text, kQuery, "CODE", "the packet's OpCode: a number or a name below (required)",
       [](Invocation& in, auto, std::u16string_view t) { in.packet.opCode = t; }},
      {u"--type", Kind::Number, kQuery, "N", "the packet's DevType (default 0)",
       [](Invocation& in, std::int32_t n, auto) { in.packet.devType = n; }},
      {u"--channel", Kind::Number, kQuery, "N", "the packet's Channel (default 0)",
       [](Invocation& in, std::int32_t n, auto) { in.packet.channel = n; }},
      {u"--data", Kind::Text, kQuery, "TEXT", "the packet's Data, up to 17 characters (default empty)",
       [](Invocation& in, auto, std::u16string_view t) {
         CheckData(t);
         in.packet.data = t;
       }},
      {u"--repeat", Kind::Number, kQuery, "N", "send it N times and time the round trips",
       [](Invocation& in, std::int32_t n, auto) {
         if (n < 1 || static_cast<std::uint32_t>(n) > kMaxRepeat)
           throw UsageError("--repeat must be 1 to " + std::to_string(kMaxRepeat) + ", not " + std::to_string(n));
         in.repeat = static_cast<std::uint32_t>(n);
       }},
      {u"--instrument", Kind::Text, kTrace, "SERIAL", "only the lines of the instrument with this serial number",
       [](Invocation& in, auto, std::u16string_view t) { in.traceShow.instrument = t; }},
      {u"--since", Kind::Text, kTrace, "TIME", "only lines from TIME on (UTC): HH:MM:SS[.f] or YYYY-MM-DDTHH:MM:SS[.f]",
       [](Invocation& in, auto, std::u16string_view t) { in.traceShow.since = std::u16string(t); }},
      {u"--trace", Kind::Text, kTraceable, "FILE", "write this run's I/O into FILE (see velcorin help trace)",
       [](Invocation& in, auto, std::u16string_view t) {
         if (t.empty()) throw UsageError("--trace needs FILE");
         in.traceTo = std::u16string(t);
       }},
      {u"--simulate", Kind::Text, kTraceable, "FILE",
       "use the simulated instruments of FILE (a configuration or a trace), never a real one",
       [](Invocation& in, auto, std::u16string_view t) {
         if (t.empty()) throw UsageError("--simulate needs FILE");
         in.simulateFrom = std::u16string(t);
       }},
  };
  return definitions;
}

bool Allowed(const OptionDefinition& option, Verb verb) { return (option.verbs & Bit(verb)) != 0; }

void ApplyOption(Invocation& in, std::u16string_view arg, const std::vector<std::u16string>& args, std::size_t& i) {
  const auto equals = arg.find(u'=');
  const std::u16string_view name = arg.substr(0, equals);
  const auto option =
      std::find_if(Options().begin(), Options().end(), [&](const auto& o) { return SameNoCase(o.name, name); });
  const std::string shownName = option == Options().end() ? Utf8(name) : Utf8(option->name);
  if (option == Options().end() || !Allowed(*option, in.verb))
    throw UsageError("unknown option '" + shownName + "' for " + Name(in.verb));
  if (option->kind == Kind::Flag) {
    if (equals != std::u16string_view::npos) throw UsageError(shownName + " takes no value");
    option->apply(in, 0, {});
    return;
  }
  std::u16string_view value;
  if (equals != std::u16string_view::npos)
    value = arg.substr(equals + 1);
  else if (i + 1 < args.size())
    value = args[++i];
  else
    throw UsageError(shownName + " needs " + std::string(option->value));
  if (option->kind == Kind::Text) return option->apply(in, 0, value);
  const auto number = ParseNumber(value);
  if (!number)
    throw UsageError(shownName + ": '" + Utf8(value) + "' is not a 32-bit number (decimal, 0x or &H hexadecimal)");
  option->apply(in, *number, {});
}

void TakeCalWords(Invocation& in, const std::vector<std::u16string>& words) {
  if (words.size() < 2) throw UsageError("cal DEVICE needs 'enter [PASSWORD]' or 'exit'");
  if (SameNoCase(words[1], u"enter")) {
    in.enterCalMode = true;
    if (words.size() > 3) throw UsageError("unexpected argument '" + Utf8(words[3]) + "' for cal");
    if (words.size() > 2) in.password = words[2];
  } else if (SameNoCase(words[1], u"exit")) {
    if (words.size() > 2) throw UsageError("unexpected argument '" + Utf8(words[2]) + "' after cal DEVICE exit");
  } else {
    throw UsageError("cal: '" + Utf8(words[1]) + "' is neither 'enter' nor 'exit'");
  }
}

void TakeTraceWords(Invocation& in, const std::vector<std::u16string>& words) {
  if (words.empty() || !SameNoCase(words[0], u"show")) throw UsageError("trace needs 'show FILE'");
  if (words.size() < 2) throw UsageError("trace show needs the trace FILE");
  if (words.size() > 2) throw UsageError("unexpected argument '" + Utf8(words[2]) + "' for trace show");
  in.traceShow.file = words[1];
}

void TakeWords(Invocation& in, const std::vector<std::u16string>& words) {
  const CommandDefinition& command = Command(in.verb);
  const std::string name = Utf8(command.name);
  if (in.verb == Verb::Help) {
    if (words.size() > 1) throw UsageError("unexpected argument '" + Utf8(words[1]) + "' for help");
    if (!words.empty()) in.helpFor = FindCommand(words[0]).verb;
    return;
  }
  if (in.verb == Verb::Trace) return TakeTraceWords(in, words);
  if (words.size() < command.minWords) {
    if (command.words.starts_with("DEVICE") && words.empty())
      throw UsageError(name + " needs DEVICE (a serial number, an index from list or a device path)");
    throw UsageError(name + " needs " + std::string(command.words));
  }
  if (in.verb == Verb::Cal)
    TakeCalWords(in, words);
  else if (words.size() > command.maxWords)
    throw UsageError("unexpected argument '" + Utf8(words[command.maxWords]) + "' for " + name);
  if (!words.empty() && command.words.starts_with("DEVICE")) in.device = words[0];
}

bool LooksLikeOption(std::u16string_view arg) { return arg.size() >= 2 && arg[0] == u'-' && !ParseNumber(arg); }

// The options that may also stand before the command: they say how the run's
// instruments are reached, not what the command does.
bool IsRunOption(std::u16string_view arg) {
  for (const std::u16string_view name : {u"--trace", u"--simulate"})
    if (SameNoCase(arg, name) || StartsWithNoCase(arg, std::u16string(name) + u"=")) return true;
  return false;
}

// "--trace FILE COMMAND ..." reads as "COMMAND --trace FILE ...": the command
// decides where an option is allowed.
std::vector<std::u16string> CommandFirst(std::vector<std::u16string> args) {
  std::size_t command = 0;
  while (command < args.size() && IsRunOption(args[command]))
    command += args[command].find(u'=') == args[command].npos ? 2 : 1;
  if (command == 0) return args;
  if (command > args.size()) throw UsageError(Utf8(args.back()) + " needs FILE");
  if (command == args.size()) throw UsageError("a command is needed after " + Utf8(args[command - 2]) + " FILE");
  std::rotate(args.begin(), args.begin() + static_cast<std::ptrdiff_t>(command),
              args.begin() + static_cast<std::ptrdiff_t>(command) + 1);
  return args;
}

// The family prefix: the name up to its second capital letter ("Cmd" of "CmdFwVer").
std::u16string_view Prefix(std::u16string_view name) {
  for (std::size_t i = 1; i < name.size(); ++i)
    if (name[i] >= u'A' && name[i] <= u'Z') return name.substr(0, i);
  return {};
}

std::vector<std::u16string> SplitWords(std::u16string_view line) {
  std::vector<std::u16string> words;
  std::size_t i = 0;
  while (true) {
    while (i < line.size() && (line[i] == u' ' || line[i] == u'\t')) ++i;
    if (i == line.size()) return words;
    std::u16string word;
    bool quoted = false;
    for (; i < line.size() && (quoted || (line[i] != u' ' && line[i] != u'\t')); ++i) {
      if (line[i] == u'"')
        quoted = !quoted;
      else if (quoted && line[i] == u'\\' && i + 1 < line.size() && (line[i + 1] == u'"' || line[i + 1] == u'\\'))
        word += line[++i];
      else
        word += line[i];
    }
    if (quoted) throw UsageError("a quote is not closed");
    words.push_back(std::move(word));
  }
}

std::int32_t ShellNumber(const std::u16string& word, std::string_view what) {
  const auto number = ParseNumber(word);
  if (!number) throw UsageError(std::string(what) + ": '" + Utf8(word) + "' is not a 32-bit number");
  return *number;
}

PacketOptions ShellPacket(const std::vector<std::u16string>& words) {
  if (words.size() < 3) throw UsageError(Utf8(words[0]) + " needs OP and CODE");
  if (words.size() > 6) throw UsageError("unexpected argument '" + Utf8(words[6]) + "'");
  PacketOptions packet;
  packet.opType = words[1];
  packet.opCode = words[2];
  if (words.size() > 3) packet.devType = ShellNumber(words[3], "TYPE");
  if (words.size() > 4) packet.channel = ShellNumber(words[4], "CHANNEL");
  if (words.size() > 5) {
    CheckData(words[5]);
    packet.data = words[5];
  }
  return packet;
}

void NoMoreThan(const std::vector<std::u16string>& words, std::size_t count) {
  if (words.size() > count) throw UsageError("unexpected argument '" + Utf8(words[count]) + "'");
}

std::string Wrapped(const std::vector<std::string>& items, std::string_view indent) {
  std::string out, line(indent);
  for (const auto& item : items) {
    if (line.size() > indent.size() && line.size() + item.size() + 1 > 79) {
      out += line + "\n";
      line = indent;
    }
    line += (line.size() > indent.size() ? " " : "") + item;
  }
  return out + line + "\n";
}

std::string NamesList(std::string_view title, const NamedValues& names) {
  std::vector<std::string> items;
  for (const auto& n : names) items.push_back(Utf8(n.name) + "=" + std::to_string(n.value));
  return std::string(title) + ":\n" + Wrapped(items, "  ");
}

std::string Padded(std::string text, std::size_t width) {
  text.resize(std::max(width, text.size() + 1), ' ');
  return text;
}

std::string OptionsHelp(Verb verb) {
  std::string out;
  for (const auto& o : Options())
    if (Allowed(o, verb))
      out += "  " + Padded(Utf8(o.name) + (o.value.empty() ? "" : " " + std::string(o.value)), 20) +
             std::string(o.help) + "\n";
  return out + "  " + Padded("--help, -h, /?", 20) + "this help\n";
}

std::string CommandHelp(Verb verb, const Enumerations* names) {
  const CommandDefinition& c = Command(verb);
  std::string out = "usage: velcorin " + Utf8(c.name) + (c.words.empty() ? "" : " " + std::string(c.words)) +
                    " [options]\n" + std::string(c.details) + "options:\n" + OptionsHelp(verb);
  if (verb == Verb::Shell) out += ShellHelpText();
  if (verb != Verb::Query && verb != Verb::Shell) return out;
  if (!names)
    return out + "(the names of op types, op codes and end codes come from Velcorin.dll, which did not load)\n";
  return out + "OP and CODE are numbers or these names (any case, with or without the prefix):\n" +
         NamesList("op types (--op)", names->opTypes) + NamesList("op codes (--code)", names->opCodes) +
         NamesList("end codes (in the reply)", names->endCodes);
}

}  // namespace

const std::vector<CommandDefinition>& Commands() {
  static const std::vector<CommandDefinition> commands = {
      {u"list", Verb::List, "", 0, 0, "the instruments attached, one line each",
       "One line per instrument: index, model, serial number, firmware, type code and channel\n"
       "count; an instrument the system lists but that is in use or not answering gets a\n"
       "line of its own with its path. Indexes follow the system's device list. Filters\n"
       "apply in the order given and the first that matches decides; with only --exclude-*\n"
       "filters every other instrument is listed.\n"},
      {u"info", Verb::Info, "DEVICE", 1, 1, "every identity field of one instrument",
       "Every identity field of one instrument, its channel names included.\n"},
      {u"query", Verb::Query, "DEVICE", 1, 1, "send one command packet and print the reply",
       "Sends one command packet (QueryDev) and prints the reply's fields. Status 1 when the\n"
       "instrument refuses it (an end code other than 0) or does not reply.\n"},
      {u"cal", Verb::Cal, "DEVICE enter [PASSWORD] | DEVICE exit", 1, 3, "enter or leave calibration mode",
       "Enters or leaves the instrument's calibration mode. Without PASSWORD, enter asks for\n"
       "it without echo on a console, or reads one line from standard input.\n"},
      {u"choose", Verb::Choose, "", 0, 0, "pick an instrument in the \"Select Device\" dialog",
       "Shows the \"Select Device\" dialog and prints the chosen instrument's path; status 1\n"
       "on Cancel.\n"},
      {u"watch", Verb::Watch, "", 0, 0, "print a line whenever an instrument comes, goes or is taken",
       "Prints a time and a line like list's whenever an instrument appears or becomes usable\n"
       "(+), goes away (-), or is present but in use or not answering (!), until Ctrl+C.\n"},
      {u"shell", Verb::Shell, "DEVICE", 1, 1, "keep one instrument open and read commands",
       "Opens one instrument and reads commands, one a line, from the console or from a\n"
       "pipe; prints each reply as query does. Status: 0 when every line succeeded, else\n"
       "that of the first line that failed.\n"},
      {u"trace", Verb::Trace, "show FILE", 2, 2, "print a trace file, one line per exchange",
       "Prints a trace that --trace FILE or VELCORIN_TRACE wrote: one line per exchange, the\n"
       "command and its reply side by side, codes by name, the round trip in ms and trouble\n"
       "marked '!'. Texts from the trace show in printable ASCII, other bytes as \\xNN.\n"
       "--json passes the decoded form on, one object a line.\n"},
      {u"help", Verb::Help, "[COMMAND]", 0, 1, "this overview, or one command's help", ""},
  };
  return commands;
}

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

Invocation ParseArguments(const std::vector<std::u16string>& given) {
  Invocation in;
  if (given.empty()) throw UsageError("a command is needed");
  const std::vector<std::u16string> args = CommandFirst(given);
  if (SameNoCase(args[0], u"--version")) {
    if (args.size() > 1) throw UsageError("unexpected argument '" + Utf8(args[1]) + "' after --version");
    in.verb = Verb::Version;
    return in;
  }
  const bool helpFirst = IsHelpFlag(args[0]);
  in.verb = helpFirst ? Verb::Help : FindCommand(args[0]).verb;
  std::vector<std::u16string> words;
  bool optionsEnded = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::u16string_view arg = args[i];
    if (optionsEnded || !(LooksLikeOption(arg) || arg == u"/?")) {
      words.emplace_back(arg);
    } else if (arg == u"--") {
      optionsEnded = true;
    } else if (IsHelpFlag(arg)) {
      if (in.verb != Verb::Help) in.helpFor = in.verb;
      in.verb = Verb::Help;
      return in;
    } else {
      ApplyOption(in, arg, args, i);
    }
  }
  TakeWords(in, words);
  if (in.verb == Verb::Query && in.packet.opType.empty()) throw UsageError("query needs --op OP");
  if (in.verb == Verb::Query && in.packet.opCode.empty()) throw UsageError("query needs --code CODE");
  return in;
}

std::int32_t NumberOrName(std::u16string_view text, const NamedValues& names, std::string_view option) {
  if (const auto number = ParseNumber(text)) return *number;
  for (const auto& n : names)
    if (SameNoCase(n.name, text)) return n.value;
  for (const auto& n : names)
    if (SameNoCase(std::u16string_view(n.name).substr(Prefix(n.name).size()), text)) return n.value;
  throw UsageError(std::string(option) + ": '" + Utf8(text) + "' is neither a number nor a name that " +
                   "velcorin help query lists");
}

std::string NameOf(std::int32_t value, const NamedValues& names) {
  for (const auto& n : names)
    if (n.value == value) return Utf8(n.name);
  return "";
}

ResolvedPacket Resolve(const PacketOptions& options, const Enumerations& names) {
  return {NumberOrName(options.opType, names.opTypes, "OP"), NumberOrName(options.opCode, names.opCodes, "CODE"),
          options.devType, options.channel, options.data};
}

ShellLine ParseShellLine(std::u16string_view line) {
  ShellLine out;
  const auto words = SplitWords(line);
  if (words.empty() || words[0].starts_with(u"#")) return out;
  const std::u16string& verb = words[0];
  if (SameNoCase(verb, u"query") || SameNoCase(verb, u"write")) {
    out.verb = SameNoCase(verb, u"query") ? ShellVerb::Query : ShellVerb::Write;
    out.packet = ShellPacket(words);
    return out;
  }
  if (SameNoCase(verb, u"cal")) {
    if (words.size() < 2) throw UsageError("cal needs 'enter [PASSWORD]' or 'exit'");
    if (SameNoCase(words[1], u"enter")) {
      NoMoreThan(words, 3);
      out.verb = ShellVerb::CalEnter;
      if (words.size() == 3) out.password = words[2];
      return out;
    }
    if (!SameNoCase(words[1], u"exit")) throw UsageError("cal: '" + Utf8(words[1]) + "' is neither 'enter' nor 'exit'");
    NoMoreThan(words, 2);
    out.verb = ShellVerb::CalExit;
    return out;
  }
  const struct {
    std::u16string_view name;
    ShellVerb verb;
  } plain[] = {{u"read", ShellVerb::Read}, {u"info", ShellVerb::Info}, {u"help", ShellVerb::Help},
               {u"?", ShellVerb::Help},    {u"quit", ShellVerb::Quit}, {u"exit", ShellVerb::Quit}};
  for (const auto& p : plain)
    if (SameNoCase(verb, p.name)) {
      NoMoreThan(words, 1);
      out.verb = p.verb;
      return out;
    }
  throw UsageError("unknown command '" + Utf8(verb) + "'; type help");
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

std::u16string FromUtf8(std::string_view bytes) {
  std::u16string out;
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = lead < 0x80         ? 1
                               : (lead >> 5) == 6  ? 2
                               : (lead >> 4) == 14 ? 3
                               : (lead >> 3) == 30 ? 4
                                                   : 0;
    char32_t c = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    bool good = length > 0 && i + length <= bytes.size();
    for (std::size_t k = 1; good && k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      good = (next >> 6) == 2;
      c = (c << 6) | (next & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    good = good && c >= least[length] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
    if (!good) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += length;
  }
  return out;
}

std::string HelpText(std::optional<Verb> command, const Enumerations* names) {
  if (command && *command != Verb::Help) return CommandHelp(*command, names);
  std::string out = "usage: velcorin COMMAND [options]     velcorin help COMMAND: one command's help\n";
  for (const auto& c : Commands()) {
    const std::string words = c.words.empty() ? "" : " " + std::string(c.words);
    out.append("  ").append(Padded(Utf8(c.name) + words, 22)).append(c.summary).append("\n");
  }
  return out +
         "  --version             this program's version and the Velcorin.dll it uses\n"
         "  --trace FILE COMMAND  run COMMAND with its I/O traced into FILE (JSON Lines)\n"
         "  --simulate FILE COMMAND\n"
         "                        run COMMAND with the simulated instruments of FILE, no real one\n"
         "Every command takes --json and --help; commands and options in any case.\n"
         "DEVICE is a serial number (exact, or in any case when only one instrument has it),\n"
         "an index from list, or a device path as info shows it. N is decimal, 0x or &H\n"
         "hexadecimal.\n"
         "Exit status: 0 done; 1 not found, in use, not answering or refused, with a message\n"
         "saying which; 2 bad usage; 3 the component raised an error; 130 stopped by Ctrl+C\n"
         "(watch and shell end with 0).\n";
}

std::string ShellHelpText() {
  return "shell commands, one a line (# starts a comment):\n"
         "  query OP CODE [TYPE [CHANNEL [DATA]]]   send a packet and read its reply\n"
         "  write OP CODE [TYPE [CHANNEL [DATA]]]   send a packet only\n"
         "  read                                    read one reply (a late one, say)\n"
         "  info                                    the open instrument's identity\n"
         "  cal enter [PASSWORD] | cal exit         calibration mode\n"
         "  help                                    this list\n"
         "  quit                                    close the instrument and end\n"
         "DATA with spaces goes in \"double quotes\".\n";
}

}  // namespace velcorin::cli
