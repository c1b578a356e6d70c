// velcorin-sim.exe: simulated instruments for trying scripts and testing without hardware.
// usage: velcorin-sim.exe [--log FILE] [--ready FILE] CONFIG | --replay TRACE
// Reads commands from standard input (plug, unplug, pipe, path, quit); see README.md.

#include <windows.h>
#include <shellapi.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "simulation/core/config.h"
#include "sim/device_node.h"
#include "sim/instrument.h"
#include "simulation/core/naming.h"
#include "simulation/core/replay.h"
#include "sim/request_log.h"

namespace velcorin::sim {
namespace {

struct Options {
  std::wstring config;
  std::wstring replay;
  std::wstring log;
  std::wstring ready;
};

struct ArgvFree {
  void operator()(LPWSTR* argv) const { LocalFree(argv); }
};

std::optional<Options> ParseArguments() {
  int count = 0;
  const std::unique_ptr<LPWSTR, ArgvFree> args(CommandLineToArgvW(GetCommandLineW(), &count));
  if (!args) return std::nullopt;
  Options options;
  for (int i = 1; i < count; ++i) {
    const std::wstring arg = args.get()[i];
    if ((arg == L"--log" || arg == L"--ready" || arg == L"--replay") && i + 1 < count) {
      (arg == L"--log" ? options.log : arg == L"--ready" ? options.ready : options.replay) = args.get()[++i];
    } else if (options.config.empty() && arg.rfind(L"--", 0) != 0) {
      options.config = arg;
    } else {
      return std::nullopt;
    }
  }
  if (options.config.empty() == options.replay.empty()) return std::nullopt;
  return options;
}

std::string ReadFile(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the configuration or trace file");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void Say(const std::string& line) { std::cout << line << std::endl; }

class Simulator {
 public:
  Simulator(std::vector<InstrumentConfig> configs, RequestLog& log) : configs_(std::move(configs)), log_(log) {}

  // Throws std::runtime_error naming the instrument that could not be plugged in.
  void PlugAll() {
    for (const auto& config : configs_) RemoveStaleEntries(config.serial);
    for (const auto& config : configs_) {
      if (const std::string answer = Plug(config.serial); answer.rfind("OK", 0) != 0) {
        throw std::runtime_error(answer.substr(4));
      }
    }
  }

  // One answer line per command line.
  std::string Execute(const std::string& line) {
    std::istringstream words(line);
    std::string verb, serial, extra;
    words >> verb >> serial >> extra;
    if (verb.empty()) return "ERR empty command";
    if (!extra.empty()) return "ERR too many words";
    if (verb == "plug") return Plug(serial);
    if (verb == "unplug") return Unplug(serial);
    if (verb == "pipe" || verb == "path") return Describe(verb, serial);
    if (verb == "free") return Free(serial);
    if (verb == "plugged" && serial.empty()) return Plugged();
    return "ERR unknown command " + verb;
  }

  void UnplugAll() { plugged_.clear(); }

 private:
  const InstrumentConfig* Find(const std::string& serial) const {
    for (const auto& config : configs_) {
      if (ToLowerAscii(config.serial) == ToLowerAscii(serial)) return &config;
    }
    return nullptr;
  }

  bool IsPlugged(const std::string& serial) const {
    const auto instrument = plugged_.find(serial);
    return instrument != plugged_.end() && !instrument->second->IsUnplugged();
  }

  std::string Plug(const std::string& serial) {
    const InstrumentConfig* config = Find(serial);
    if (config == nullptr) return "ERR unknown serial " + serial;
    if (IsPlugged(config->serial)) return "ERR already plugged " + config->serial;
    plugged_.erase(config->serial);  // one that unplugged itself
    try {
      auto instrument = std::make_unique<Instrument>(*config, log_, ++generation_);
      if (!PresentDevicePaths().contains(instrument->DevicePath())) {
        return "ERR " + config->serial + ": not listed by SetupAPI";
      }
      plugged_.emplace(config->serial, std::move(instrument));
      return "OK plug " + config->serial;
    } catch (const std::exception& error) {
      return "ERR " + config->serial + ": " + error.what();
    }
  }

  std::string Unplug(const std::string& serial) {
    const InstrumentConfig* config = Find(serial);
    if (config == nullptr) return "ERR unknown serial " + serial;
    const bool wasPlugged = IsPlugged(config->serial);
    plugged_.erase(config->serial);
    if (!wasPlugged) return "ERR not plugged " + config->serial;
    return "OK unplug " + config->serial;
  }

  std::string Free(const std::string& serial) const {
    const InstrumentConfig* config = Find(serial);
    if (config == nullptr) return "ERR unknown serial " + serial;
    if (!IsPlugged(config->serial)) return "ERR not plugged " + config->serial;
    return plugged_.at(config->serial)->IsFree() ? "OK yes" : "OK no";
  }

  std::string Plugged() const {
    std::string answer = "OK";
    for (const auto& [serial, instrument] : plugged_)
      if (!instrument->IsUnplugged()) answer += " " + serial;
    return answer;
  }

  std::string Describe(const std::string& what, const std::string& serial) const {
    const InstrumentConfig* config = Find(serial);
    if (config == nullptr) return "ERR unknown serial " + serial;
    if (!IsPlugged(config->serial)) return "ERR not plugged " + config->serial;
    const auto instrument = plugged_.find(config->serial);
    if (what == "path") return "OK " + instrument->second->DevicePath();
    const std::wstring& pipe = instrument->second->PipeName();
    return "OK " + std::string(pipe.begin(), pipe.end());
  }

  const std::vector<InstrumentConfig> configs_;  // instruments refer into it: never changed
  RequestLog& log_;
  std::map<std::string, std::unique_ptr<Instrument>> plugged_;
  unsigned generation_ = 0;
};

void WriteReadyFile(const std::wstring& path) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  out << "READY\n";
  if (!out) throw std::runtime_error("cannot write the ready file");
}

int Run() {
  const auto options = ParseArguments();
  if (!options) {
    Say("ERR usage: velcorin-sim.exe [--log FILE] [--ready FILE] CONFIG | --replay TRACE");
    return 2;
  }
  std::vector<InstrumentConfig> configs;
  try {
    configs =
        options->replay.empty() ? ParseConfig(ReadFile(options->config)) : ReplayConfigs(ReadFile(options->replay));
  } catch (const std::exception& error) {
    Say(std::string("ERR config: ") + error.what());
    return 2;
  }
  try {
    RequestLog log(options->log);
    Simulator simulator(std::move(configs), log);
    simulator.PlugAll();
    if (!options->ready.empty()) WriteReadyFile(options->ready);
    Say("READY");
    std::string line;
    while (std::getline(std::cin, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line == "quit") break;
      Say(simulator.Execute(line));
    }
    simulator.UnplugAll();
    Say("OK quit");
    return 0;
  } catch (const std::exception& error) {
    Say(std::string("ERR ") + error.what());
    return 1;
  }
}

}  // namespace
}  // namespace velcorin::sim

int main() { return velcorin::sim::Run(); }
