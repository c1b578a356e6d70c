// One simulated instrument while it is plugged in: its pipe, its device link, its
// registry entries and the thread that answers requests. Destruction unplugs it; an
// instrument configured to do so also unplugs itself, and is then only waiting to go.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/owners.h"
#include "simulation/core/config.h"
#include "sim/device_node.h"
#include "sim/request_log.h"
#include "simulation/core/responder.h"

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
  // Nobody has it open, and an open now reaches it.
  bool IsFree() const;

 private:
  struct IoOutcome {
    DWORD error = ERROR_SUCCESS;
    DWORD bytes = 0;
    bool stopped = false;
  };

  // One instance of the pipe and its pending connect.
  struct Listener {
    enum class State { Idle, Listening, Session, Next };
    UniqueKernelHandle pipe;
    UniqueKernelHandle connected;
    OVERLAPPED overlapped{};
    State state = State::Idle;
  };

  void Serve();
  bool AcceptSession();
  void EndSession();
  void Listen(Listener& listener);
  void Relisten(Listener& listener);
  void StopListening();
  bool TakeConnection(Listener& listener);
  void OnSecondClient(Listener& listener);
  Listener* ListeningBesideSession();
  HANDLE SessionPipe() const { return listeners_[session_].pipe.get(); }
  void DisconnectAll();
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
  // Two when it is free again the moment its client closes (see Serve); else one.
  std::array<Listener, 2> listeners_;
  std::size_t listenerCount_ = 1;
  std::size_t session_ = 0;
  std::atomic<bool> inSession_ = false;
  UniqueKernelHandle link_;
  std::optional<InterfaceRegistration> registration_;
  std::atomic<bool> unplugged_ = false;
  std::thread thread_;
};

}  // namespace velcorin::sim
