// One owner for every kind of system handle. The policy names the handle type,
// which values mean "no handle" (some APIs fail with null, some with
// INVALID_HANDLE_VALUE) and how a handle is freed.
#pragma once

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

}  // namespace velcorin
