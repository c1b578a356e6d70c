#include "cli/component.h"

#include "common/raii.h"

namespace velcorin::cli {
namespace {

using Microsoft::WRL::ComPtr;

std::string ErrorDescription() {
  ComPtr<IErrorInfo> info;
  Bstr text;
  if (GetErrorInfo(0, &info) != S_OK || !info || FAILED(info->GetDescription(text.out()))) return "";
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

std::u16string Text(const Bstr& text) {
  return {reinterpret_cast<const char16_t*>(text.view().data()), text.length()};
}

template <class Getter>
std::u16string ReadText(Getter get) {
  Bstr text;
  Check(get(text.out()));
  return Text(text);
}

VARIANT Missing() {
  VARIANT missing{};
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  return missing;
}

// Outside a script there is no Collection class to create: the component's
// self-creating collection properties hand out empty ones.
ComPtr<_Collection> NewCollection() {
  ComPtr<_Collection> list;
  Check(Create<_EnumFilter>(L"Velcorin.EnumFilter")->get_Tokens(&list));
  return list;
}

void Append(_Collection* list, VARIANT& item) {
  VARIANT missing = Missing();
  Check(list->Add(&item, &missing, &missing, &missing));
}

void AppendNumber(_Collection* list, std::int32_t number) {
  VARIANT item{};
  V_VT(&item) = VT_I4;
  V_I4(&item) = number;
  Append(list, item);
}

ComPtr<_EnumFilter> MakeFilter(bool exclude, bool byId, const std::vector<std::int32_t>& tokens) {
  auto filter = Create<_EnumFilter>(L"Velcorin.EnumFilter");
  Check(filter->put_FilterAction(exclude ? ExcludeDevs : IncludeDevs));
  Check(filter->put_FilterTarget(byId ? FilterByDeviceId : FilterByDeviceClass));
  ComPtr<_Collection> list;
  Check(filter->get_Tokens(&list));
  for (std::int32_t token : tokens) AppendNumber(list.Get(), token);
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
  auto add = [&](const ComPtr<_EnumFilter>& filter) {
    VARIANT item{};
    V_VT(&item) = VT_DISPATCH;
    V_DISPATCH(&item) = filter.Get();
    Append(filters.Get(), item);
  };
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
  names = SafeArray::Attach(raw);
  std::vector<std::u16string> out;
  LONG low = 0, high = -1;
  if (!raw || FAILED(SafeArrayGetLBound(raw, 1, &low)) || FAILED(SafeArrayGetUBound(raw, 1, &high))) return out;
  for (LONG i = low; i <= high; ++i) {
    Bstr name;
    Check(SafeArrayGetElement(raw, &i, name.out()));
    out.push_back(Text(name));
  }
  return out;
}

Instrument Describe(_DevInfo* info, int index) {
  Instrument i;
  i.index = index;
  i.model = ReadText([&](BSTR* t) { return info->get_ModelNumber(t); });
  i.serial = ReadText([&](BSTR* t) { return info->get_SerialNumber(t); });
  i.firmware = ReadText([&](BSTR* t) { return info->get_FirmwareVersion(t); });
  i.description = ReadText([&](BSTR* t) { return info->get_Description(t); });
  i.path = ReadText([&](BSTR* t) { return info->get_DevicePath(t); });
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

}  // namespace

Component::Component() : device_(Create<_Device>(L"Velcorin.Device")) {}

Component::~Component() { device_->CloseDev(); }

std::vector<Instrument> Component::Enumerate(const std::vector<FilterOption>& options) {
  auto found = NewCollection();
  auto filters = MakeFilters(options);
  VARIANT_BOOL listed = VARIANT_FALSE;
  Check(device_->EnumDevices(found.Get(), filters.Get(), &listed));
  long count = 0;
  Check(found->Count(&count));
  std::vector<Instrument> list;
  for (long n = 1; n <= count; ++n) {
    VARIANT index{};
    V_VT(&index) = VT_I4;
    V_I4(&index) = n;
    Variant item;
    Check(found->Item(&index, item.out()));
    ComPtr<_DevInfo> info;
    if (item.vt() == VT_DISPATCH && V_DISPATCH(item.get())) V_DISPATCH(item.get())->QueryInterface(IID_PPV_ARGS(&info));
    if (info) list.push_back(Describe(info.Get(), static_cast<int>(n)));
  }
  return list;
}

std::vector<Instrument> Component::List(const std::vector<FilterOption>& filters) {
  const auto all = Enumerate({});
  if (filters.empty()) return all;
  auto chosen = Enumerate(filters);
  for (auto& i : chosen) {
    const Instrument* same = FindInstrument(all, i.path);
    i.index = same ? same->index : 0;
  }
  return chosen;
}

// The enumeration that found the instrument has only just closed it, and an
// instrument may take a moment before it accepts the next opening.
bool Component::Open(const Instrument& instrument) {
  constexpr int kAttempts = 10;
  constexpr DWORD kPauseMs = 50;
  Bstr path(std::wstring_view(reinterpret_cast<const wchar_t*>(instrument.path.data()), instrument.path.size()));
  for (int attempt = 1;; ++attempt) {
    VARIANT_BOOL opened = VARIANT_FALSE;
    Check(device_->OpenDev(path.get(), &opened));
    if (opened || attempt == kAttempts) return opened != VARIANT_FALSE;
    Sleep(kPauseMs);
  }
}

std::optional<Reply> Component::Query(const QueryOptions& command, double& milliseconds) {
  auto packet = Create<_Packet>(L"Velcorin.Packet");
  Check(packet->put_DevType(command.devType));
  Check(packet->put_Channel(command.channel));
  Check(packet->put_OpType(static_cast<OpTypeEnum>(command.opType)));
  Check(packet->put_OpCode(static_cast<OpCodeBaseEnum>(command.opCode)));
  Bstr data(std::wstring_view(reinterpret_cast<const wchar_t*>(command.data.data()), command.data.size()));
  Check(packet->put_Data(data.get()));
  LARGE_INTEGER frequency{}, start{}, end{};
  QueryPerformanceFrequency(&frequency);
  VARIANT_BOOL answered = VARIANT_FALSE;
  QueryPerformanceCounter(&start);
  const HRESULT hr = device_->QueryDev(packet.Get(), &answered);
  QueryPerformanceCounter(&end);
  Check(hr);
  milliseconds = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  if (!answered) return std::nullopt;
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

}  // namespace velcorin::cli
