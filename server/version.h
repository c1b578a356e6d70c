// The one place the product's version is written. The DLLs' and the tool's version
// resources, the installer and `velcorin --version` all read it from here.
#pragma once

#define VELCORIN_VERSION_MAJOR 1
#define VELCORIN_VERSION_MINOR 0
#define VELCORIN_VERSION_BUILD 0
#define VELCORIN_VERSION_REVISION 1
// The form the version resource shows: minor in two digits, revision in four.
#define VELCORIN_VERSION_TEXT "1.00.0001"
