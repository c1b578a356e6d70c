#include "chooser/chooser.h"

namespace velcorin {

STDMETHODIMP Chooser::ShowDialog(VARIANT_BOOL* selected) {
  if (!selected) return E_POINTER;
  *selected = VARIANT_FALSE;
  return E_NOTIMPL;
}

}  // namespace velcorin
