// Scopes the chooser dialog runs in: its manifest, and the other windows it
// disables while it is shown.
#pragma once

#include <windows.h>

#include <vector>

#include "common/owners.h"

namespace velcorin {

// The DLL's own manifest (common controls 6), active for the object's lifetime.
// Without one (a system that lacks it) everything still works, unthemed.
class ManifestScope {
 public:
  ManifestScope();
  ManifestScope(const ManifestScope&) = delete;
  ManifestScope& operator=(const ManifestScope&) = delete;
  ~ManifestScope();

 private:
  UniqueActivationContext context_;
  ULONG_PTR cookie_ = 0;
  bool active_ = false;
};

// The calling thread's other visible top-level windows, disabled while a modal
// dialog is shown, as a modal form does it; Restore (or the destructor) enables
// again exactly those it disabled.
class ThreadWindowsDisabled {
 public:
  ThreadWindowsDisabled();
  ThreadWindowsDisabled(const ThreadWindowsDisabled&) = delete;
  ThreadWindowsDisabled& operator=(const ThreadWindowsDisabled&) = delete;
  ~ThreadWindowsDisabled() { Restore(); }
  void Restore();

 private:
  std::vector<HWND> disabled_;
};

}  // namespace velcorin
