// The component as the tool uses it: only its public classes, created by
// ProgID, through their dual interfaces, exactly as any client would; beside
// them the system's own device list, as any program may read it.
#pragma once

#include <windows.h>
// windows.h first: the OLE headers rely on its types.
#include <oleauto.h>
#include <wrl/client.h>

#include <optional>
#include <string>
#include <vector>

#include "Velcorin_h.h"
#include "cli/core/arguments.h"
#include "cli/core/report.h"
#include "common/error_info.h"

namespace velcorin::cli {

// The device path strings of the family's interfaces the system lists as present, in its order.
std::vector<std::u16string> PresentPaths();
// The path a device path string names, and back: what a command line can carry.
std::u16string PlainPath(std::u16string_view devicePath);
std::u16string DevicePathOf(std::u16string_view plainPath);
// The instrument's device path string with its plain form, and whether that
// plain form, widened again, names the same path.
void SetPath(Instrument& instrument, std::u16string_view devicePath);

enum class OpenOutcome { Opened, Absent, InUse, Silent };

// Where the component's code was loaded from.
struct LoadedDll {
  std::wstring path;
  std::string version;  // its version resource's FileVersion
  int bits = 0;         // from its PE header
};

class Component {
 public:
  Component();   // throws ComError when the classes cannot be created
  ~Component();  // closes the instrument: releasing a Device leaves its handle open
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  // Every present instrument, numbered by its place in the system's list: the
  // ones the enumeration identified and passed through the filters, and as
  // unusable rows the ones it could not open (filters cannot judge those).
  std::vector<Instrument> List(const std::vector<FilterOption>& filters = {});

  // Opens one instrument by its device path string. `justListed`: an
  // enumeration has only just closed it, and an instrument may take a moment
  // before it accepts the next opening.
  OpenOutcome Open(const std::u16string& path, bool justListed);
  Instrument OpenInstrument();  // the identity the opening read

  // One QueryDev: the reply and its round-trip time, or nothing when it got no reply.
  std::optional<Reply> Query(const ResolvedPacket& command, double& milliseconds);
  bool Write(const ResolvedPacket& command);
  std::optional<Reply> Read();
  bool EnterCalMode(const std::u16string& password);
  bool ExitCalMode();

  // The "Select Device" dialog: the chosen device path, nothing on Cancel.
  std::optional<std::u16string> Choose();

  // The op types, op codes and end codes as the type library names them.
  Enumerations Names();
  LoadedDll Dll();

 private:
  std::vector<Instrument> Enumerate(const std::vector<FilterOption>& options);

  Microsoft::WRL::ComPtr<_Device> device_;
};

}  // namespace velcorin::cli
