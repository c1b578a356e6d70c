#include "chooser/chooser.h"

#include <memory>

#include "chooser/chooser_form.h"
#include "common/error_info.h"

namespace velcorin {

namespace {

constexpr const wchar_t* kSource = L"Velcorin.Chooser";

}  // namespace

STDMETHODIMP Chooser::ShowDialog(VARIANT_BOOL* selected) {
  if (!selected) return E_POINTER;
  *selected = VARIANT_FALSE;
  // The client may drop its last reference from inside the dialog's message loop.
  const ComPtr<Chooser> keepAlive(this);
  return Guard(kSource, [&] {
    ComPtr<_Collection> filter;
    ThrowIfFailed(get_Filter(&filter));
    // A form of its own for every call: a nested call from the caller's
    // message handling gets another one.
    auto chooserForm = std::make_unique<ChooserForm>();
    chooserForm->Filter = filter;
    chooserForm->ShowModal();
    isDeviceSelected_ = chooserForm->IsOkClicked ? VARIANT_TRUE : VARIANT_FALSE;
    const std::u16string& path = chooserForm->DevicePath;
    devicePath_ = Bstr({reinterpret_cast<const wchar_t*>(path.data()), path.size()});
    chooserForm.reset();
    *selected = isDeviceSelected_;
  });
}

}  // namespace velcorin
