// Turning the component's failures into HRESULTs with error info, at the
// boundary of every member.
#pragma once

#include <windows.h>
// windows.h first: the OLE headers rely on its types.
#include <oaidl.h>
#include <oleauto.h>

#include <string>
#include <utility>

#include "common/runtime_error.h"

namespace velcorin {

// A failure reported by another object (or the system): passed on unchanged.
// A client may keep the description the object's error info gave, to show it.
struct ComError {
  explicit ComError(HRESULT hr, std::string description = {}) : hr(hr), description(std::move(description)) {}
  HRESULT hr;
  std::string description;
};

inline void ThrowIfFailed(HRESULT hr) {
  if (FAILED(hr)) throw ComError{hr};
}

constexpr HRESULT AutomationErrorCode(std::int32_t number) {
  return static_cast<HRESULT>(0x800A0000u + static_cast<unsigned>(number));
}

// Sets error info (source = the class's ProgID) and returns 0x800A0000 + number;
// without a description, the runtime's standard text.
HRESULT ReportRuntimeError(std::int32_t number, const wchar_t* source, const std::u16string& description = {});

// Passes on the error an IDispatch::Invoke of another object reported.
[[noreturn]] void ThrowInvokeFailure(HRESULT hr, EXCEPINFO& info);

// The HRESULT for the exception being handled, with error info for a run-time
// error (source = the class's ProgID). Call it only inside a catch block.
HRESULT CaughtException(const wchar_t* source = L"") noexcept;

// Runs a member's body; no exception ever leaves. A failure carries error info
// set during this call (ours, or that of the object whose code it passes on) or
// none: never what an earlier call left behind.
template <class Body>
HRESULT Guard(const wchar_t* source, Body&& body) noexcept {
  SetErrorInfo(0, nullptr);
  try {
    body();
    return S_OK;
  } catch (...) {
    return CaughtException(source);
  }
}

// A failed variant conversion as the runtime reports it: overflow is error 6,
// anything that does not convert is error 13.
[[noreturn]] inline void RaiseConversionFailure(HRESULT hr) {
  if (hr == DISP_E_OVERFLOW) Raise(kErrOverflow);
  if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_BADVARTYPE) Raise(kErrTypeMismatch);
  throw ComError{hr};
}

}  // namespace velcorin
