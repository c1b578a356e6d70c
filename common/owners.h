// Every owner the component and its tools use: system handles, the automation
// types (BSTR, VARIANT, SAFEARRAY) and a window's device context. They share
// one vocabulary: get() lends the value, put() frees it and hands out its
// address for an API's out-parameter, release() gives the value up unfreed,
// reset() frees it (and takes another), adopt() owns a raw value.
//
// A handle owner's policy names the handle type, which values mean "no handle"
// (some APIs fail with null, some with INVALID_HANDLE_VALUE) and how a handle
// is freed. Owners of handles from headers not every user includes are named
// once that header is in: this file may be included again after such a header
// (hence no #pragma once).
#ifndef VELCORIN_COMMON_OWNERS_H
#define VELCORIN_COMMON_OWNERS_H

#include <windows.h>
// windows.h first: the OLE headers rely on its types.
#include <oleauto.h>

#include <string>
#include <string_view>
#include <utility>

namespace velcorin {

template <class Policy>
class UniqueHandle {
 public:
  using Handle = typename Policy::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  Handle get() const { return handle_; }
  Handle* put() {
    reset();
    return &handle_;
  }
  explicit operator bool() const { return Policy::IsValid(handle_); }
  Handle release() { return std::exchange(handle_, Policy::Empty()); }
  void reset(Handle handle = Policy::Empty()) {
    const Handle old = std::exchange(handle_, handle);
    if (Policy::IsValid(old)) Policy::Free(old);
  }

 private:
  Handle handle_ = Policy::Empty();
};

// Handles whose API fails with null.
template <class H, auto FreeFunction>
struct NullIsEmpty {
  using Handle = H;
  static Handle Empty() { return Handle{}; }
  static bool IsValid(Handle handle) { return handle != Handle{}; }
  static void Free(Handle handle) { FreeFunction(handle); }
};

// Handles whose API fails with INVALID_HANDLE_VALUE, and those of APIs that
// fail with either: neither value is ever freed.
template <class H, auto FreeFunction>
struct NullOrInvalidIsEmpty {
  using Handle = H;
  static Handle Empty() { return static_cast<Handle>(INVALID_HANDLE_VALUE); }
  static bool IsValid(Handle handle) {
    return handle != nullptr && handle != static_cast<Handle>(INVALID_HANDLE_VALUE);
  }
  static void Free(Handle handle) { FreeFunction(handle); }
};

using UniqueKernelHandle = UniqueHandle<NullOrInvalidIsEmpty<HANDLE, &CloseHandle>>;
using UniqueRegKey = UniqueHandle<NullIsEmpty<HKEY, &RegCloseKey>>;
using UniqueActivationContext = UniqueHandle<NullOrInvalidIsEmpty<HANDLE, &ReleaseActCtx>>;
using UniqueWindow = UniqueHandle<NullIsEmpty<HWND, &DestroyWindow>>;
using UniqueGdiObject = UniqueHandle<NullIsEmpty<HGDIOBJ, &DeleteObject>>;
using UniqueMemoryDc = UniqueHandle<NullIsEmpty<HDC, &DeleteDC>>;
using UniqueMappedView = UniqueHandle<NullIsEmpty<void*, &UnmapViewOfFile>>;

// A window's device context, released with the object.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// Selects an object into a DC for the object's lifetime.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;
  ~Selection() {
    if (previous_) SelectObject(dc_, previous_);
  }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::wstring_view text);
  static Bstr adopt(BSTR raw) {
    Bstr b;
    b.value_ = raw;
    return b;
  }
  static Bstr copy(BSTR raw);  // keeps embedded U+0000: copies by length
  Bstr(const Bstr& other) : Bstr(copy(other.value_)) {}
  Bstr(Bstr&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
  Bstr& operator=(Bstr other) noexcept {
    std::swap(value_, other.value_);
    return *this;
  }
  ~Bstr() { SysFreeString(value_); }

  BSTR get() const { return value_; }
  BSTR* put() {
    reset();
    return &value_;
  }
  BSTR release() { return std::exchange(value_, nullptr); }
  UINT length() const { return SysStringLen(value_); }
  std::wstring_view view() const { return {value_ ? value_ : L"", length()}; }
  void reset() { SysFreeString(std::exchange(value_, nullptr)); }

 private:
  BSTR value_ = nullptr;
};

