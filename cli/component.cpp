#include "cli/component.h"

#include <cstring>
#include <span>

#include "cli/console.h"
#include "common/ansi.h"
#include "common/core/device_path.h"
#include "common/module_file.h"
#include "common/owners.h"
#include "common/scope_exit.h"
#include "discovery/present_interfaces.h"
#include "simulation/simulation.h"

namespace velcorin::cli {
namespace {

using Microsoft::WRL::ComPtr;

std::string ErrorDescription() {
  ComPtr<IErrorInfo> info;
  Bstr text;
  if (GetErrorInfo(0, &info) != S_OK || !info || FAILED(info->GetDescription(text.put()))) return "";
  return Utf8(std::u16string(reinterpret_cast<const char16_t*>(text.view().data()), text.length()));
}

void Check(HRESULT hr) {
  if (FAILED(hr)) throw ComError(hr, ErrorDescription());
}

template <class T>
ComPtr<T> Create(const wchar_t* progId) {
  CLSID clsid{};
  ComPtr<T> object;
  HRESULT hr = CLSIDFromProgID(progId, &clsid);
  if (SUCCEEDED(hr)) hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object));
  if (FAILED(hr)) throw ComError(hr, "cannot create " + Utf8(reinterpret_cast<const char16_t*>(progId)));
  return object;
}

std::u16string Text(const Bstr& text) { return {reinterpret_cast<const char16_t*>(text.view().data()), text.length()}; }

template <class Getter>
std::u16string ReadText(Getter get) {
  Bstr text;
  Check(get(text.put()));
  return Text(text);
}

// Outside a script there is no Collection class to create: the component's
// self-creating collection properties hand out empty ones.
ComPtr<_Collection> NewCollection() {
  ComPtr<_Collection> list;
  Check(Create<_EnumFilter>(L"Velcorin.EnumFilter")->get_Tokens(&list));
  return list;
}

void Append(_Collection* list, const Variant& item) {
  Variant missing = Variant::missing();
  Check(list->Add(item.as_input(), missing.get(), missing.get(), missing.get()));
}

ComPtr<_EnumFilter> MakeFilter(bool exclude, bool byId, const std::vector<std::int32_t>& tokens) {
  auto filter = Create<_EnumFilter>(L"Velcorin.EnumFilter");
  Check(filter->put_FilterAction(exclude ? ExcludeDevs : IncludeDevs));
  Check(filter->put_FilterTarget(byId ? FilterByDeviceId : FilterByDeviceClass));
  ComPtr<_Collection> list;
  Check(filter->get_Tokens(&list));
  for (std::int32_t token : tokens) Append(list.Get(), Variant(long{token}));
  return filter;
}

// A list made only of exclusions would list nothing (a device no filter
// matches is left out): after them, every device class is taken in.
std::vector<std::int32_t> EveryClass() {
  std::vector<std::int32_t> classes;
  for (std::int32_t c = -0x8000; c <= 0x7F00; c += 0x100) classes.push_back(c);
  return classes;
}

ComPtr<_Collection> MakeFilters(const std::vector<FilterOption>& options) {
  auto filters = NewCollection();
  bool includes = false;
  auto add = [&](const ComPtr<_EnumFilter>& filter) { Append(filters.Get(), Variant(filter.Get())); };
  for (const auto& option : options) {
    add(MakeFilter(option.exclude, option.byId, {option.token}));
    includes |= !option.exclude;
  }
  if (!options.empty() && !includes) add(MakeFilter(false, false, EveryClass()));
  return filters;
}

std::vector<std::u16string> ChannelNames(_DevInfo* info) {
  SafeArray names;
  SAFEARRAY* raw = nullptr;
  Check(info->get_ChannelNames(&raw));
  names = SafeArray::adopt(raw);
  std::vector<std::u16string> out;
  LONG low = 0, high = -1;
  if (!raw || FAILED(SafeArrayGetLBound(raw, 1, &low)) || FAILED(SafeArrayGetUBound(raw, 1, &high))) return out;
  for (LONG i = low; i <= high; ++i) {
    Bstr name;
    Check(SafeArrayGetElement(raw, &i, name.put()));
    out.push_back(Text(name));
  }
  return out;
}

int IndexOf(const std::vector<std::u16string>& paths, std::u16string_view path) {
  for (std::size_t n = 0; n < paths.size(); ++n)
    if (paths[n] == path) return static_cast<int>(n + 1);
  return 0;
}

