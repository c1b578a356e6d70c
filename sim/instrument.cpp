#include "sim/instrument.h"

#include <array>
#include <stdexcept>

#include "simulation/core/naming.h"

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

// One instance, unless the instrument is to be free again the moment its client closes.
// A second open is then refused by the first (ERROR_PIPE_BUSY), as for a real device.
UniqueKernelHandle CreatePipe(const std::wstring& name, DWORD instances, bool first) {
  UniqueKernelHandle pipe(CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, instances, kPipeBufferSize, kPipeBufferSize, 0, nullptr));
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
      listenerCount_(config.freeOnClose ? 2 : 1) {
  if (!stop_ || !ioDone_) throw std::runtime_error("cannot create events");
  for (std::size_t i = 0; i < listenerCount_; ++i) {
    listeners_[i].pipe = CreatePipe(pipeName_, static_cast<DWORD>(listenerCount_), i == 0);
    listeners_[i].connected = MakeEvent(true);
    if (!listeners_[i].connected) throw std::runtime_error("cannot create events");
  }
  link_ = CreateDeviceLink(devicePath_, pipeName_);
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
  DisconnectAll();
}

// On the serving thread, which ends right after. Marked unplugged before the
// client's handle breaks, so that a client that sees the break never finds it
// still plugged in.
void Instrument::UnplugItself() {
  registration_.reset();
  link_.reset();
  unplugged_ = true;
  DisconnectAll();
}

void Instrument::DisconnectAll() {
  for (std::size_t i = 0; i < listenerCount_; ++i) DisconnectNamedPipe(listeners_[i].pipe.get());
}

// A client this thread has not taken yet has it too. Called from the command thread: only
// the atomic and the events, which stay for the instrument's life, are read.
bool Instrument::IsFree() const {
  if (inSession_) return false;
  for (std::size_t i = 0; i < listenerCount_; ++i) {
    if (WaitForSingleObject(listeners_[i].connected.get(), 0) == WAIT_OBJECT_0) return false;
  }
  return true;
}

bool Instrument::StopRequested(DWORD waitMs) const { return WaitForSingleObject(stop_.get(), waitMs) == WAIT_OBJECT_0; }

// A real device is free the moment its handle closes; one pipe instance is free only once
// this thread has noticed the close and listens again. With two, the second listens
// during a session: a client that reaches it once the session's client has gone is the
// next session, one that reaches it while that client is still there is refused (its
// connection breaks before any request is read).
void Instrument::Serve() {
  for (std::size_t i = 0; i < listenerCount_; ++i) Listen(listeners_[i]);
  while (AcceptSession()) {
    responder_.StartConnection();
    while (ServeRequest()) {
    }
    // When stopped, the destructor breaks the client's handle only after the entries are gone.
    if (unplugged_ || StopRequested()) break;
    EndSession();
  }
  StopListening();
}

// A new instance already takes clients: one may be connected before the first call.
void Instrument::Listen(Listener& listener) {
  for (;;) {
    ResetEvent(listener.connected.get());
    listener.overlapped = OVERLAPPED{};
    listener.overlapped.hEvent = listener.connected.get();
    listener.state = Listener::State::Listening;
    if (ConnectNamedPipe(listener.pipe.get(), &listener.overlapped)) return;
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING) return;
    if (error == ERROR_PIPE_CONNECTED) {
      // Connected before we listened: no completion comes, so the wait must see it anyway.
      listener.overlapped.Internal = 0;
      SetEvent(listener.connected.get());
      return;
    }
    // A client that came and went before we listened leaves the instance to be reset.
    DisconnectNamedPipe(listener.pipe.get());
    if (StopRequested(error == ERROR_NO_DATA ? 0 : 10)) {
      listener.state = Listener::State::Idle;
      return;
    }
  }
}

void Instrument::Relisten(Listener& listener) {
  DisconnectNamedPipe(listener.pipe.get());
  Listen(listener);
}

// The kernel must be done with each pending connect before its OVERLAPPED goes.
void Instrument::StopListening() {
  for (std::size_t i = 0; i < listenerCount_; ++i) {
    Listener& listener = listeners_[i];
    if (listener.state != Listener::State::Listening) continue;
    CancelIo(listener.pipe.get());
    DWORD bytes = 0;
    GetOverlappedResult(listener.pipe.get(), &listener.overlapped, &bytes, TRUE);
    listener.state = Listener::State::Idle;
  }
}

