#include "discovery/enum_devices.h"

#include <optional>
#include <string>
#include <vector>

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

// Every interface with a readable path, in the system's order; the list is
// released before any instrument is examined.
std::optional<std::vector<std::u16string>> PresentPaths() {
  auto interfaces = PresentInterfaces::List();
  if (!interfaces) return std::nullopt;
  std::vector<std::u16string> paths;
  std::optional<std::u16string> path;
  while (interfaces->Next(path))
    if (path) paths.push_back(std::move(*path));
  return paths;
}

void List(const ListingRecord& record, const CollectionRef& outList, _Collection* filter) {
  if (!record) return;
  const ComPtr<_DevInfo> info = record();
  long productId = 0;
  ThrowIfFailed(info->get_ProductID(&productId));
  if (PassesFilters(filter, productId)) outList.Add(info.Get());
}

}  // namespace

std::unique_ptr<Enumeration> Enumeration::StartInBackground(const ExamineInstrument& examine,
                                                            std::function<void()> examined) {
  return Start(examine, std::move(examined), AwaitingThread::OnlyWaits);
}

std::unique_ptr<Enumeration> Enumeration::StartWithCaller(const ExamineInstrument& examine) {
  return Start(examine, nullptr, AwaitingThread::ExaminesToo);
}

std::unique_ptr<Enumeration> Enumeration::Start(const ExamineInstrument& examine, std::function<void()> examined,
                                                AwaitingThread awaiting) {
  auto enumeration = std::make_unique<Enumeration>();
  if (auto paths = PresentPaths())
    enumeration->examiners_.emplace(std::move(*paths), examine, std::move(examined), awaiting);
  else if (examined)
    examined();
  return enumeration;
}

bool Enumeration::Finish(_Collection* outList, _Collection* filter) {
  const CollectionRef list(outList);
  if (!examiners_) return false;
  for (const ListingRecord& record : examiners_->Await()) List(record, list, filter);
  return true;
}

bool EnumerateDevices(_Collection* outList, _Collection* filter, const ExamineInstrument& examine) {
  Empty(CollectionRef(outList));
  return Enumeration::StartWithCaller(examine)->Finish(outList, filter);
}

}  // namespace velcorin
