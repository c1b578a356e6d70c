#include "simulation/core/replay.h"

#include <cstdio>
#include <memory>
#include <string>

#include "simulation/core/naming.h"
#include "simulation/core/replay_book.h"
#include "trace/core/trace_line.h"

namespace velcorin::sim {
namespace {

// A trace's text goes into one answer line: no line breaks, no terminal controls.
std::string Printable(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += c;
      continue;
    }
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
    out += escaped;
  }
  return out;
}

}  // namespace

std::vector<InstrumentConfig> ReplayConfigs(std::string_view traceText) {
  std::vector<InstrumentConfig> configs;
  for (auto& instrument : ReplayInstruments(trace::ParseTrace(traceText))) {
    // A file's path (one that was refused, say) cannot appear; another maker's device must not.
    if (!IsInterfacePath(instrument.path)) continue;
    if (!IsFamilyPath(instrument.path)) {
      throw ConfigError("the trace names " + Printable(instrument.path) + ", not an instrument of the family (" +
                        FamilyDescription() + "): refused");
    }
    InstrumentConfig config;
    config.section = "replay " + instrument.serial;
    config.serial = instrument.serial;
    config.devicePath = instrument.path;
    // The traced program may reopen it at once, as it did the real one.
    config.freeOnClose = true;
    config.replay = std::make_shared<InstrumentScript>(std::move(instrument.script));
    configs.push_back(std::move(config));
  }
  if (configs.empty()) throw ConfigError("the trace names no instrument");
  return configs;
}

}  // namespace velcorin::sim
