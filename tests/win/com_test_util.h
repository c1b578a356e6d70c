// Helpers for tests that use the component as a client would.
#pragma once

#include <windows.h>
// windows.h first: the OLE headers rely on its types.
#include <oleauto.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "Velcorin_h.h"

using Microsoft::WRL::ComPtr;

#define EXPECT_FAILED(expr) EXPECT_TRUE(FAILED(expr))

// Creates an object by its programmatic identifier and asks for T.
template <class T>
ComPtr<T> CreateByProgId(const wchar_t* progId) {
  CLSID clsid{};
  ComPtr<T> object;
  if (SUCCEEDED(CLSIDFromProgID(progId, &clsid)))
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(T), reinterpret_cast<void**>(object.GetAddressOf()));
  return object;
}

// One late-bound call, as a script engine makes it.
struct InvokeResult {
  HRESULT hr = E_FAIL;
  VARIANT value{};
  EXCEPINFO exception{};
  UINT badArgument = 0;
  InvokeResult() = default;
  InvokeResult(const InvokeResult&) = delete;
  ~InvokeResult();
  std::wstring description() const;
};

DISPID DispIdOf(IDispatch* object, const wchar_t* name);
// Arguments are given in natural order; named holds the names of the last named.size() arguments.
void Invoke(InvokeResult& result, IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> args = {},
            std::vector<std::wstring> named = {});

VARIANT I4(long value);
VARIANT Str(const wchar_t* text);  // the caller's test owns nothing: freed by InvokeResult users via ClearArgs
VARIANT Obj(IDispatch* object);
void ClearArgs(std::vector<VARIANT>& args);

// The error info the current thread holds, as (source, description).
std::pair<std::wstring, std::wstring> TakeErrorInfo();

std::wstring DllPath();
