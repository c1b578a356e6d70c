// What the component registers, from the class list and the type library:
// read by the DLL's registration and by the installer's build, which writes
// the same values into the package.
#pragma once

#include <windows.h>
// windows.h first: the OLE headers rely on its types.
#include <oaidl.h>

#include <span>
#include <string>
#include <string_view>

#include "server/core/registry_rows.h"

namespace velcorin {

struct MarshalledInterface {
  const IID* iid;
  bool ownProxyStub;  // else the type library's marshaller, which the library's registration names
};
// The library's dual interfaces; _Chooser and _EnumFilter marshal through our
// own proxy/stub, whose description has the vtable slot the library leaves out.
std::span<const MarshalledInterface> MarshalledInterfaces();

const CLSID& ProxyStubClsid();
std::wstring GuidText(REFGUID guid);

// The library's identity; the second form adds its title.
registration::Library DescribeLibrary(const TLIBATTR& attr);
HRESULT DescribeLibrary(ITypeLib* lib, registration::Library& out);

// The values the DLL writes itself, for a server at `server`: the classes and the proxy/stub.
registration::Rows ServerRows(std::wstring_view server, std::wstring_view libid);

// The values the system's registration of the library writes (with our
// proxy/stub where the DLL puts it in place of the marshaller).
HRESULT SystemRows(ITypeLib* lib, std::wstring_view path, std::wstring_view helpFolder, registration::Rows& out);

}  // namespace velcorin
