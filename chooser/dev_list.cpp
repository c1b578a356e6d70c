#include "chooser/dev_list.h"

#include <algorithm>
#include <limits>

#include "common/collection_ref.h"
#include "common/error_info.h"

namespace velcorin {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::u16string TextOf(const Bstr& text) {
  const std::wstring_view view = text.view();
  return {reinterpret_cast<const char16_t*>(view.data()), view.size()};
}

template <class Getter>
std::u16string ReadText(Getter&& get) {
  Bstr text;
  ThrowIfFailed(get(text.put()));
  return TextOf(text);
}

// Channel i at position i - 1, for i from 1 to the upper bound; indices below
// the lower bound read as empty. No pane ever shows more than 32767 channels.
std::optional<std::vector<std::u16string>> NamesOf(SAFEARRAY* names) {
  VARTYPE type = VT_EMPTY;
  if (!names || SafeArrayGetDim(names) != 1 || FAILED(SafeArrayGetVartype(names, &type)) || type != VT_BSTR)
    return std::nullopt;
  LONG lower = 0, upper = 0;
  ThrowIfFailed(SafeArrayGetLBound(names, 1, &lower));
  ThrowIfFailed(SafeArrayGetUBound(names, 1, &upper));
  const LONG last = std::min<LONG>(upper, std::numeric_limits<std::int16_t>::max());
  std::vector<std::u16string> result(static_cast<std::size_t>(std::max<LONG>(last, 0)));
  for (LONG i = std::max<LONG>(lower, 1); i <= last; ++i) {
    Bstr name;
    ThrowIfFailed(SafeArrayGetElement(names, &i, name.put()));
    result[static_cast<std::size_t>(i - 1)] = TextOf(name);
  }
  return result;
}

DeviceRecord ReadRecord(_DevInfo& info) {
  DeviceRecord record;
  record.DevicePath = ReadText([&](BSTR* v) { return info.get_DevicePath(v); });
  record.ModelNumber = ReadText([&](BSTR* v) { return info.get_ModelNumber(v); });
  record.SerialNumber = ReadText([&](BSTR* v) { return info.get_SerialNumber(v); });
  record.FirmwareVersion = ReadText([&](BSTR* v) { return info.get_FirmwareVersion(v); });
  record.Description = ReadText([&](BSTR* v) { return info.get_Description(v); });
  long number = 0;
  ThrowIfFailed(info.get_ProductID(&number));
  record.ProductID = number;
  ThrowIfFailed(info.get_ChannelCount(&number));
  record.ChannelCount = number;
  SAFEARRAY* names = nullptr;
  ThrowIfFailed(info.get_ChannelNames(&names));
  const SafeArray owned = SafeArray::adopt(names);
  record.ChannelNames = NamesOf(owned.get());
  return record;
}

}  // namespace

std::vector<DeviceRecord> ReadDevList(_Collection* list) {
  std::vector<DeviceRecord> records;
  CollectionRef(list).ForEach([&](const VARIANT& item) {
    ComPtr<_DevInfo> info;
    if ((V_VT(&item) == VT_DISPATCH || V_VT(&item) == VT_UNKNOWN) && V_UNKNOWN(&item) &&
        SUCCEEDED(V_UNKNOWN(&item)->QueryInterface(IID_PPV_ARGS(&info))))
      records.push_back(ReadRecord(*info.Get()));
    return true;
  });
  return records;
}

}  // namespace velcorin
