#include "server/classes.h"

#include "chooser/chooser.h"
#include "device/dev_info.h"
#include "device/device.h"
#include "device/packet.h"
#include "discovery/enum_filter.h"
#include "server/class_list.h"

namespace velcorin {

namespace {

template <class T>
ComPtr<IDispatch> Create() {
  ComPtr<IDispatch> object;
  MakeObject<T>().As(&object);
  return object;
}

#define VELCORIN_CLASS_ENTRY(name, progId) {&CLSID_##name, progId, &Create<name>},
constexpr ClassEntry kClasses[] = {VELCORIN_CREATABLE_CLASSES(VELCORIN_CLASS_ENTRY)};
#undef VELCORIN_CLASS_ENTRY

}  // namespace

std::span<const ClassEntry> CreatableClasses() { return kClasses; }

const ClassEntry* FindClass(REFCLSID clsid) {
  for (const ClassEntry& entry : kClasses)
    if (IsEqualCLSID(*entry.clsid, clsid)) return &entry;
  return nullptr;
}

}  // namespace velcorin