Instrument Describe(_DevInfo* info, int index) {
  Instrument i;
  i.index = index;
  i.model = ReadText([&](BSTR* t) { return info->get_ModelNumber(t); });
  i.serial = ReadText([&](BSTR* t) { return info->get_SerialNumber(t); });
  i.firmware = ReadText([&](BSTR* t) { return info->get_FirmwareVersion(t); });
  i.description = ReadText([&](BSTR* t) { return info->get_Description(t); });
  SetPath(i, ReadText([&](BSTR* t) { return info->get_DevicePath(t); }));
  long number = 0;
  Check(info->get_ProductID(&number));
  i.type = number;
  Check(info->get_VendorID(&number));
  i.vendor = number;
  Check(info->get_ChannelCount(&number));
  i.channels = number;
  i.channelNames = ChannelNames(info);
  return i;
}

ComPtr<_Packet> MakePacket(const ResolvedPacket& command) {
  auto packet = Create<_Packet>(L"Velcorin.Packet");
  Check(packet->put_DevType(command.devType));
  Check(packet->put_Channel(command.channel));
  Check(packet->put_OpType(static_cast<OpTypeEnum>(command.opType)));
  Check(packet->put_OpCode(static_cast<OpCodeBaseEnum>(command.opCode)));
  Bstr data(std::wstring_view(reinterpret_cast<const wchar_t*>(command.data.data()), command.data.size()));
  Check(packet->put_Data(data.get()));
  return packet;
}

Reply ReplyOf(_Packet* packet) {
  Reply reply;
  long number = 0;
  Check(packet->get_DevType(&number));
  reply.devType = number;
  Check(packet->get_Channel(&number));
  reply.channel = number;
  OpTypeEnum opType{};
  Check(packet->get_OpType(&opType));
  reply.opType = opType;
  OpCodeBaseEnum opCode{};
  Check(packet->get_OpCode(&opCode));
  reply.opCode = opCode;
  EndCodeBaseEnum endCode{};
  Check(packet->get_EndCode(&endCode));
  reply.endCode = endCode;
  reply.data = ReadText([&](BSTR* t) { return packet->get_Data(t); });
  return reply;
}

// Why an opening failed, asked of the system directly: a path that no longer
// opens is gone; one held by another program refuses a second opening; one
// that opens answered nothing. Right after a close an instrument may refuse
// for a moment, so a refusal is asked again before it counts as "in use".
// The simulated instruments this program lists too: the component holds the
// instrument it opened in its own copy, so a refusal here is another's.
OpenOutcome DiagnoseSimulated(std::u16string_view plainPath) {
  sim::InstrumentSet& instruments = simulation::Instruments();
  std::uint64_t session = 0;
  const std::uint32_t error = instruments.Open(Utf8(std::u16string(plainPath)), sim::SimClock::now(), session);
  if (error == 0) instruments.Close(session);
  return error == 0 ? OpenOutcome::Silent : error == sim::kBusyError ? OpenOutcome::InUse : OpenOutcome::Absent;
}

OpenOutcome Diagnose(std::u16string_view plainPath) {
  if (simulation::IsOn()) return DiagnoseSimulated(plainPath);
  constexpr int kAsks = 5;
  constexpr DWORD kPauseMs = 20;
  const std::wstring name(plainPath.begin(), plainPath.end());
  for (int ask = 1;; ++ask) {
    const UniqueKernelHandle file(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return OpenOutcome::Silent;
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return OpenOutcome::Absent;
    if (ask == kAsks) return OpenOutcome::InUse;
    Sleep(kPauseMs);
  }
}

struct EnumNames {
  const wchar_t* type;
  NamedValues Enumerations::*into;
};
constexpr EnumNames kEnumerations[] = {{L"OpTypeEnum", &Enumerations::opTypes},
                                       {L"OpCodeBaseEnum", &Enumerations::opCodes},
                                       {L"EndCodeBaseEnum", &Enumerations::endCodes}};

NamedValues Constants(ITypeInfo* type) {
  NamedValues out;
  TYPEATTR* attributes = nullptr;
  Check(type->GetTypeAttr(&attributes));
  const ScopeExit releaseAttributes([&] { type->ReleaseTypeAttr(attributes); });
  for (UINT v = 0; v < attributes->cVars; ++v) {
    VARDESC* var = nullptr;
    Check(type->GetVarDesc(v, &var));
    const ScopeExit releaseVar([&] { type->ReleaseVarDesc(var); });
    Bstr name;
    Variant value;
    if (var->varkind != VAR_CONST ||
        FAILED(type->GetDocumentation(var->memid, name.put(), nullptr, nullptr, nullptr)) ||
        FAILED(VariantChangeType(value.get(), var->lpvarValue, 0, VT_I4)))
      continue;
    out.push_back({Text(name), V_I4(value.get())});
  }
  return out;
}

std::string FileVersion(const std::wstring& file) {
  DWORD ignored = 0;
  std::vector<std::uint8_t> data(GetFileVersionInfoSizeW(file.c_str(), &ignored));
  if (data.empty() || !GetFileVersionInfoW(file.c_str(), 0, static_cast<DWORD>(data.size()), data.data())) return "";
  struct Translation {
    WORD language, codePage;
  };
  Translation* translation = nullptr;
  UINT size = 0;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &size) ||
      size < sizeof(Translation))
    return "";
  wchar_t query[64];
  wsprintfW(query, L"\\StringFileInfo\\%04x%04x\\FileVersion", translation->language, translation->codePage);
  wchar_t* text = nullptr;
  if (!VerQueryValueW(data.data(), query, reinterpret_cast<void**>(&text), &size) || size == 0) return "";
  return Utf8(std::u16string(reinterpret_cast<const char16_t*>(text)));
}