// For the APIs that take a VARIANT* they only read (VariantCopy's source,
// VarCmp, DISPPARAMS arguments): the one place such a pointer loses its const.
inline VARIANT* AsInput(const VARIANT& value) { return const_cast<VARIANT*>(&value); }

class Variant {
 public:
  Variant() { VariantInit(&value_); }
  explicit Variant(long value) : Variant() {
    V_VT(&value_) = VT_I4;
    V_I4(&value_) = value;
  }
  // Holds its own reference.
  explicit Variant(IDispatch* object) : Variant() {
    V_VT(&value_) = VT_DISPATCH;
    V_DISPATCH(&value_) = object;
    if (object) object->AddRef();
  }
  // An optional argument left out.
  static Variant missing() {
    Variant v;
    V_VT(&v.value_) = VT_ERROR;
    V_ERROR(&v.value_) = DISP_E_PARAMNOTFOUND;
    return v;
  }
  Variant(const Variant& other);
  Variant(Variant&& other) noexcept : Variant() { std::swap(value_, other.value_); }
  Variant& operator=(Variant other) noexcept {
    std::swap(value_, other.value_);
    return *this;
  }
  ~Variant() { VariantClear(&value_); }

  // A copy with every by-reference level resolved.
  static Variant copy(const VARIANT& source);

  VARIANT* get() { return &value_; }
  const VARIANT* get() const { return &value_; }
  VARIANT* as_input() const { return AsInput(value_); }
  VARIANT* put() {
    VariantClear(&value_);
    return &value_;
  }
  VARTYPE vt() const { return V_VT(&value_); }
  // The value for a caller's out-parameter; this one is left empty.
  VARIANT release() {
    const VARIANT value = value_;
    VariantInit(&value_);
    return value;
  }

 private:
  VARIANT value_;
};

class SafeArray {
 public:
  SafeArray() = default;
  static SafeArray adopt(SAFEARRAY* raw) {
    SafeArray a;
    a.value_ = raw;
    return a;
  }
  SafeArray(const SafeArray&) = delete;
  SafeArray& operator=(const SafeArray&) = delete;
  SafeArray(SafeArray&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
  SafeArray& operator=(SafeArray&& other) noexcept {
    std::swap(value_, other.value_);
    return *this;
  }
  ~SafeArray() {
    if (value_) SafeArrayDestroy(value_);
  }

  SAFEARRAY* get() const { return value_; }
  SAFEARRAY* release() { return std::exchange(value_, nullptr); }

 private:
  SAFEARRAY* value_ = nullptr;
};

}  // namespace velcorin
#endif  // VELCORIN_COMMON_OWNERS_H

#if defined(_INC_COMMCTRL) && !defined(VELCORIN_UNIQUE_IMAGE_LIST)
#define VELCORIN_UNIQUE_IMAGE_LIST
namespace velcorin {
using UniqueImageList = UniqueHandle<NullIsEmpty<HIMAGELIST, &ImageList_Destroy>>;
}  // namespace velcorin
#endif

#if defined(_INC_SETUPAPI) && !defined(VELCORIN_UNIQUE_DEVICE_INFO_LIST)
#define VELCORIN_UNIQUE_DEVICE_INFO_LIST
namespace velcorin {
using UniqueDeviceInfoList = UniqueHandle<NullOrInvalidIsEmpty<HDEVINFO, &SetupDiDestroyDeviceInfoList>>;
}  // namespace velcorin
#endif
