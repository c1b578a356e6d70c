#include "sim/device_node.h"

#include <windows.h>
#include <objbase.h>
#include <setupapi.h>
#include <winternl.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include "sim/present_paths.h"
#include "simulation/core/naming.h"

extern "C" NTSTATUS NTAPI NtCreateSymbolicLinkObject(PHANDLE link, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                                                     PUNICODE_STRING target);
extern "C" NTSTATUS NTAPI NtOpenSymbolicLinkObject(PHANDLE link, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes);

namespace velcorin::sim {
namespace {

constexpr ACCESS_MASK kSymbolicLinkQuery = 0x1;
constexpr ACCESS_MASK kSymbolicLinkAllAccess = STANDARD_RIGHTS_REQUIRED | kSymbolicLinkQuery;
// Setup class of USB devices.
constexpr wchar_t kUsbSetupClass[] = L"{36FC9E60-C465-11CF-8056-444553540000}";

std::wstring EnumKey(const InstrumentConfig& config) {
  return L"System\\CurrentControlSet\\Enum\\" + WidenAscii(InstanceId(config));
}

std::wstring DeviceIdPath(const InstrumentConfig& config) {
  return L"System\\CurrentControlSet\\Enum\\" + WidenAscii(DeviceIdKey(config));
}

std::wstring ClassKey() {
  return L"System\\CurrentControlSet\\Control\\DeviceClasses\\" + WidenAscii(InterfaceClassGuid());
}

std::wstring InterfaceKey(const InstrumentConfig& config) {
  return ClassKey() + L"\\" + WidenAscii(InterfaceKeyName(config));
}

[[noreturn]] void Fail(const std::string& what, unsigned long code) {
  char number[16];
  std::snprintf(number, sizeof number, code > 0xFFFF ? "0x%08lX" : "%lu", code);
  throw std::runtime_error(what + " (error " + number + ")");
}

std::string NarrowAscii(const wchar_t* text) {
  std::string narrow;
  for (; *text != L'\0'; ++text) narrow += static_cast<char>(*text);
  return narrow;
}

std::string ForMessages(const std::wstring& path) { return "HKLM\\" + NarrowAscii(path.c_str()); }

void SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  const LSTATUS status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
  if (status != ERROR_SUCCESS) Fail("cannot write registry value", status);
}

void SetDword(HKEY key, const wchar_t* name, DWORD value) {
  const LSTATUS status = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  if (status != ERROR_SUCCESS) Fail("cannot write registry value", status);
}

// Written into every key the simulator makes. Only a key that carries it is ever deleted:
// a device the system knows, a real instrument of the family included, has the same
// names but never the mark.
constexpr wchar_t kOwnMark[] = L"VelcorinSimulator";

bool IsOwnKey(const std::wstring& path) {
  DWORD mark = 0;
  DWORD bytes = sizeof mark;
  return RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), kOwnMark, RRF_RT_REG_DWORD, nullptr, &mark, &bytes) ==
             ERROR_SUCCESS &&
         mark == 1;
}

// Whether it made the key; `options` apply only then.
bool CreateKey(const std::wstring& path, DWORD options, UniqueRegKey& key) {
  DWORD disposition = 0;
  const LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS, nullptr,
                                         key.put(), &disposition);
  if (status != ERROR_SUCCESS) Fail("cannot create registry key " + ForMessages(path), status);
  return disposition == REG_CREATED_NEW_KEY;
}

// A key that this instrument alone uses: it must not be there yet.
UniqueRegKey CreateOwnKey(const std::wstring& path) {
  UniqueRegKey key;
  if (!CreateKey(path, REG_OPTION_NON_VOLATILE, key)) {
    throw std::runtime_error(ForMessages(path) +
                             " exists and is not the simulator's own: refused, the key is left alone");
  }
  SetDword(key.get(), kOwnMark, 1);
  return key;
}

// Parents may be the system's or another instrument's already; marked only when made here.
void CreateSharedKey(const std::wstring& path) {
  UniqueRegKey key;
  if (CreateKey(path, REG_OPTION_NON_VOLATILE, key)) SetDword(key.get(), kOwnMark, 1);
}

void DeleteOwnTree(const std::wstring& path) {
  if (IsOwnKey(path)) RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
}

// Parents go with the last instrument under them, if a simulator made them.
void DeleteOwnIfEmpty(const std::wstring& path) {
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
  DWORD subkeys = 0, values = 0;
  if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS) {
    return;
  }
  if (subkeys == 0 && values == 1 && IsOwnKey(path)) RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
}

void RemoveEntries(const InstrumentConfig& config) {
  DeleteOwnTree(InterfaceKey(config));
  DeleteOwnTree(EnumKey(config));
  DeleteOwnIfEmpty(DeviceIdPath(config));
  DeleteOwnIfEmpty(ClassKey());
}

