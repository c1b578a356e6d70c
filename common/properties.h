// One-line accessors for the stored-value properties of the record classes:
// a put stores the value unchanged, a get returns it (a string as a new copy).
#pragma once

#include <windows.h>

#include "common/error_info.h"
#include "common/owners.h"

namespace velcorin {

template <class T>
HRESULT GetStored(const T& field, T* out) {
  if (!out) return E_POINTER;
  *out = field;
  return S_OK;
}

template <class T>
HRESULT PutStored(T& field, T value) {
  field = value;
  return S_OK;
}

inline HRESULT GetStored(const Bstr& field, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    *out = Bstr(field).release();
    return S_OK;
  } catch (...) {
    return CaughtException();
  }
}

inline HRESULT PutStored(Bstr& field, BSTR value) {
  try {
    field = Bstr::copy(value);
    return S_OK;
  } catch (...) {
    return CaughtException();
  }
}

}  // namespace velcorin
