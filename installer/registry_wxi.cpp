// registry_wxi <32-bit DLL> <64-bit DLL> <folder>: writes the registry rows of
// the package, as the DLLs' own registration would make them, into three WiX
// include files: each bitness's registry view (registry-win32.wxi,
// registry-win64.wxi) and the keys both views share (registry-shared.wxi).
// Run under Wine at build time; reads each DLL's embedded type library.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "installer/core/wix_registry.h"
#include "server/registration_table.h"

namespace {

using Microsoft::WRL::ComPtr;
using velcorin::registration::Row;
using velcorin::registration::Rows;
using velcorin::registration::View;

// How Velcorin.wxs names each bitness's DLL and folder; the package resolves them at install.
struct Bitness {
  const wchar_t* dll;
  const wchar_t* fileRef;
  const wchar_t* folderRef;
  const char* include;
};

struct Failure {
  std::string what;
  HRESULT hr;
};

void Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) throw Failure{what, hr};
}

// What registering this DLL writes; its CLSID and Interface rows go to its own
// view, the others to the shared ones (the first bitness's values win there,
// as the one registered first leaves the library's help folder).
void Collect(const Bitness& b, Rows& own, Rows& shared) {
  ComPtr<ITypeLib> lib;
  Check(LoadTypeLibEx(b.dll, REGKIND_NONE, &lib), "LoadTypeLibEx");
  velcorin::registration::Library library;
  Check(velcorin::DescribeLibrary(lib.Get(), library), "reading the library's attributes");
  Rows rows = velcorin::ServerRows(b.fileRef, library.libid);
  Check(velcorin::SystemRows(lib.Get(), b.fileRef, b.folderRef, rows), "reading the library's interfaces");
  for (const Row& row : rows) velcorin::registration::Merge(row.view == View::Own ? own : shared, {row});
}

void Write(const std::wstring& folder, const char* name, const Rows& rows, bool firstIsKeyPath) {
  std::ofstream out(std::filesystem::path(folder) / name, std::ios::binary);
  out << velcorin::installer::WixRegistryInclude(rows, firstIsKeyPath);
  if (!out.flush()) throw Failure{std::string("writing ") + name, E_FAIL};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: registry_wxi <32-bit DLL> <64-bit DLL> <folder>\n");
    return 2;
  }
  const Bitness bitnesses[] = {{argv[1], L"[#Dll32]", L"[INSTALLDIR32]", "registry-win32.wxi"},
                               {argv[2], L"[#Dll64]", L"[INSTALLDIR64]", "registry-win64.wxi"}};
  try {
    Rows shared;
    for (const Bitness& b : bitnesses) {
      Rows own;
      Collect(b, own, shared);
      Write(argv[3], b.include, own, false);
    }
    Write(argv[3], "registry-shared.wxi", shared, true);
  } catch (const Failure& f) {
    std::fprintf(stderr, "registry_wxi: %s failed (0x%08lx)\n", f.what.c_str(), static_cast<unsigned long>(f.hr));
    return 1;
  }
  return 0;
}
