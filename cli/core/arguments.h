// What the user asked for, read from the command line or from a line of the
// interactive shell. No Windows here: the tool's shell turns an Invocation into
// calls on the component.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace velcorin::cli {

// Bad usage: the message names the bad option or value; the tool adds where help is.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum class Verb { Help, Version, List, Info, Query, Cal, Choose, Watch, Shell, Trace };

// One command of the tool: its name, the words it takes besides options, and
// what its help says. Commands() is the one list that parsing and help read.
struct CommandDefinition {
  std::u16string_view name;
  Verb verb;
  std::string_view words;  // as the synopsis shows them, e.g. "DEVICE"
  std::size_t minWords, maxWords;
  std::string_view summary;  // one line for the overview
  std::string_view details;  // the paragraph of `velcorin help NAME`
};
const std::vector<CommandDefinition>& Commands();

struct FilterOption {
  bool exclude = false;
  bool byId = false;  // otherwise by device class
  std::int32_t token = 0;
};

// A command packet as typed: op type and op code as a number or a name of the
// component's enumerations, resolved once those are known.
struct PacketOptions {
  std::u16string opType, opCode;
  std::int32_t devType = 0;
  std::int32_t channel = 0;
  std::u16string data;
};

// trace show: which trace, and which of its lines.
struct TraceShowOptions {
  std::u16string file;
  std::u16string instrument;            // serial number; empty: all
  std::optional<std::u16string> since;  // as given: HH:MM:SS[.ffffff] or YYYY-MM-DDTHH:MM:SS[.ffffff], UTC
};

struct Invocation {
  Verb verb = Verb::Help;
  std::optional<Verb> helpFor;  // help: the command asked about, else the overview
  bool json = false;
  std::u16string device;
  std::vector<FilterOption> filters;  // in the order given
  PacketOptions packet;
  std::uint32_t repeat = 1;
  bool enterCalMode = false;                   // cal: enter or exit
  std::optional<std::u16string> password;      // cal enter: asked for when missing
  std::optional<std::u16string> traceTo;       // --trace FILE: this run's I/O goes there
  std::optional<std::u16string> simulateFrom;  // --simulate FILE: this run's instruments come from there
  TraceShowOptions traceShow;
};

inline constexpr std::uint32_t kMaxRepeat = 1000000;

// Decimal (optionally signed), 0x or &H hexadecimal of up to 8 digits (read as
// the 32-bit two's complement value, as &HFFFFFFFF is -1 in Basic).
std::optional<std::int32_t> ParseNumber(std::u16string_view text);

// The arguments after the program's name; "--trace FILE" may also come before
// the command. Throws UsageError.
Invocation ParseArguments(const std::vector<std::u16string>& given);

// The constants of one of the component's enumerations, as its type library names them.
struct NamedValue {
  std::u16string name;
  std::int32_t value = 0;
};
using NamedValues = std::vector<NamedValue>;
struct Enumerations {
  NamedValues opTypes, opCodes, endCodes;
};

// A packet's op type or op code: a number, a constant's name in any case, or
// the name without the family prefix its constants share ("FwVer" for
// "CmdFwVer"). Throws UsageError naming `option`.
std::int32_t NumberOrName(std::u16string_view text, const NamedValues& names, std::string_view option);
// The constant's name, "" when the enumeration has none for the value.
std::string NameOf(std::int32_t value, const NamedValues& names);

struct ResolvedPacket {
  std::int32_t opType = 0, opCode = 0, devType = 0, channel = 0;
  std::u16string data;
};
ResolvedPacket Resolve(const PacketOptions& options, const Enumerations& names);

// One line of `velcorin shell`.
enum class ShellVerb { Nothing, Query, Write, Read, Info, CalEnter, CalExit, Help, Quit };
struct ShellLine {
  ShellVerb verb = ShellVerb::Nothing;
  PacketOptions packet;                    // query, write
  std::optional<std::u16string> password;  // cal enter
};
// Words are separated by spaces; "double quotes" keep spaces, \" and \\ inside them.
ShellLine ParseShellLine(std::u16string_view line);

// For messages: the text as UTF-8, lone surrogates as U+FFFD.
std::string Utf8(std::u16string_view text);
// Standard input's bytes as text: UTF-8, malformed bytes as U+FFFD.
std::u16string FromUtf8(std::string_view bytes);

// The overview, or one command's help; `names` fills in what query accepts.
std::string HelpText(std::optional<Verb> command, const Enumerations* names);
std::string ShellHelpText();

}  // namespace velcorin::cli
