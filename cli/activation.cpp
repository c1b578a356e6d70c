#include "cli/activation.h"

#include <vector>

namespace velcorin::cli {
namespace {

std::wstring ManifestBesideProgram() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return L"";
    if (length < path.size()) {
      std::wstring folder(path.data(), length);
      return folder.substr(0, folder.find_last_of(L"\\/") + 1) + kAssemblyManifest;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace

BesideAssembly::BesideAssembly() {
  const std::wstring manifest = ManifestBesideProgram();
  if (manifest.empty() || GetFileAttributesW(manifest.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  ACTCTXW request{};
  request.cbSize = sizeof request;
  request.lpSource = manifest.c_str();
  context_ = CreateActCtxW(&request);
  if (context_ == INVALID_HANDLE_VALUE) {
    failure_ = GetLastError();
    return;
  }
  active_ = ActivateActCtx(context_, &cookie_) != FALSE;
  if (!active_) failure_ = GetLastError();
}

BesideAssembly::~BesideAssembly() {
  if (active_) DeactivateActCtx(0, cookie_);
  if (context_ != INVALID_HANDLE_VALUE) ReleaseActCtx(context_);
}

}  // namespace velcorin::cli
