// Output that reads right on a console (wide writes) and in a pipe or file
// (UTF-8); input lines from either; Ctrl+C that ends the program at once, even
// in the middle of a call into the component; progress for slow steps.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace velcorin::cli {

void Print(std::string_view utf8);
void PrintError(std::string_view utf8);
bool IsConsole(DWORD stdHandle);

// One line of standard input without its line end; nothing at its end. With
// `hidden` on a console the typing is not echoed.
std::optional<std::u16string> ReadLine(bool hidden = false);

// Ctrl+C, Ctrl+Break or closing the console: StopRequested() is signalled, and
// unless the program has ended by itself within a moment, it ends with
// `status`. The instrument's handle goes with the process.
void CatchStopRequests(DWORD status);
HANDLE StopRequested();

// What a command has to say should a stop end it: the stop prints `words()` on
// standard output just before the process ends, on a thread of its own, so
// `words` must be safe to call while the command goes on.
class WordsOnStop {
 public:
  explicit WordsOnStop(std::function<std::string()> words);
  ~WordsOnStop() { Withdraw(); }
  WordsOnStop(const WordsOnStop&) = delete;
  WordsOnStop& operator=(const WordsOnStop&) = delete;
  // After it, a stop says nothing; when one is already saying them, it does
  // not return: the stop ends the process.
  void Withdraw();

 private:
  std::function<std::string()> words_;
};

// Shown on standard error, when that is a console, while a step takes longer
// than a second; erased when the step ends.
class Progress {
 public:
  explicit Progress(std::string what);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

 private:
  static void CALLBACK Tick(void* self, BOOLEAN);
  std::string what_;
  HANDLE timer_ = nullptr;
  std::atomic<int> seconds_{0};
};

}  // namespace velcorin::cli
