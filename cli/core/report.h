// How the tool shows instruments and replies: plain text for people and JSON
// for programs, both with the zero characters instruments pad texts with
// removed and trailing spaces trimmed; JSON keeps under "Exact" the texts whose
// exact form the shown one does not give back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/core/arguments.h"

namespace velcorin::cli {

struct Instrument {
  int index = 0;       // position in the system's device list, from 1; 0 when not in it
  bool usable = true;  // false: present, but in use or not answering
  std::u16string model, serial, firmware, description;
  std::u16string path;       // the device path string, as the component hands it out
  std::u16string plainPath;  // the path it names, as a command line gives it
  std::int32_t type = 0, vendor = 0, channels = 0;
  std::vector<std::u16string> channelNames;
  bool plainPathSuffices = true;  // plainPath, widened again, names the same path
};

struct Reply {
  std::int32_t devType = 0, channel = 0, opType = 0, opCode = 0, endCode = 0;
  std::u16string data;
};

// What query --repeat did, so far or in all.
struct RoundTrips {
  std::size_t runs = 0;                  // queries sent
  std::size_t answered = 0;              // of them with a reply: the times below are theirs
  std::size_t failed = 0;                // refused (an end code other than 0) or not answered
  std::optional<std::size_t> stoppedOf;  // stopped by Ctrl+C: the N asked for
  double minMs = 0, medianMs = 0, maxMs = 0;
};
// Every query answered: runs and answered are the times' count.
RoundTrips Summarize(std::vector<double> ms);
// What query --repeat prints at its end, or when stopped: the last reply, if
// one came, and the summary.
std::string RepeatReport(const std::optional<Reply>& last, const RoundTrips& timing, const Enumerations* names,
                         bool json);

// Local time of a watch line.
struct Stamp {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

std::u16string Plain(std::u16string_view text);  // zeros removed, trailing spaces trimmed
// Plain, with what could drive a terminal or reorder the line (C0 and C1
// controls, bidirectional formatting) as \xNN or \uNNNN.
std::string Shown(std::u16string_view text);
std::string JsonString(std::u16string_view text);
std::string Hex(std::int32_t value);

inline constexpr std::string_view kUnavailable = "in use or not answering";

std::string ListText(const std::vector<Instrument>& list);
std::string ListJson(const std::vector<Instrument>& list);
std::string InfoText(const Instrument& instrument);
std::string InfoJson(const Instrument& instrument);
// `names` adds the constants' names; null when the type library is unknown.
std::string ReplyText(const Reply& reply, const std::optional<RoundTrips>& timing, const Enumerations* names);
std::string ReplyJson(const Reply& reply, const std::optional<RoundTrips>& timing, const Enumerations* names);
std::string CalibrationJson(bool entered);

// DEVICE of the command line looked up in a list: a serial number matched
// exactly, else ignoring case when only one instrument matches, else an index,
// else a path. Serial numbers win so that an instrument whose serial is "2"
// stays reachable by it.
enum class Found { Usable, Unusable, Missing, Ambiguous };
struct Match {
  Found how = Found::Missing;
  const Instrument* instrument = nullptr;
};
Match FindInstrument(const std::vector<Instrument>& list, std::u16string_view device);
bool IsDevicePath(std::u16string_view device);  // \\?\ or \\.\, as the system writes them

// What changed between two looks at the device list, by path: '+' usable now
// (new, or free again), '-' gone, '!' present but in use or not answering.
// Unusable instruments of `now` take what `before` knew of them.
struct Change {
  char mark;
  Instrument instrument;
};
std::vector<Change> Compare(const std::vector<Instrument>& before, std::vector<Instrument>& now);
std::string ChangeLine(const Change& change, const Stamp& at, bool json);

}  // namespace velcorin::cli
