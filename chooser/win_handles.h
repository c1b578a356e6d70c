// Owners for the window-system resources the chooser dialog uses.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <utility>

namespace velcorin {

template <class Handle, auto Free>
class Unique {
 public:
  Unique() = default;
  explicit Unique(Handle handle) : handle_(handle) {}
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  Unique(Unique&& other) noexcept : handle_(std::exchange(other.handle_, Handle{})) {}
  Unique& operator=(Unique&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  ~Unique() { Reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Handle{}; }
  void Reset() {
    if (handle_ != Handle{}) Free(std::exchange(handle_, Handle{}));
  }

 private:
  Handle handle_{};
};

using UniqueWindow = Unique<HWND, &DestroyWindow>;
using UniqueGdiObject = Unique<HGDIOBJ, &DeleteObject>;
using UniqueMemoryDc = Unique<HDC, &DeleteDC>;
using UniqueImageList = Unique<HIMAGELIST, &ImageList_Destroy>;

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

}  // namespace velcorin
