// The five creatable classes, listed once: the C++ class (whose CLSID is
// CLSID_<class>) and its ProgID. The class factories, the DLL's registration
// and the installer's build all expand this list.
#pragma once

#define VELCORIN_CREATABLE_CLASSES(X) \
  X(Device, L"Velcorin.Device")       \
  X(Packet, L"Velcorin.Packet")       \
  X(Chooser, L"Velcorin.Chooser")     \
  X(DevInfo, L"Velcorin.DevInfo")     \
  X(EnumFilter, L"Velcorin.EnumFilter")
