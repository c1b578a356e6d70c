#include "trace/trace.h"

#include <cwctype>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/owners.h"
#include "common/user_settings.h"
#include "trace/core/trace_line.h"
#include "trace/core/trace_settings.h"

namespace velcorin::trace {

std::atomic<bool> gTracing{false};

namespace {
std::atomic<bool> gSimulated{false};
}  // namespace

namespace {

constexpr std::int64_t kUnixEpochIn100ns = 116444736000000000LL;

// Microseconds since 1970 from one reading of the system clock, carried on by
// the performance counter: precise, and steady within the process.
struct Clock {
  std::int64_t baseTime;
  LARGE_INTEGER baseCount;
  LARGE_INTEGER frequency;

  Clock() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const std::int64_t ticks = (std::int64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    baseTime = (ticks - kUnixEpochIn100ns) / 10;
    QueryPerformanceCounter(&baseCount);
    QueryPerformanceFrequency(&frequency);
  }
  std::int64_t Micros(LARGE_INTEGER count) const {
    const std::int64_t elapsed = count.QuadPart - baseCount.QuadPart;
    return baseTime + elapsed / frequency.QuadPart * 1000000 +
           elapsed % frequency.QuadPart * 1000000 / frequency.QuadPart;
  }
};

// The open file and what may still go into it. Lives until the DLL unloads.
struct Sink {
  UniqueKernelHandle file;
  UniqueKernelHandle writers;  // held by whichever process is appending to the file
  SizeBudget budget{kDefaultLimitMb};
  Clock clock;
  std::mutex mutex;
  std::atomic<std::uint32_t> lastOpening{0};
};

Sink& TheSink() {
  static Sink sink;
  return sink;
}

std::u16string AsU16(const std::wstring& text) { return {text.begin(), text.end()}; }

// One lock per file for every process that traces into it, named after the
// file's full path (any case). A named object cannot hold backslashes: a hash.
UniqueKernelHandle WritersLock(const wchar_t* file) {
  wchar_t full[MAX_PATH * 4];
  const DWORD length = GetFullPathNameW(file, static_cast<DWORD>(std::size(full)), full, nullptr);
  std::uint64_t hash = 14695981039346656037ull;
  for (DWORD i = 0; i < length && i < std::size(full); ++i) hash = (hash ^ towlower(full[i])) * 1099511628211ull;
  std::wstring name = L"Local\\Velcorin.Trace.";
  for (int shift = 60; shift >= 0; shift -= 4) name += L"0123456789abcdef"[(hash >> shift) & 0xF];
  return UniqueKernelHandle(CreateMutexW(nullptr, FALSE, name.c_str()));
}

void Start() {
  auto name = EnvironmentText(L"VELCORIN_TRACE");
  if (!name) name = UserSettingText(L"Trace");
  if (!name) return;
  const std::u16string expanded = ExpandFileName(AsU16(*name), GetCurrentProcessId());
  Sink& sink = TheSink();
  sink.budget = SizeBudget(LimitMbFrom(UserSettingNumber(L"TraceLimitMB")));
  // Appends only, so that each line lands whole after whatever any process wrote;
  // written through, so that a crash of the host loses no line already written.
  const auto* path = reinterpret_cast<const wchar_t*>(expanded.c_str());
  sink.file.reset(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
  sink.writers = WritersLock(path);
  if (sink.file && sink.writers) gTracing = true;
}

// At the end of the file as it is now; an append-only handle goes there anyway
// on Windows, but Wine writes where the handle last was. Moved there first rather
// than given an OVERLAPPED offset, which costs Wine a completion request per line.
bool WriteWhole(HANDLE file, std::uint64_t end, const std::string& line) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(end);
  DWORD written = 0;
  return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
         WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) && written == line.size();
}

// Other processes append between our lines; a process that died holding the
// lock leaves it to us. One that keeps it too long costs us our line.
constexpr DWORD kWritersWaitMs = 2000;

class WritersTurn {
 public:
  explicit WritersTurn(HANDLE lock) : lock_(lock), held_(WaitForSingleObject(lock, kWritersWaitMs) != WAIT_TIMEOUT) {}
  ~WritersTurn() {
    if (held_) ReleaseMutex(lock_);
  }
  bool Held() const { return held_; }

