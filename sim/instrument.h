// One simulated instrument while it is plugged in: its pipe, its device link, its
// registry entries and the thread that answers requests. Destruction unplugs it; an
// instrument configured to do so also unplugs itself, and is then only waiting to go.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/owners.h"
#include "sim/config.h"
#include "sim/device_node.h"
#include "sim/request_log.h"
#include "sim/responder.h"

namespace velcorin::sim {

class Instrument {
 public:
  // `generation` tells apart successive plug-ins of the same instrument. Throws std::runtime_error.
  Instrument(const InstrumentConfig& config, RequestLog& log, unsigned generation);
  ~Instrument();
  Instrument(const Instrument&) = delete;
  Instrument& operator=(const Instrument&) = delete;

  const std::wstring& PipeName() const { return pipeName_; }
  const std::string& DevicePath() const { return devicePath_; }
  // True once it has unplugged itself.
  bool IsUnplugged() const { return unplugged_; }

 private:
  struct IoOutcome {
    DWORD error = ERROR_SUCCESS;
    DWORD bytes = 0;
    bool stopped = false;
  };

  void Serve();
  bool ConnectClient();
  bool ServeRequest();
  void UnplugItself();
  bool ReadRequest(std::vector<std::uint8_t>& request);
  bool WriteReply(const std::uint8_t* bytes, DWORD size);
  IoOutcome Await(OVERLAPPED& overlapped, BOOL completedAtOnce);
  bool StopRequested(DWORD waitMs = 0) const;

  const InstrumentConfig& config_;
  RequestLog& log_;
  Responder responder_;
  std::wstring pipeName_;
  std::string devicePath_;
  UniqueKernelHandle stop_;
  UniqueKernelHandle ioDone_;
  UniqueKernelHandle pipe_;
  UniqueKernelHandle link_;
  std::optional<InterfaceRegistration> registration_;
  std::atomic<bool> unplugged_ = false;
  std::thread thread_;
};

}  // namespace velcorin::sim
