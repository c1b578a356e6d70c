// Output that reads right on a console (wide writes) and in a pipe or file
// (UTF-8), and Ctrl+C as a request to stop rather than a kill.
#pragma once

#include <windows.h>

#include <string_view>

namespace velcorin::cli {

void Print(std::string_view utf8);
void PrintError(std::string_view utf8);

// Signalled by Ctrl+C, Ctrl+Break or closing the console window once
// CatchStopRequests has run.
void CatchStopRequests();
HANDLE StopRequested();

}  // namespace velcorin::cli