 private:
  HANDLE lock_;
  bool held_;
};

// One line, whole, in one write. A file that stops taking lines ends the trace.
void Append(TraceEvent& event) {
  event.pid = GetCurrentProcessId();
  event.tid = GetCurrentThreadId();
  const std::string line = FormatLine(event);
  Sink& sink = TheSink();
  const std::lock_guard lock(sink.mutex);
  if (!IsOn()) return;
  const WritersTurn turn(sink.writers.get());
  if (!turn.Held()) return;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(sink.file.get(), &size)) {
    gTracing = false;
    return;
  }
  const auto end = static_cast<std::uint64_t>(size.QuadPart);
  if (sink.budget.Judge(end, line.size()) == SizeBudget::Verdict::Write) {
    if (!WriteWhole(sink.file.get(), end, line)) gTracing = false;
    return;
  }
  TraceEvent last = LimitEvent(sink.budget.LimitMb());
  last.time = event.time;
  last.pid = event.pid;
  last.tid = event.tid;
  last.simulated = event.simulated;
  WriteWhole(sink.file.get(), end, FormatLine(last));
  gTracing = false;
}

TraceEvent Event(EventKind kind, const Stopwatch& watch) {
  TraceEvent event;
  event.kind = kind;
  event.time = watch.StartTime();
  event.micros = watch.ElapsedMicros();
  event.simulated = gSimulated.load(std::memory_order_relaxed);
  return event;
}

}  // namespace

void MarkLinesSimulated() { gSimulated = true; }

void StartOnce() {
  static std::once_flag once;
  std::call_once(once, Start);
}

Stopwatch::Stopwatch() {
  QueryPerformanceCounter(&startCount_);
  startTime_ = TheSink().clock.Micros(startCount_);
}

std::int64_t Stopwatch::ElapsedMicros() const {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const Clock& clock = TheSink().clock;
  return (now.QuadPart - startCount_.QuadPart) * 1000000 / clock.frequency.QuadPart;
}

void RecordWalk(std::int32_t index, std::string_view path) {
  TraceEvent event = Event(EventKind::Walk, Stopwatch());
  event.micros = 0;
  event.index = index;
  event.path = path;
  Append(event);
}

Opening RecordOpen(std::string_view path, Outcome outcome, DWORD error, const Stopwatch& watch) {
  TraceEvent event = Event(EventKind::Open, watch);
  event.handle = ++TheSink().lastOpening;
  event.outcome = outcome;
  event.error = error;
  event.path = path;
  Append(event);
  return Opening{event.handle};
}

void RecordWrite(Opening& opening, std::span<const std::uint8_t> bytes, DWORD done, Outcome outcome, DWORD error,
                 const Stopwatch& watch) {
  TraceEvent event = Event(EventKind::Write, watch);
  event.handle = opening.id;
  event.outcome = outcome;
  event.error = error;
  event.count = done;
  event.bytes.assign(bytes.begin(), bytes.end());
  event.masked = opening.replyIsSecret = IsPasswordReport(bytes);
  if (event.masked) MaskData(event.bytes, false);
  Append(event);
}

void RecordRead(Opening& opening, std::span<const std::uint8_t> bytes, Outcome outcome, DWORD error,
                const Stopwatch& watch) {
  TraceEvent event = Event(EventKind::Read, watch);
  event.handle = opening.id;
  event.outcome = outcome;
  event.error = error;
  event.count = static_cast<std::uint32_t>(bytes.size());
  event.bytes.assign(bytes.begin(), bytes.end());
  event.masked = opening.replyIsSecret || IsPasswordReport(bytes);
  opening.replyIsSecret = false;
  if (event.masked) MaskData(event.bytes, true);
  Append(event);
}

void RecordClose(const Opening& opening) {
  TraceEvent event = Event(EventKind::Close, Stopwatch());
  event.micros = 0;
  event.handle = opening.id;
  Append(event);
}

}  // namespace velcorin::trace
