// The registry values that make the component known to COM, as data: those
// the DLL's registration writes itself and those the system's type-library
// registration writes for it. The DLL writes its own from here; the installer's
// build puts all of them into the package, so the two cannot drift apart.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velcorin::registration {

// On 64-bit Windows each bitness has its own view of the CLSID and Interface
// keys, while ProgIDs and type libraries are one for both.
enum class View { Own, Shared };

// One string value under the classes root; an empty name is the key's default value.
struct Row {
  View view = View::Own;
  std::wstring key, name, value;
  bool operator==(const Row&) const = default;
};
using Rows = std::vector<Row>;

struct Library {
  std::wstring libid;  // braced GUID text, as all GUIDs here
  std::wstring title;  // the help string, or the name where there is none
  unsigned major = 0, minor = 0, flags = 0;
  unsigned long lcid = 0;
  bool win64 = false;
};

struct Interface {
  std::wstring iid, name, proxyStub;
};

// TypeLib\{libid}\<major>.<minor> (hex), and under it <lcid>\win32 or win64.
std::wstring VersionKey(const Library& library);
std::wstring PlatformKey(const Library& library);

Rows ClassRows(std::wstring_view clsid, std::wstring_view progId, std::wstring_view server, std::wstring_view libid);
// The proxy/stub runs in whatever apartment marshals the interface.
Rows ProxyStubClassRows(std::wstring_view clsid, std::wstring_view server);

// What the system's type-library registration writes: the library's entry
// (the system takes its help folder from the path: the folder holding it) and
// one per marshalled interface.
Rows LibraryRows(const Library& library, std::wstring_view path, std::wstring_view helpFolder);
Rows InterfaceRows(const Library& library, const Interface& itf);

// Appends `more`; a value already there keeps its first writer's data (the
// help folder of the bitness registered first), and is not repeated.
void Merge(Rows& rows, const Rows& more);

}  // namespace velcorin::registration
