// How the tool shows instruments and replies: plain text for people (padding
// zero characters removed, control characters made visible) and JSON for
// programs (texts exact, escaped).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velcorin::cli {

struct Instrument {
  int index = 0;  // position in the unfiltered list, from 1
  std::u16string model, serial, firmware, description, path;
  std::int32_t type = 0, vendor = 0, channels = 0;
  std::vector<std::u16string> channelNames;
};

struct Reply {
  std::int32_t devType = 0, channel = 0, opType = 0, opCode = 0, endCode = 0;
  std::u16string data;
};

struct RoundTrips {
  std::size_t runs = 0;
  double minMs = 0, medianMs = 0, maxMs = 0;
};
RoundTrips Summarize(std::vector<double> milliseconds);

std::string Shown(std::u16string_view text);
std::string JsonString(std::u16string_view text);
std::string Hex(std::int32_t value);

std::string ListText(const std::vector<Instrument>& list);
std::string ListJson(const std::vector<Instrument>& list);
std::string InfoText(const Instrument& instrument);
std::string InfoJson(const Instrument& instrument);
std::string ReplyText(const Reply& reply, const std::optional<RoundTrips>& timing);
std::string ReplyJson(const Reply& reply, const std::optional<RoundTrips>& timing);
// One line of watch: "+" or "-", then the instrument as list shows it.
std::string ChangeLine(bool appeared, const Instrument& instrument);

// The instrument that DEVICE names: a serial number, else an index from list,
// else a device path (as shown, any case, or exact). Serial numbers win so
// that an instrument whose serial is "2" stays reachable by it.
const Instrument* FindInstrument(const std::vector<Instrument>& list, std::u16string_view device);

// Instruments of `now` missing from `before` (appeared), and the other way round.
struct Changes {
  std::vector<Instrument> appeared, gone;
};
Changes Compare(const std::vector<Instrument>& before, const std::vector<Instrument>& now);

}  // namespace velcorin::cli
