#include "discovery/enum_devices.h"

#include <optional>
#include <string>

#include "common/collection_ref.h"
#include "common/error_info.h"
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

void Examine(const std::u16string& path, const IdentifyInstrument& identify, const CollectionRef& outList,
             _Collection* filter) {
  const ComPtr<_DevInfo> info = identify(path);
  if (!info) return;
  long productId = 0;
  ThrowIfFailed(info->get_ProductID(&productId));
  if (PassesFilters(filter, productId)) outList.Add(info.Get());
}

}  // namespace

bool EnumerateDevices(_Collection* outList, _Collection* filter, const IdentifyInstrument& identify) {
  const CollectionRef list(outList);
  Empty(list);
  auto interfaces = PresentInterfaces::List();
  if (!interfaces) return false;
  std::optional<std::u16string> path;
  while (interfaces->Next(path))
    if (path) Examine(*path, identify, list, filter);
  return true;
}

}  // namespace velcorin
