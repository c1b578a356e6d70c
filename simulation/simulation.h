// The component's built-in simulated instruments. Off unless VELCORIN_SIMULATE
// or HKCU\Software\Velcorin\Simulate names a configuration or a trace; then
// the instruments it describes are the only ones the process sees, and no real
// one is ever listed or opened. A file that cannot be used makes every call
// that would reach an instrument raise error 5, naming the file and the line.
#pragma once

#include <atomic>
#include <string>

#include "simulation/core/instrument_set.h"

namespace velcorin::simulation {

extern std::atomic<bool> gAskedFor;

// Asked for, whether or not the file could be used.
inline bool IsOn() { return gAskedFor.load(std::memory_order_relaxed); }

// Reads the settings and the file; the first call does it, later ones nothing.
// Not from DllMain: it reads the registry and a file.
void StartOnce();

// The process's instruments. Throws RuntimeError 5, with the reason the file
// could not be used as its description, when there are none.
sim::InstrumentSet& Instruments();

// The device path string a client gets for a simulated instrument's path.
std::u16string DevicePathString(const std::string& path);

}  // namespace velcorin::simulation
