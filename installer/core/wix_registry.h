// Registry rows as WiX: an include file of RegistryValue elements, placed
// inside a component of the package's source.
#pragma once

#include <string>

#include "server/core/registry_rows.h"

namespace velcorin::installer {

// Every row under HKLM\Software\Classes, in the registry view of the component
// that includes it. Values are the installer's formatted text: a row may name
// an installed file as [#FileId] or a folder as [FOLDER]. The first row is the
// component's key path when asked (a component with no file of its own).
std::string WixRegistryInclude(const registration::Rows& rows, bool firstIsKeyPath);

}  // namespace velcorin::installer
