#include "cli/console.h"

#include <functional>
#include <mutex>
#include <string>

#include "cli/core/arguments.h"

namespace velcorin::cli {
namespace {

// How long a stop request waits for the program to end by itself.
constexpr DWORD kStopGraceMs = 200;
constexpr DWORD kProgressAfterMs = 1000;

std::wstring Wide(std::string_view utf8) {
  const int size = static_cast<int>(utf8.size());
  std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

std::mutex& ConsoleLock() {
  static std::mutex lock;
  return lock;
}

HANDLE StopEvent() {
  static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

bool ReaderIsGone(DWORD error) { return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA; }

// Output whose reader has gone (`velcorin watch | head -1`) stops the command
// as Ctrl+C does: nobody will see what it prints.
void Write(DWORD which, std::string_view utf8) {
  const HANDLE out = GetStdHandle(which);
  if (out == nullptr || out == INVALID_HANDLE_VALUE || utf8.empty()) return;
  const std::lock_guard<std::mutex> hold(ConsoleLock());
  DWORD mode = 0, written = 0;
  if (GetConsoleMode(out, &mode)) {
    const std::wstring wide = Wide(utf8);
    WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  } else {
    if (!WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr) &&
        which == STD_OUTPUT_HANDLE && ReaderIsGone(GetLastError()))
      SetEvent(StopEvent());
  }
}

// What a hard stop must put right first: the progress line and the echo.
std::atomic<std::size_t> shownProgress{0};  // length of the line on the screen
std::atomic<DWORD> echoToRestore{0};        // console input mode, 0 when unchanged
std::atomic<DWORD> stopStatus{0};

// The words of the WordsOnStop that lives, if one does.
std::mutex wordsLock;
const std::function<std::string()>* wordsOnStop = nullptr;

void SayWordsOnStop() {
  wordsLock.lock();  // for good: the process ends with it held, so the command says nothing more
  if (wordsOnStop) Write(STD_OUTPUT_HANDLE, (*wordsOnStop)());
}

void EraseProgress() {
  if (const std::size_t length = shownProgress.exchange(0))
    Write(STD_ERROR_HANDLE, std::string("\r").append(length, ' ').append("\r"));
}

BOOL WINAPI OnControl(DWORD) {
  SetEvent(StopEvent());
  Sleep(kStopGraceMs);  // a program that ends by itself meanwhile ends this thread too
  EraseProgress();
  SayWordsOnStop();
  if (const DWORD mode = echoToRestore.exchange(0)) SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), mode);
  // Not ExitProcess: the main thread may be inside the component, holding
  // locks that the DLLs' detach would wait for.
  TerminateProcess(GetCurrentProcess(), stopStatus);
  return TRUE;
}

std::optional<std::u16string> ReadConsoleLine(HANDLE in, bool hidden) {
  DWORD mode = 0;
  GetConsoleMode(in, &mode);
  if (hidden) {
    echoToRestore = mode;
    SetConsoleMode(in, mode & ~ENABLE_ECHO_INPUT);
  }
  std::u16string line;
  wchar_t buffer[256];
  DWORD read = 0;
  bool ended = false;
  while (!ended && ReadConsoleW(in, buffer, 256, &read, nullptr) && read > 0) {
    line.append(reinterpret_cast<const char16_t*>(buffer), read);
    ended = line.back() == u'\n';
  }
  if (hidden) {
    SetConsoleMode(in, mode);
    echoToRestore = 0;
    Write(STD_ERROR_HANDLE, "\n");
  }
  if (line.empty()) return std::nullopt;
  while (!line.empty() && (line.back() == u'\n' || line.back() == u'\r')) line.pop_back();
  return line;
}

std::optional<std::u16string> ReadPipeLine(HANDLE in) {
  std::string bytes;
  char c = 0;
  DWORD read = 0;
  bool any = false;
  while (ReadFile(in, &c, 1, &read, nullptr) && read == 1) {
    any = true;
    if (c == '\n') break;
    bytes += c;
  }
  if (!any) return std::nullopt;
  if (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
  return FromUtf8(bytes);
}

}  // namespace

void Print(std::string_view utf8) { Write(STD_OUTPUT_HANDLE, utf8); }
void PrintError(std::string_view utf8) { Write(STD_ERROR_HANDLE, utf8); }

bool IsConsole(DWORD stdHandle) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(stdHandle), &mode) != FALSE;
}

std::optional<std::u16string> ReadLine(bool hidden) {
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (in == nullptr || in == INVALID_HANDLE_VALUE) return std::nullopt;
  return IsConsole(STD_INPUT_HANDLE) ? ReadConsoleLine(in, hidden) : ReadPipeLine(in);
}

void CatchStopRequests(DWORD status) {
  stopStatus = status;
  StopEvent();
  SetConsoleCtrlHandler(OnControl, TRUE);
}

HANDLE StopRequested() { return StopEvent(); }

WordsOnStop::WordsOnStop(std::function<std::string()> words) : words_(std::move(words)) {
  const std::lock_guard<std::mutex> hold(wordsLock);
  wordsOnStop = &words_;
}

void WordsOnStop::Withdraw() {
  const std::lock_guard<std::mutex> hold(wordsLock);  // never taken once a stop is saying them
  wordsOnStop = nullptr;
}

Progress::Progress(std::string what) : what_(std::move(what)) {
  if (IsConsole(STD_ERROR_HANDLE))
    CreateTimerQueueTimer(&timer_, nullptr, Tick, this, kProgressAfterMs, 1000, WT_EXECUTEDEFAULT);
}

Progress::~Progress() {
  if (timer_) DeleteTimerQueueTimer(nullptr, timer_, INVALID_HANDLE_VALUE);  // waits for a running tick
  EraseProgress();
}

void CALLBACK Progress::Tick(void* self, BOOLEAN) {
  auto* progress = static_cast<Progress*>(self);
  const std::string line = "velcorin: " + progress->what_ + "... " + std::to_string(++progress->seconds_) + " s";
  const std::size_t previous = shownProgress.exchange(line.size());
  Write(STD_ERROR_HANDLE, "\r" + line + std::string(previous > line.size() ? previous - line.size() : 0, ' '));
}

}  // namespace velcorin::cli
