// Owners for the automation types: every BSTR, VARIANT and SAFEARRAY the
// component holds is released by exactly one of these.
#pragma once

#include <windows.h>
// windows.h first: the OLE headers rely on its types.
#include <oleauto.h>

#include <string>
#include <string_view>
#include <utility>

namespace velcorin {

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::wstring_view text);
  static Bstr Attach(BSTR raw) {
    Bstr b;
    b.value_ = raw;
    return b;
  }
  static Bstr Copy(BSTR raw);  // keeps embedded U+0000: copies by length
  Bstr(const Bstr& other) : Bstr(Copy(other.value_)) {}
  Bstr(Bstr&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
  Bstr& operator=(Bstr other) noexcept {
    std::swap(value_, other.value_);
    return *this;
  }
  ~Bstr() { SysFreeString(value_); }

  BSTR get() const { return value_; }
  BSTR* out() {
    Reset();
    return &value_;
  }
  BSTR Detach() { return std::exchange(value_, nullptr); }
  BSTR CopyOut() const { return Copy(value_).Detach(); }
  UINT length() const { return SysStringLen(value_); }
  std::wstring_view view() const { return {value_ ? value_ : L"", length()}; }
  void Reset() { SysFreeString(std::exchange(value_, nullptr)); }

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
  static Variant Missing() {
    Variant missing;
    V_VT(&missing.value_) = VT_ERROR;
    V_ERROR(&missing.value_) = DISP_E_PARAMNOTFOUND;
    return missing;
  }
  Variant(const Variant& other);
  Variant(Variant&& other) noexcept : Variant() { std::swap(value_, other.value_); }
  Variant& operator=(Variant other) noexcept {
    std::swap(value_, other.value_);
    return *this;
  }
  ~Variant() { VariantClear(&value_); }

  // A copy with every by-reference level resolved.
  static Variant CopyOf(const VARIANT& source);

  VARIANT* get() { return &value_; }
  const VARIANT* get() const { return &value_; }
  VARIANT* AsInput() const { return velcorin::AsInput(value_); }
  VARIANT* out() {
    VariantClear(&value_);
    return &value_;
  }
  VARTYPE vt() const { return V_VT(&value_); }
  void DetachTo(VARIANT* target) {
    *target = value_;
    VariantInit(&value_);
  }

 private:
  VARIANT value_;
};

class SafeArray {
 public:
  SafeArray() = default;
  static SafeArray Attach(SAFEARRAY* raw) {
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
  SAFEARRAY* Detach() { return std::exchange(value_, nullptr); }

 private:
  SAFEARRAY* value_ = nullptr;
};

}  // namespace velcorin
