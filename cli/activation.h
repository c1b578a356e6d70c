// Registration-free use: when the assembly manifest lies beside the program,
// its classes come from the DLL beside it, registered or not. Activated at run
// time rather than named in the program's own manifest, because Windows
// refuses to start a program whose manifest names an assembly it cannot find,
// and this tool must also run alone against a registered DLL.
#pragma once

#include <windows.h>

#include <string>

#include "common/owners.h"

namespace velcorin::cli {

inline constexpr wchar_t kAssemblyManifest[] = L"Halvern.Velcorin.manifest";

class BesideAssembly {
 public:
  BesideAssembly();  // activates the manifest beside the program, if there is one
  ~BesideAssembly();
  BesideAssembly(const BesideAssembly&) = delete;
  BesideAssembly& operator=(const BesideAssembly&) = delete;

  // The manifest is there but unusable: Windows' error code, else 0.
  DWORD failure() const { return failure_; }
  bool active() const { return active_; }

 private:
  UniqueActivationContext context_;  // released after the deactivation
  ULONG_PTR cookie_ = 0;
  bool active_ = false;
  DWORD failure_ = 0;
};

}  // namespace velcorin::cli
