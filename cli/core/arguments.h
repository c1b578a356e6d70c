// What the user asked for, read from the command line. No Windows here: the
// tool's shell turns an Invocation into calls on the component.
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

enum class Verb { Help, List, Info, Query, Cal, Choose, Watch };

struct FilterOption {
  bool exclude = false;
  bool byId = false;  // otherwise by device class
  std::int32_t token = 0;
};

struct QueryOptions {
  std::int32_t opType = 0;
  std::int32_t opCode = 0;
  std::int32_t devType = 0;
  std::int32_t channel = 0;
  std::u16string data;
  std::uint32_t repeat = 1;
};

struct Invocation {
  Verb verb = Verb::Help;
  bool json = false;
  std::u16string device;
  std::vector<FilterOption> filters;  // in the order given
  QueryOptions query;
  bool enterCalMode = false;  // cal: enter (with password) or exit
  std::u16string password;
};

inline constexpr std::uint32_t kMaxRepeat = 1000000;

// Decimal (optionally signed), 0x or &H hexadecimal of up to 8 digits (read as
// the 32-bit two's complement value, as &HFFFFFFFF is -1 in Basic).
std::optional<std::int32_t> ParseNumber(std::u16string_view text);

// The arguments after the program's name. Throws UsageError.
Invocation ParseArguments(const std::vector<std::u16string>& args);

// For messages: the text as UTF-8, lone surrogates as U+FFFD.
std::string Utf8(std::u16string_view text);

std::string UsageText();

}  // namespace velcorin::cli