int Bits(HMODULE module) {
  const auto* base = reinterpret_cast<const std::uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  return nt->FileHeader.Machine == IMAGE_FILE_MACHINE_AMD64  ? 64
         : nt->FileHeader.Machine == IMAGE_FILE_MACHINE_I386 ? 32
                                                             : 0;
}

}  // namespace

std::vector<std::u16string> PresentPaths() {
  std::vector<std::u16string> paths;
  std::optional<PresentInterfaces> list;
  try {
    list = PresentInterfaces::List();
  } catch (const RuntimeError&) {
    return paths;  // a simulation that cannot be had: the component says why
  }
  if (!list) return paths;
  for (std::optional<std::u16string> path; list->Next(path);)
    if (path) paths.push_back(std::move(*path));
  return paths;
}

std::u16string PlainPath(std::u16string_view devicePath) { return NarrowDevicePath(devicePath, AnsiCodeOf); }

std::u16string DevicePathOf(std::u16string_view plainPath) {
  std::vector<std::uint8_t> bytes;
  for (char16_t c : plainPath) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return WidenDevicePath(bytes, AnsiDecodeByte);
}

void SetPath(Instrument& instrument, std::u16string_view devicePath) {
  instrument.path = devicePath;
  instrument.plainPath = PlainPath(devicePath);
  // What follows the path's end (its terminator, padding) opens nothing: the name decides.
  instrument.plainPathSuffices = PlainPath(DevicePathOf(instrument.plainPath)) == instrument.plainPath;
}

Component::Component() : device_(Create<_Device>(L"Velcorin.Device")) {}

Component::~Component() { device_->CloseDev(); }

std::vector<Instrument> Component::Enumerate(const std::vector<FilterOption>& options) {
  auto found = NewCollection();
  auto filters = MakeFilters(options);
  VARIANT_BOOL listed = VARIANT_FALSE;
  {
    const Progress progress("listing instruments");
    Check(device_->EnumDevices(found.Get(), filters.Get(), &listed));
  }
  long count = 0;
  Check(found->Count(&count));
  std::vector<Instrument> list;
  for (long n = 1; n <= count; ++n) {
    Variant index(n), item;
    Check(found->Item(index.get(), item.put()));
    ComPtr<_DevInfo> info;
    if (item.vt() == VT_DISPATCH && V_DISPATCH(item.get())) V_DISPATCH(item.get())->QueryInterface(IID_PPV_ARGS(&info));
    if (info) list.push_back(Describe(info.Get(), 0));
  }
  return list;
}

std::vector<Instrument> Component::List(const std::vector<FilterOption>& filters) {
  const auto present = PresentPaths();
  const auto identified = Enumerate({});
  std::vector<Instrument> rows;
  for (std::size_t n = 0; n < present.size(); ++n) {
    const auto same = std::find_if(identified.begin(), identified.end(), [&](auto& i) { return i.path == present[n]; });
    Instrument row;
    if (same != identified.end()) {
      row = *same;
    } else {
      row.usable = false;
      SetPath(row, present[n]);
    }
    row.index = static_cast<int>(n + 1);
    rows.push_back(std::move(row));
  }
  // Plugged in between the two looks: after the others, so that no index moves.
  for (const auto& i : identified)
    if (IndexOf(present, i.path) == 0) {
      rows.push_back(i);
      rows.back().index = static_cast<int>(rows.size());
    }
  if (filters.empty()) return rows;
  const auto chosen = Enumerate(filters);
  std::erase_if(rows, [&](const Instrument& row) {
    return row.usable && std::none_of(chosen.begin(), chosen.end(), [&](auto& i) { return i.path == row.path; });
  });
  return rows;
}

