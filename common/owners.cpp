#include "common/owners.h"

#include "common/error_info.h"

#include <new>

namespace velcorin {

Bstr::Bstr(std::wstring_view text) {
  value_ = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!value_) throw std::bad_alloc();
}

Bstr Bstr::copy(BSTR raw) {
  Bstr b;
  if (raw) b = Bstr(std::wstring_view(raw, SysStringLen(raw)));
  return b;
}

Variant::Variant(const Variant& other) : Variant() { ThrowIfFailed(VariantCopy(&value_, other.as_input())); }

Variant Variant::copy(const VARIANT& source) {
  Variant v;
  ThrowIfFailed(VariantCopyInd(v.get(), AsInput(source)));
  return v;
}

}  // namespace velcorin
