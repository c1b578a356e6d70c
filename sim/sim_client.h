// Test-side control of velcorin-sim.exe: starts it with a configuration, sends it
// commands, reads its request log and stops it again. For Windows test programs.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/owners.h"
#include "simulation/core/log_line.h"

namespace velcorin::sim {

// Serial n of a numbered set of test instruments: the prefix and two digits.
std::string NumberedSerial(std::string_view prefix, int n);
// A configuration of `count` such instruments, each with model "M-<serial>",
// the keys every one shares and those keysOf(n) gives it.
std::string NumberedInstruments(std::string_view prefix, int count, std::string_view sharedKeys,
                                const std::function<std::string(int)>& keysOf);

// A file in the temporary folder, deleted with the object.
class TempFile {
 public:
  TempFile();  // throws std::runtime_error
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::wstring& Path() const { return path_; }

 private:
  std::wstring path_;
};

class SimClient {
 public:
  // Starts the simulator and waits until it reports every instrument listed and openable
  // (generous deadlines: a loaded machine takes seconds to start a process).
  // Throws std::runtime_error with the simulator's own complaint when it does not.
  explicit SimClient(std::string_view configText, DWORD readyTimeoutMs = 30000);
  // The instruments of an I/O trace, answering as they did in it.
  struct Replaying {
    std::wstring tracePath;
  };
  explicit SimClient(const Replaying& trace, DWORD readyTimeoutMs = 30000);
  ~SimClient();  // Stop()
  SimClient(const SimClient&) = delete;
  SimClient& operator=(const SimClient&) = delete;

  // Sends one command line and returns the answer line ("OK ..." or "ERR ..."), or
  // "ERR no answer" when none came in time.
  std::string Command(std::string_view line, DWORD timeoutMs = 15000);
  bool Plug(std::string_view serial);
  bool Unplug(std::string_view serial);

  // The path as SetupAPI lists it (\\?\usb#...), "" when not plugged in.
  std::string DevicePath(std::string_view serial);

  // Those of `serials` that are plugged in, in the order the system lists their interfaces.
  std::vector<std::string> InSystemOrder(const std::vector<std::string>& serials);

  // Until nobody has it open and an open reaches it: the simulator takes a moment to
  // notice a close (and, unless it is free_on_close, to listen again).
  bool WaitUntilFree(std::string_view serial, DWORD timeoutMs = 2000);
  // The same for every instrument plugged in, before an enumeration; false if one stays busy.
  bool WaitUntilAllFree(DWORD timeoutMs = 2000);

  // Requests() leaves out everything logged before the last MarkLog().
  void MarkLog();
  std::vector<LoggedRequest> Requests() const;
  std::vector<LoggedRequest> RequestsOf(std::string_view serial) const;

  // Asks it to quit and waits; kills it only if it does not end in time. True when it
  // ended by itself. Safe to call more than once.
  bool Stop(DWORD timeoutMs = 5000);
  // Ends it at once, as a crash would: whatever it registered stays behind.
  void Kill();

  // VELCORIN_SIM if set, else velcorin-sim.exe next to this program or in a folder above it; "" if none.
  static std::wstring FindExecutable();

 private:
  void Start(const std::wstring& instruments);
  void StartAndWait(const std::wstring& instruments, DWORD readyTimeoutMs);
  void WaitForReady(DWORD timeoutMs);
  bool Send(std::string_view line);
  std::optional<std::string> ReadLine(DWORD timeoutMs);
  bool DrainOutput();
  std::string ReadLogFile() const;

  TempFile config_;
  TempFile log_;
  UniqueKernelHandle process_;
  UniqueKernelHandle toSim_;
  UniqueKernelHandle fromSim_;
  std::string unread_;
  std::size_t logMark_ = 0;
};

}  // namespace velcorin::sim