UNICODE_STRING CountedString(std::wstring& text) {
  const auto bytes = static_cast<USHORT>(text.size() * sizeof(wchar_t));
  return UNICODE_STRING{bytes, bytes, text.data()};
}

// \??\<device path without \\?\>, ready for the Nt link calls.
class LinkName {
 public:
  explicit LinkName(const std::string& devicePath)
      : name_(L"\\??\\" + WidenAscii(devicePath.substr(4))), counted_(CountedString(name_)) {
    attributes_.Length = sizeof attributes_;
    attributes_.ObjectName = &counted_;
    attributes_.Attributes = OBJ_CASE_INSENSITIVE;
  }
  LinkName(const LinkName&) = delete;
  LinkName& operator=(const LinkName&) = delete;
  OBJECT_ATTRIBUTES* Attributes() { return &attributes_; }

 private:
  std::wstring name_;
  UNICODE_STRING counted_;
  OBJECT_ATTRIBUTES attributes_{};
};

bool LinkExists(const std::string& devicePath) {
  LinkName link(devicePath);
  HANDLE handle = nullptr;
  if (NtOpenSymbolicLinkObject(&handle, kSymbolicLinkQuery, link.Attributes()) < 0) return false;
  CloseHandle(handle);
  return true;
}

std::vector<std::string> SubkeyNames(const std::wstring& path) {
  std::vector<std::string> names;
  UniqueRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return names;
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof name / sizeof name[0];
    if (RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.push_back(NarrowAscii(name));
  }
  return names;
}

std::string ReadString(const std::wstring& path, const wchar_t* value) {
  wchar_t text[512] = {};
  DWORD bytes = sizeof text - sizeof text[0];
  if (RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), value, RRF_RT_REG_SZ, nullptr, text, &bytes) != ERROR_SUCCESS) {
    return {};
  }
  return NarrowAscii(text);
}

}  // namespace

// The caller holds the path's link: marked entries under it are a dead simulator's.
InterfaceRegistration::InterfaceRegistration(const InstrumentConfig& config) : config_(config) {
  RemoveEntries(config_);
  try {
    CreateSharedKey(DeviceIdPath(config_));
    SetString(CreateOwnKey(EnumKey(config_)).get(), L"ClassGUID", kUsbSetupClass);
    CreateSharedKey(ClassKey());
    SetString(CreateOwnKey(InterfaceKey(config_)).get(), L"DeviceInstance", WidenAscii(InstanceId(config_)));
    // Without Linked=1 under a volatile Control key, DIGCF_PRESENT leaves the entry out.
    UniqueRegKey control;
    CreateKey(InterfaceKey(config_) + L"\\#\\Control", REG_OPTION_VOLATILE, control);
    SetDword(control.get(), L"Linked", 1);
  } catch (...) {
    RemoveEntries(config_);
    throw;
  }
}

InterfaceRegistration::~InterfaceRegistration() { RemoveEntries(config_); }

UniqueKernelHandle CreateDeviceLink(const std::string& devicePath, const std::wstring& pipeName) {
  LinkName link(devicePath);
  std::wstring targetName = L"\\Device\\NamedPipe\\" + pipeName.substr(pipeName.rfind(L'\\') + 1);
  UNICODE_STRING target = CountedString(targetName);
  HANDLE handle = nullptr;
  const NTSTATUS status = NtCreateSymbolicLinkObject(&handle, kSymbolicLinkAllAccess, link.Attributes(), &target);
  if (status < 0) Fail("cannot link " + devicePath + " (in use by another simulator?)", status);
  return UniqueKernelHandle(handle);
}

void RemoveStaleEntries(const std::string& serial) {
  for (const std::string& name : SubkeyNames(ClassKey())) {
    if (!IsInterfaceKeyOf(name, serial) || LinkExists("\\\\?\\" + name.substr(4))) continue;
    const std::wstring interfaceKey = ClassKey() + L"\\" + WidenAscii(name);
    if (!IsOwnKey(interfaceKey)) continue;
    const std::string instance = ReadString(interfaceKey, L"DeviceInstance");
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, interfaceKey.c_str());
    if (instance.empty()) continue;
    const std::wstring instanceKey = L"System\\CurrentControlSet\\Enum\\" + WidenAscii(instance);
    DeleteOwnTree(instanceKey);
    DeleteOwnIfEmpty(instanceKey.substr(0, instanceKey.rfind(L'\\')));
  }
  DeleteOwnIfEmpty(ClassKey());
}

std::set<std::string> PresentDevicePaths() {
  std::set<std::string> paths;
  for (const std::string& path : PresentInterfacePaths()) paths.insert(ToLowerAscii(path));
  return paths;
}

}  // namespace velcorin::sim
