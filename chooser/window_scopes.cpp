#include "chooser/window_scopes.h"

#include <string>

#include "common/module.h"

namespace velcorin {

ManifestScope::ManifestScope() {
  const std::wstring path = ModulePath();
  ACTCTXW manifest{};
  manifest.cbSize = sizeof(manifest);
  manifest.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
  manifest.lpSource = path.c_str();
  manifest.hModule = ModuleHandle();
  manifest.lpResourceName = ISOLATIONAWARE_MANIFEST_RESOURCE_ID;
  context_.reset(CreateActCtxW(&manifest));
  if (context_) active_ = ActivateActCtx(context_.get(), &cookie_) != FALSE;
}

ManifestScope::~ManifestScope() {
  if (active_) DeactivateActCtx(0, cookie_);
}

namespace {

BOOL CALLBACK CollectEnabled(HWND window, LPARAM windows) {
  if (!IsWindowVisible(window) || !IsWindowEnabled(window)) return TRUE;
  try {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
  } catch (...) {
    return FALSE;
  }
}

}  // namespace

ThreadWindowsDisabled::ThreadWindowsDisabled() {
  EnumThreadWindows(GetCurrentThreadId(), &CollectEnabled, reinterpret_cast<LPARAM>(&disabled_));
  for (HWND window : disabled_) EnableWindow(window, FALSE);
}

void ThreadWindowsDisabled::Restore() {
  for (HWND window : disabled_)
    if (IsWindow(window)) EnableWindow(window, TRUE);
  disabled_.clear();
}

}  // namespace velcorin
