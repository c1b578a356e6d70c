// Forced into the widl-generated proxy/stub sources: their factory is reached
// through our own DllGetClassObject (hence the prefix), under a CLSID of its
// own, and hands IDispatch's members on to the system's IDispatch proxy.
#pragma once

#define USE_STUBLESS_PROXY
#define PROXY_DELEGATION
#define ENTRY_PREFIX Prx
#include "proxy_stub_clsid.h"

#include <windows.h>
#include <objbase.h>
#include <rpcproxy.h>

// The C runtime has its own.
#undef DLLDUMMYPURECALL
#define DLLDUMMYPURECALL

// rpcrt4 exports these; mingw's rpcproxy.h does not declare them.
HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown* This, REFIID riid, void** object);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown* This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown* This);
