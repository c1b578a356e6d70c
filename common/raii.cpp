#include "common/raii.h"

#include "common/error_info.h"

#include <new>

namespace velcorin {

Bstr::Bstr(std::wstring_view text) {
  value_ = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!value_) throw std::bad_alloc();
}

Bstr Bstr::Copy(BSTR raw) {
  Bstr b;
  if (raw) b = Bstr(std::wstring_view(raw, SysStringLen(raw)));
  return b;
}

Variant::Variant(const Variant& other) : Variant() { ThrowIfFailed(VariantCopy(&value_, other.AsInput())); }

Variant Variant::CopyOf(const VARIANT& source) {
  Variant v;
  ThrowIfFailed(VariantCopyInd(v.get(), velcorin::AsInput(source)));
  return v;
}

}  // namespace velcorin
