#include "sim/present_paths.h"

#include <windows.h>
// windows.h first: the system headers rely on its types.
#include <objbase.h>
#include <setupapi.h>

#include "common/owners.h"
#include "simulation/core/naming.h"

namespace velcorin::sim {

std::vector<std::string> PresentInterfacePaths() {
  std::vector<std::string> paths;
  const std::string guidText = InterfaceClassGuid();
  GUID family{};
  if (FAILED(IIDFromString(std::wstring(guidText.begin(), guidText.end()).c_str(), &family))) return paths;
  const UniqueDeviceInfoList set(
      SetupDiGetClassDevsW(&family, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!set) return paths;
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof(data);
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set.get(), nullptr, &family, i, &data); ++i) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set.get(), &data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;  // gone meanwhile
    std::vector<BYTE> record(size + sizeof(wchar_t));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(record.data());
    detail->cbSize = sizeof(*detail);
    if (!SetupDiGetDeviceInterfaceDetailW(set.get(), &data, detail, size, nullptr, nullptr)) continue;
    const std::wstring path(detail->DevicePath);
    paths.emplace_back(path.begin(), path.end());
  }
  return paths;
}

}  // namespace velcorin::sim
