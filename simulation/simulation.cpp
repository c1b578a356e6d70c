#include "simulation/simulation.h"

#include <windows.h>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "common/ansi.h"
#include "common/core/device_path.h"
#include "common/file_text.h"
#include "common/owners.h"
#include "common/runtime_error.h"
#include "common/user_settings.h"
#include "trace/trace.h"

namespace velcorin::simulation {

std::atomic<bool> gAskedFor{false};

namespace {

constexpr wchar_t kVariable[] = L"VELCORIN_SIMULATE";
constexpr wchar_t kUserSetting[] = L"HKCU\\Software\\Velcorin\\Simulate";

struct State {
  std::unique_ptr<sim::InstrumentSet> instruments;
  std::u16string failure;
};

State& TheState() {
  static State state;
  return state;
}

std::u16string Wide(const std::wstring& text) { return {text.begin(), text.end()}; }
std::u16string Wide(const std::string& text) { return {text.begin(), text.end()}; }

std::u16string Failure(const std::wstring& file, const wchar_t* setting, const std::u16string& why) {
  return u"Simulated instruments (" + Wide(setting) + u"): " + Wide(file) + u": " + why + u"; no instrument is used";
}

void Load(const std::wstring& file, const wchar_t* setting) {
  State& state = TheState();
  DWORD error = 0;
  const auto text = ReadWholeFile(file.c_str(), &error);
  if (!text) {
    state.failure = Failure(file, setting, u"cannot be read (system error " + Wide(std::to_string(error)) + u")");
    return;
  }
  try {
    state.instruments = std::make_unique<sim::InstrumentSet>(sim::ReadInstruments(*text));
  } catch (const sim::ConfigError& e) {
    state.failure = Failure(file, setting, Wide(std::string(e.what())));
  }
}

void Start() {
  const wchar_t* setting = kVariable;
  auto file = EnvironmentText(kVariable);
  if (!file) {
    setting = kUserSetting;
    file = UserSettingText(L"Simulate");
  }
  if (!file) return;
  Load(*file, setting);
  trace::MarkLinesSimulated();
  gAskedFor = true;
}

}  // namespace

void StartOnce() {
  static std::once_flag once;
  std::call_once(once, Start);
}

sim::InstrumentSet& Instruments() {
  State& state = TheState();
  if (!state.instruments) throw RuntimeError{kErrInvalidCall, state.failure};
  return *state.instruments;
}

// As the system's interface list gives it: UTF-16LE with its terminator, and
// the zero byte the enumeration's record keeps beyond it.
std::u16string DevicePathString(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  for (const char c : path) {
    bytes.push_back(static_cast<std::uint8_t>(c));
    bytes.push_back(0);
  }
  bytes.insert(bytes.end(), 3, 0);
  return WidenDevicePath(bytes, AnsiDecodeByte);
}

}  // namespace velcorin::simulation