OpenOutcome Component::Open(const std::u16string& path, bool justListed) {
  constexpr DWORD kSettleMs = 500, kPauseMs = 50;
  const ULONGLONG until = GetTickCount64() + (justListed ? kSettleMs : 0);
  Bstr name(std::wstring_view(reinterpret_cast<const wchar_t*>(path.data()), path.size()));
  for (;;) {
    VARIANT_BOOL opened = VARIANT_FALSE;
    {
      const Progress progress("opening the instrument");
      Check(device_->OpenDev(name.get(), &opened));
    }
    if (opened) return OpenOutcome::Opened;
    // An instrument that does not answer takes seconds to fail: past the settling time.
    if (GetTickCount64() >= until) return Diagnose(PlainPath(path));
    Sleep(kPauseMs);
  }
}

Instrument Component::OpenInstrument() {
  ComPtr<_DevInfo> info;
  Check(device_->get_DeviceInfo(&info));
  Instrument i = Describe(info.Get(), 0);
  i.index = IndexOf(PresentPaths(), i.path);
  return i;
}

std::optional<Reply> Component::Query(const ResolvedPacket& command, double& milliseconds) {
  auto packet = MakePacket(command);
  LARGE_INTEGER frequency{}, start{}, end{};
  QueryPerformanceFrequency(&frequency);
  VARIANT_BOOL answered = VARIANT_FALSE;
  QueryPerformanceCounter(&start);
  const HRESULT hr = device_->QueryDev(packet.Get(), &answered);
  QueryPerformanceCounter(&end);
  Check(hr);
  milliseconds = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  if (!answered) return std::nullopt;
  return ReplyOf(packet.Get());
}

bool Component::Write(const ResolvedPacket& command) {
  auto packet = MakePacket(command);
  VARIANT_BOOL sent = VARIANT_FALSE;
  Check(device_->WriteDev(packet.Get(), &sent));
  return sent != VARIANT_FALSE;
}

std::optional<Reply> Component::Read() {
  auto packet = Create<_Packet>(L"Velcorin.Packet");
  VARIANT_BOOL answered = VARIANT_FALSE;
  Check(device_->ReadDev(packet.Get(), &answered));
  if (!answered) return std::nullopt;
  return ReplyOf(packet.Get());
}

bool Component::EnterCalMode(const std::u16string& password) {
  Bstr text(std::wstring_view(reinterpret_cast<const wchar_t*>(password.data()), password.size()));
  VARIANT_BOOL accepted = VARIANT_FALSE;
  Check(device_->EnterCalMode(text.get(), &accepted));
  return accepted != VARIANT_FALSE;
}

bool Component::ExitCalMode() {
  VARIANT_BOOL accepted = VARIANT_FALSE;
  Check(device_->ExitCalMode(&accepted));
  return accepted != VARIANT_FALSE;
}

std::optional<std::u16string> Component::Choose() {
  auto chooser = Create<_Chooser>(L"Velcorin.Chooser");
  VARIANT_BOOL chosen = VARIANT_FALSE;
  Check(chooser->ShowDialog(&chosen));
  if (!chosen) return std::nullopt;
  return ReadText([&](BSTR* t) { return chooser->get_DevicePath(t); });
}

Enumerations Component::Names() {
  ComPtr<ITypeInfo> device;
  ComPtr<ITypeLib> library;
  UINT at = 0;
  Check(device_->GetTypeInfo(0, 0, &device));
  Check(device->GetContainingTypeLib(&library, &at));
  Enumerations names;
  for (UINT n = 0; n < library->GetTypeInfoCount(); ++n) {
    TYPEKIND kind{};
    Bstr name;
    if (FAILED(library->GetTypeInfoType(n, &kind)) || kind != TKIND_ENUM ||
        FAILED(library->GetDocumentation(static_cast<INT>(n), name.put(), nullptr, nullptr, nullptr)))
      continue;
    for (const auto& e : kEnumerations)
      if (name.view() == e.type) {
        ComPtr<ITypeInfo> type;
        Check(library->GetTypeInfo(n, &type));
        names.*e.into = Constants(type.Get());
      }
  }
  return names;
}

LoadedDll Component::Dll() {
  // The object's vtable lies in the module that made it.
  HMODULE module = nullptr;
  const auto* vtable = *reinterpret_cast<void* const*>(device_.Get());
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCWSTR>(vtable), &module))
    return {};
  LoadedDll dll;
  dll.path = ModuleFileName(module);
  dll.version = FileVersion(dll.path);
  dll.bits = Bits(module);
  return dll;
}

}  // namespace velcorin::cli