// True when the listener's pending connect ended with a client; else it listens again.
bool Instrument::TakeConnection(Listener& listener) {
  DWORD bytes = 0;
  if (GetOverlappedResult(listener.pipe.get(), &listener.overlapped, &bytes, FALSE)) return true;
  Relisten(listener);
  return false;
}

bool Instrument::AcceptSession() {
  for (;;) {
    std::array<HANDLE, 3> events{stop_.get()};
    std::array<std::size_t, 3> owners{};
    DWORD count = 1;
    for (std::size_t i = 0; i < listenerCount_; ++i) {
      if (listeners_[i].state == Listener::State::Next) {
        session_ = i;
        listeners_[i].state = Listener::State::Session;
        inSession_ = true;
        return true;
      }
      if (listeners_[i].state == Listener::State::Listening) {
        owners[count] = i;
        events[count++] = listeners_[i].connected.get();
      }
    }
    const DWORD woke = WaitForMultipleObjects(count, events.data(), FALSE, INFINITE);
    if (woke == WAIT_OBJECT_0 || woke >= WAIT_OBJECT_0 + count) return false;
    Listener& listener = listeners_[owners[woke - WAIT_OBJECT_0]];
    if (TakeConnection(listener)) listener.state = Listener::State::Next;
  }
}

// Free again only once its instance listens: a waiter must not open it before.
void Instrument::EndSession() {
  Relisten(listeners_[session_]);
  bool next = false;
  for (std::size_t i = 0; i < listenerCount_; ++i) next = next || listeners_[i].state == Listener::State::Next;
  inSession_ = next;
}

Instrument::Listener* Instrument::ListeningBesideSession() {
  for (std::size_t i = 0; i < listenerCount_; ++i) {
    if (i != session_ && listeners_[i].state == Listener::State::Listening) return &listeners_[i];
  }
  return nullptr;
}

// A client reached the second instance during a session: the next session if the
// session's client has gone (a peek then fails), else refused.
void Instrument::OnSecondClient(Listener& listener) {
  if (!TakeConnection(listener)) return;
  DWORD available = 0;
  if (PeekNamedPipe(SessionPipe(), nullptr, 0, nullptr, &available, nullptr)) {
    Relisten(listener);
    return;
  }
  listener.state = Listener::State::Next;
}

Instrument::IoOutcome Instrument::Await(OVERLAPPED& overlapped, BOOL completedAtOnce) {
  IoOutcome outcome;
  if (!completedAtOnce) {
    outcome.error = GetLastError();
    if (outcome.error != ERROR_IO_PENDING && outcome.error != ERROR_MORE_DATA) return outcome;
    for (;;) {
      Listener* second = ListeningBesideSession();
      const std::array<HANDLE, 3> events{overlapped.hEvent, stop_.get(), second ? second->connected.get() : nullptr};
      const DWORD woke = WaitForMultipleObjects(second ? 3 : 2, events.data(), FALSE, INFINITE);
      if (woke == WAIT_OBJECT_0) break;
      if (woke == WAIT_OBJECT_0 + 2) {
        OnSecondClient(*second);
        continue;
      }
      // The kernel must be done with the buffer before the frame that holds it goes.
      CancelIo(SessionPipe());
      GetOverlappedResult(SessionPipe(), &overlapped, &outcome.bytes, TRUE);
      outcome.stopped = true;
      return outcome;
    }
  }
  outcome.error =
      GetOverlappedResult(SessionPipe(), &overlapped, &outcome.bytes, FALSE) ? ERROR_SUCCESS : GetLastError();
  return outcome;
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
    const IoOutcome outcome = Await(
        overlapped, ReadFile(SessionPipe(), chunk.data(), static_cast<DWORD>(chunk.size()), nullptr, &overlapped));
    if (outcome.stopped || (outcome.error != ERROR_SUCCESS && outcome.error != ERROR_MORE_DATA)) return false;
    request.insert(request.end(), chunk.begin(), chunk.begin() + outcome.bytes);
    if (outcome.error == ERROR_SUCCESS) return true;
  }
}

bool Instrument::WriteReply(const std::uint8_t* bytes, DWORD size) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = ioDone_.get();
  const IoOutcome outcome = Await(overlapped, WriteFile(SessionPipe(), bytes, size, nullptr, &overlapped));
  return !outcome.stopped && outcome.error == ERROR_SUCCESS;
}

}  // namespace velcorin::sim
