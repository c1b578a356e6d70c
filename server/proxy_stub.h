// The proxy/stub factory widl generates into the DLL for _Chooser and _EnumFilter.
#pragma once

#include <windows.h>

extern "C" {
extern const CLSID CLSID_PSFactoryBuffer;
HRESULT WINAPI PrxDllGetClassObject(REFCLSID clsid, REFIID riid, void** factory);
HRESULT WINAPI PrxDllCanUnloadNow();
}
