#include "simulation/core/replay.h"

#include <memory>

#include "simulation/core/naming.h"
#include "simulation/core/replay_book.h"
#include "trace/core/trace_line.h"

namespace velcorin::sim {

std::vector<InstrumentConfig> ReplayConfigs(std::string_view traceText) {
  std::vector<InstrumentConfig> configs;
  // A path that is not an interface's (a file that was refused, say) cannot appear.
  for (auto& instrument : ReplayInstruments(trace::ParseTrace(traceText))) {
    if (!IsRegistrablePath(instrument.path)) continue;
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
