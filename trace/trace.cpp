#include "trace/trace.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/owners.h"
#include "common/user_settings.h"
#include "trace/core/shared_turn.h"
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
  UniqueKernelHandle turnMapping;
  UniqueMappedView turnView;
  std::optional<SharedTurn> turn;  // among every process appending to the file
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

std::wstring Hex(std::uint64_t value, int digits) {
  std::wstring text;
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) text += L"0123456789abcdef"[(value >> shift) & 0xF];
  return text;
}

// The word the processes appending to `file` take turns by, in memory they all
// map: named after the file's volume and index, which every name of the file
// shares (C:\t.jsonl, \\?\C:\t.jsonl, another drive letter for the folder).
std::uint64_t* TurnWord(HANDLE file, Sink& sink) {
  BY_HANDLE_FILE_INFORMATION identity;
  if (!GetFileInformationByHandle(file, &identity)) return nullptr;
  const std::wstring name = L"Local\\Velcorin.Trace." + Hex(identity.dwVolumeSerialNumber, 8) + L"." +
                            Hex(std::uint64_t{identity.nFileIndexHigh} << 32 | identity.nFileIndexLow, 16);
  sink.turnMapping.reset(
      CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(std::uint64_t), name.c_str()));
  if (!sink.turnMapping) return nullptr;
  sink.turnView.reset(MapViewOfFile(sink.turnMapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(std::uint64_t)));
  return static_cast<std::uint64_t*>(sink.turnView.get());
}

// A turn lasts one line; one held this long was abandoned by a process that died
// (or hangs) in it, and is taken over.
constexpr auto kTurnPatience = std::chrono::seconds(2);

void Start() {
  auto name = EnvironmentText(L"VELCORIN_TRACE");
  if (!name) name = UserSettingText(L"Trace");
  if (!name) return;
  const std::u16string expanded = ExpandFileName(AsU16(*name), GetCurrentProcessId());
  Sink& sink = TheSink();
  sink.budget = SizeBudget(LimitMbFrom(UserSettingNumber(L"TraceLimitMB")));
  // Appends only: each write lands at the end of the file, after whatever any process
  // wrote (Wine reads the end and writes there in two steps: hence the turns).
  // Written through, so that a crash of the host loses no line already written.
  const auto* path = reinterpret_cast<const wchar_t*>(expanded.c_str());
  sink.file.reset(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!sink.file) return;
  std::uint64_t* word = TurnWord(sink.file.get(), sink);
  if (!word) return;
  sink.turn.emplace(*word, GetCurrentProcessId(), kTurnPatience);
  gTracing = true;
}

bool WriteWhole(HANDLE file, const std::string& line) {
  DWORD written = 0;
  return WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) && written == line.size();
}

// One line, whole, in one write. A file that stops taking lines ends the trace.
void Append(TraceEvent& event) {
  event.pid = GetCurrentProcessId();
  event.tid = GetCurrentThreadId();
  const std::string line = FormatLine(event);
  Sink& sink = TheSink();
  const std::lock_guard lock(sink.mutex);
  if (!IsOn()) return;
  const std::lock_guard turn(*sink.turn);
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(sink.file.get(), &size)) {
    gTracing = false;
    return;
  }
  if (sink.budget.Judge(static_cast<std::uint64_t>(size.QuadPart), line.size()) == SizeBudget::Verdict::Write) {
    if (!WriteWhole(sink.file.get(), line)) gTracing = false;
    return;
  }
  TraceEvent last = LimitEvent(sink.budget.LimitMb());
  last.time = event.time;
  last.pid = event.pid;
  last.tid = event.tid;
  last.simulated = event.simulated;
  WriteWhole(sink.file.get(), FormatLine(last));
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
