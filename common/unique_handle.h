// One owner for every kind of system handle, and every owner the component
// and its tools use, named here. The policy names the handle type, which
// values mean "no handle" (some APIs fail with null, some with
// INVALID_HANDLE_VALUE) and how a handle is freed. Owners of handles from
// headers not every user includes are named once that header is in: this
// file may be included again after such a header (hence no #pragma once).
#ifndef VELCORIN_COMMON_UNIQUE_HANDLE_H
#define VELCORIN_COMMON_UNIQUE_HANDLE_H

#include <windows.h>

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
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Detach()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    Reset(other.Detach());
    return *this;
  }
  ~UniqueHandle() { Reset(); }

  Handle get() const { return handle_; }
  // For an API that returns the handle through an out-parameter.
  Handle* out() {
    Reset();
    return &handle_;
  }
  explicit operator bool() const { return Policy::IsValid(handle_); }
  Handle Detach() { return std::exchange(handle_, Policy::Empty()); }
  void Reset(Handle handle = Policy::Empty()) {
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

}  // namespace velcorin
#endif  // VELCORIN_COMMON_UNIQUE_HANDLE_H

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
