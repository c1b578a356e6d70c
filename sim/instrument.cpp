#include "sim/instrument.h"

#include <array>
#include <stdexcept>

#include "sim/naming.h"

namespace velcorin::sim {
namespace {

constexpr DWORD kPipeBufferSize = 4096;

std::wstring MakePipeName(const InstrumentConfig& config, unsigned generation) {
  return L"\\\\.\\pipe\\velcorin-sim-" + std::to_wstring(GetCurrentProcessId()) + L"-" + WidenAscii(config.serial) +
         L"-" + std::to_wstring(generation);
}

UniqueKernelHandle MakeEvent(bool manualReset) {
  return UniqueKernelHandle(CreateEventW(nullptr, manualReset, FALSE, nullptr));
}

// One instance only: a second open of the device is then refused, as for a real one.
UniqueKernelHandle CreatePipe(const std::wstring& name) {
  UniqueKernelHandle pipe(CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, kPipeBufferSize, kPipeBufferSize, 0, nullptr));
  if (!pipe) throw std::runtime_error("cannot create pipe (error " + std::to_string(GetLastError()) + ")");
  return pipe;
}

}  // namespace

Instrument::Instrument(const InstrumentConfig& config, RequestLog& log, unsigned generation)
    : config_(config),
      log_(log),
      responder_(config),
      pipeName_(MakePipeName(config, generation)),
      devicePath_(sim::DevicePath(config)),
      stop_(MakeEvent(true)),
      ioDone_(MakeEvent(true)),
      pipe_(CreatePipe(pipeName_)),
      link_(CreateDeviceLink(devicePath_, pipeName_)) {
  if (!stop_ || !ioDone_) throw std::runtime_error("cannot create events");
  // The link is ours now, so entries under this path can only be left over from a dead simulator.
  registration_.emplace(config_);
  thread_ = std::thread([this] { Serve(); });
}

// The thread goes first: it may be unplugging the instrument itself. Then the client
// sees what it sees of a real one: the device leaves the list, its path stops opening,
// and an open handle breaks.
Instrument::~Instrument() {
  SetEvent(stop_.get());
  if (thread_.joinable()) thread_.join();
  registration_.reset();
  link_.reset();
  DisconnectNamedPipe(pipe_.get());
}

// On the serving thread, which ends right after.
void Instrument::UnplugItself() {
  registration_.reset();
  link_.reset();
  DisconnectNamedPipe(pipe_.get());
  unplugged_ = true;
}

bool Instrument::StopRequested(DWORD waitMs) const { return WaitForSingleObject(stop_.get(), waitMs) == WAIT_OBJECT_0; }

void Instrument::Serve() {
  while (ConnectClient()) {
    responder_.StartConnection();
    while (ServeRequest()) {
    }
    // When stopped, the destructor breaks the client's handle only after the entries are gone.
    if (unplugged_ || StopRequested()) return;
    DisconnectNamedPipe(pipe_.get());
  }
}

Instrument::IoOutcome Instrument::Await(OVERLAPPED& overlapped, BOOL completedAtOnce) {
  IoOutcome outcome;
  if (!completedAtOnce) {
    outcome.error = GetLastError();
    if (outcome.error != ERROR_IO_PENDING && outcome.error != ERROR_MORE_DATA) return outcome;
    const std::array<HANDLE, 2> events{overlapped.hEvent, stop_.get()};
    if (WaitForMultipleObjects(2, events.data(), FALSE, INFINITE) != WAIT_OBJECT_0) {
      // The kernel must be done with the buffer before the frame that holds it goes.
      CancelIo(pipe_.get());
      GetOverlappedResult(pipe_.get(), &overlapped, &outcome.bytes, TRUE);
      outcome.stopped = true;
      return outcome;
    }
  }
  outcome.error = GetOverlappedResult(pipe_.get(), &overlapped, &outcome.bytes, FALSE) ? ERROR_SUCCESS : GetLastError();
  return outcome;
}

bool Instrument::ConnectClient() {
  for (;;) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = ioDone_.get();
    const IoOutcome outcome = Await(overlapped, ConnectNamedPipe(pipe_.get(), &overlapped));
    if (outcome.stopped) return false;
    if (outcome.error == ERROR_SUCCESS || outcome.error == ERROR_PIPE_CONNECTED) return true;
    // A client that came and went before we listened leaves the instance to be reset.
    DisconnectNamedPipe(pipe_.get());
    if (StopRequested(outcome.error == ERROR_NO_DATA ? 0 : 10)) return false;
  }
}

bool Instrument::ServeRequest() {
  std::vector<std::uint8_t> request;
  if (!ReadRequest(request)) return false;
  const Reply reply = responder_.Answer(request);
  log_.Record(config_.serial, request, reply.unrecorded);
  if (reply.delayMs > 0 && StopRequested(reply.delayMs)) return false;
  switch (reply.kind) {
    case ReplyKind::None: return true;
    case ReplyKind::Empty: return WriteReply(reply.bytes.data(), 0);
    case ReplyKind::Report: return WriteReply(reply.bytes.data(), static_cast<DWORD>(reply.bytes.size()));
    case ReplyKind::Unplug: UnplugItself(); return false;
  }
  return false;
}

// A message longer than the buffer arrives in pieces; all of it is one request.
bool Instrument::ReadRequest(std::vector<std::uint8_t>& request) {
  std::array<std::uint8_t, 256> chunk;
  for (;;) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = ioDone_.get();
    const IoOutcome outcome =
        Await(overlapped, ReadFile(pipe_.get(), chunk.data(), static_cast<DWORD>(chunk.size()), nullptr, &overlapped));
    if (outcome.stopped || (outcome.error != ERROR_SUCCESS && outcome.error != ERROR_MORE_DATA)) return false;
    request.insert(request.end(), chunk.begin(), chunk.begin() + outcome.bytes);
    if (outcome.error == ERROR_SUCCESS) return true;
  }
}

bool Instrument::WriteReply(const std::uint8_t* bytes, DWORD size) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = ioDone_.get();
  const IoOutcome outcome = Await(overlapped, WriteFile(pipe_.get(), bytes, size, nullptr, &overlapped));
  return !outcome.stopped && outcome.error == ERROR_SUCCESS;
}

}  // namespace velcorin::sim
