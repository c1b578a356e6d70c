#include "discovery/enum_devices.h"

#include <optional>
#include <string>

#include "common/collection.h"
#include "common/error_info.h"
#include "device/device.h"
#include "discovery/filters.h"
#include "discovery/present_interfaces.h"

namespace velcorin {

namespace {

// Remove(1) until empty; a collection whose Remove does not shrink it would
// otherwise hold the caller forever.
void Empty(const CollectionRef& list) {
  for (long count = list.Count(); count != 0;) {
    if (count < 0) Raise(kErrInvalidCall);
    list.RemoveFirst();
    const long left = list.Count();
    if (left < 0 || left >= count) Raise(kErrInvalidCall);
    count = left;
  }
}

// Closes the private Device however the examination of its instrument ends.
class OpenedFor {
 public:
  explicit OpenedFor(Device& device) : device_(device) {}
  OpenedFor(const OpenedFor&) = delete;
  OpenedFor& operator=(const OpenedFor&) = delete;
  ~OpenedFor() { device_.Close(); }

 private:
  Device& device_;
};

// An instrument whose identity is malformed is as unusable as a silent one.
bool OpenAndIdentify(Device& device, const std::u16string& path) {
  const Bstr devPath(std::wstring_view(reinterpret_cast<const wchar_t*>(path.data()), path.size()));
  try {
    return device.Open(devPath.get());
  } catch (const RuntimeError&) {
    return false;
  }
}

void Examine(Device& device, const std::u16string& path, const CollectionRef& outList, _Collection* filter) {
  const OpenedFor examination(device);
  if (!OpenAndIdentify(device, path)) return;
  ComPtr<DevInfo> info = device.CurrentInfo();
  long productId = 0;
  ThrowIfFailed(info->get_ProductID(&productId));
  if (PassesFilters(filter, productId)) outList.Add(static_cast<IDispatch*>(info.Get()));
}

}  // namespace

bool EnumerateDevices(_Collection* outList, _Collection* filter, ComPtr<Device>& examiner) {
  const CollectionRef list(outList);
  Empty(list);
  auto interfaces = PresentInterfaces::List();
  if (!interfaces) return false;
  ComPtr<Device> device;  // our own reference: a re-entrant call may replace the kept one
  std::optional<std::u16string> path;
  while (interfaces->Next(path)) {
    if (!device) {
      // Busy only when a caller's collection enumerates again from inside Add.
      if (!examiner || examiner->IsOpen()) examiner = MakeObject<Device>();
      device = examiner;
    }
    if (path) Examine(*device.Get(), *path, list, filter);
  }
  return true;
}

}  // namespace velcorin
