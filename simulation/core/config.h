// Instrument definitions of the simulator, read from its INI-like configuration file.
// Portable: no <windows.h>. Texts are wire bytes, so they stay std::string.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace velcorin::sim {

class InstrumentScript;

enum class Padding { Spaces, Zeros };

// What a failed transfer looks like to the client.
enum class FailMode {
  NoReply,       // the request is swallowed; the client's read waits
  EmptyMessage,  // a zero-length message: the client's read returns at once with 0 bytes
};

struct InstrumentConfig {
  std::string section;  // the [name] it came from, for messages only
  std::string model;
  std::string serial;
  std::string firmware;
  std::string description;
  std::int64_t typeCode = 0;
  std::int64_t channelCount = 1;
  std::map<std::int64_t, std::string> channelNames;  // by channel number, 1-based
  Padding padding = Padding::Spaces;
  std::string password;
  std::int32_t wrongPasswordCode = 9;
  bool freeOnClose = false;  // a reopen right after a close never finds it busy

  // Faults. Transfers are numbered from 1 on each connection.
  bool silent = false;
  std::set<std::int64_t> failTransfers;
  FailMode failMode = FailMode::NoReply;
  std::uint32_t delayMs = 0;
  std::set<std::int64_t> delayTransfers;  // empty: every reply is late
  std::optional<std::string> devTypeText;
  std::optional<std::string> chanCtText;
  bool answerChannels = true;
  bool randomReplies = false;               // seeded random bytes instead of the answers
  bool randomSizes = false;                 // random replies of random length
  std::uint64_t randomSeed = 1;             // each connection starts the same sequence again
  std::set<std::int64_t> randomTransfers;   // empty: every reply is random
  std::optional<std::int64_t> unplugAfter;  // the request after which it unplugs itself

  // Replaying a trace: the path the trace saw, and the replies it recorded,
  // which then answer every request in place of the rules above.
  std::string devicePath;
  std::shared_ptr<InstrumentScript> replay;

  std::string ChannelName(std::int64_t channel) const;
  std::uint16_t ProductId() const { return static_cast<std::uint16_t>(typeCode & 0xFFFF); }
};

struct ConfigError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Throws ConfigError naming the offending line.
std::vector<InstrumentConfig> ParseConfig(std::string_view text);

}  // namespace velcorin::sim
