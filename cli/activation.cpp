#include "cli/activation.h"

#include "common/module_file.h"

namespace velcorin::cli {
namespace {

std::wstring ManifestBesideProgram() {
  const std::wstring program = ModuleFileName(nullptr);
  if (program.empty()) return L"";
  return program.substr(0, program.find_last_of(L"\\/") + 1) + kAssemblyManifest;
}

}  // namespace

BesideAssembly::BesideAssembly() {
  const std::wstring manifest = ManifestBesideProgram();
  if (manifest.empty() || GetFileAttributesW(manifest.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  ACTCTXW request{};
  request.cbSize = sizeof request;
  request.lpSource = manifest.c_str();
  context_.reset(CreateActCtxW(&request));
  if (!context_) {
    failure_ = GetLastError();
    return;
  }
  active_ = ActivateActCtx(context_.get(), &cookie_) != FALSE;
  if (!active_) failure_ = GetLastError();
}

BesideAssembly::~BesideAssembly() {
  if (active_) DeactivateActCtx(0, cookie_);
}

}  // namespace velcorin::cli
