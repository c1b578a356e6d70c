// The component as the tool uses it: only its public classes, created by
// ProgID, through their dual interfaces, exactly as any client would.
#pragma once

#include <windows.h>
// windows.h first: the OLE headers rely on its types.
#include <oleauto.h>
#include <wrl/client.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Velcorin_h.h"
#include "cli/core/arguments.h"
#include "cli/core/report.h"

namespace velcorin::cli {

// A failing HRESULT, with the description the component gave in its error info.
struct ComError : std::runtime_error {
  ComError(HRESULT hr, const std::string& description) : std::runtime_error(description), hr(hr) {}
  HRESULT hr;
};

class Component {
 public:
  Component();  // throws ComError when the classes cannot be created
  ~Component();  // closes the instrument: releasing a Device leaves its handle open
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  // Every attached instrument that passes the filters, numbered by its
  // position in the unfiltered list.
  std::vector<Instrument> List(const std::vector<FilterOption>& filters = {});

  // An open connection to one instrument for the commands that talk to it.
  bool Open(const Instrument& instrument);
  // One QueryDev: the reply and its round-trip time, or nothing when it got no reply.
  std::optional<Reply> Query(const QueryOptions& command, double& milliseconds);
  bool EnterCalMode(const std::u16string& password);
  bool ExitCalMode();

  // The "Select Device" dialog: the chosen device path, nothing on Cancel.
  std::optional<std::u16string> Choose();

 private:
  std::vector<Instrument> Enumerate(const std::vector<FilterOption>& filters);

  Microsoft::WRL::ComPtr<_Device> device_;
};

}  // namespace velcorin::cli
