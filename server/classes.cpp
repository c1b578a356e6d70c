#include "server/classes.h"

#include "chooser/chooser.h"
#include "device/dev_info.h"
#include "device/device.h"
#include "device/packet.h"
#include "discovery/enum_filter.h"

namespace velcorin {

namespace {

template <class T>
ComPtr<IDispatch> Create() {
  ComPtr<IDispatch> object;
  MakeObject<T>().As(&object);
  return object;
}

constexpr ClassEntry kClasses[] = {
    {&CLSID_Device, L"Velcorin.Device", &Create<Device>},
    {&CLSID_Packet, L"Velcorin.Packet", &Create<Packet>},
    {&CLSID_Chooser, L"Velcorin.Chooser", &Create<Chooser>},
    {&CLSID_DevInfo, L"Velcorin.DevInfo", &Create<DevInfo>},
    {&CLSID_EnumFilter, L"Velcorin.EnumFilter", &Create<EnumFilter>},
};

}  // namespace

std::span<const ClassEntry> CreatableClasses() { return kClasses; }

const ClassEntry* FindClass(REFCLSID clsid) {
  for (const ClassEntry& entry : kClasses)
    if (IsEqualCLSID(*entry.clsid, clsid)) return &entry;
  return nullptr;
}

}  // namespace velcorin
