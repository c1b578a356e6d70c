#include "device/dev_info.h"

#include "common/error_info.h"

namespace velcorin {

namespace {

constexpr const wchar_t* kSource = L"Velcorin.DevInfo";

SafeArray CopyOfArray(SAFEARRAY* source) {
  SAFEARRAY* copy = nullptr;
  if (source) ThrowIfFailed(SafeArrayCopy(source, &copy));
  return SafeArray::adopt(copy);
}

Bstr ToBstr(const std::u16string& text) {
  return Bstr(std::wstring_view(reinterpret_cast<const wchar_t*>(text.data()), text.size()));
}

// Channel i of the query goes to element i: the array's bounds are 1 to N.
SafeArray ToChannelArray(const std::vector<std::u16string>& names) {
  SafeArray array = SafeArray::adopt(SafeArrayCreateVector(VT_BSTR, 1, static_cast<ULONG>(names.size())));
  if (!array.get()) throw std::bad_alloc();
  for (size_t i = 0; i < names.size(); ++i) {
    LONG index = static_cast<LONG>(i + 1);
    Bstr name = ToBstr(names[i]);
    ThrowIfFailed(SafeArrayPutElement(array.get(), &index, name.get()));
  }
  return array;
}

}  // namespace

void DevInfo::Fill(const Identity& identity) {
  if (identity.modelNumber) modelNumber_ = ToBstr(*identity.modelNumber);
  if (identity.serialNumber) serialNumber_ = ToBstr(*identity.serialNumber);
  if (identity.firmwareVersion) firmwareVersion_ = ToBstr(*identity.firmwareVersion);
  if (identity.productId) productId_ = *identity.productId;
  if (identity.channelCount) channelCount_ = *identity.channelCount;
  if (identity.description) description_ = ToBstr(*identity.description);
  if (identity.channelNames) channelNames_ = ToChannelArray(*identity.channelNames);
}

STDMETHODIMP DevInfo::get_ChannelNames(SAFEARRAY** names) {
  if (!names) return E_POINTER;
  *names = nullptr;
  return Guard(kSource, [&] { *names = CopyOfArray(channelNames_.get()).release(); });
}

STDMETHODIMP DevInfo::put_ChannelNames(SAFEARRAY** names) {
  if (!names) return E_POINTER;
  return Guard(kSource, [&] {
    if (*names) {
      VARTYPE type = VT_EMPTY;
      ThrowIfFailed(SafeArrayGetVartype(*names, &type));
      if (type != VT_BSTR) Raise(kErrTypeMismatch);
    }
    channelNames_ = CopyOfArray(*names);
  });
}

}  // namespace velcorin
