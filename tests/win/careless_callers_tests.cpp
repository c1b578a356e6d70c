// Careless callers: every member of every class, late-bound through Invoke with
// arguments of every type and with malformed calls, and early-bound through the
// vtable with null pointers. The members come from the type library itself, so
// none is forgotten. No call may crash; each ends in a defined HRESULT, with
// exception information whenever the component raised the error itself; and
// every object still works afterwards. Each late-bound call is made again on a
// twin object through the type library's Invoke alone, which must end the same
// way and leave the twin in the same state as the component's own Invoke.
// The sweep itself is the shared harness in invoke_sweep.h.
#include <gtest/gtest.h>

#include <cmath>
#include <cwctype>
#include <functional>
#include <iostream>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "com_test_util.h"
#include "invoke_sweep.h"
#include "sim/sim_client.h"

namespace {

using namespace sweep;
using velcorin::sim::SimClient;

const std::wstring kNotSet = L"Object variable or With block variable not set";

// ---------------------------------------------------------------------------
// Simulated instrument and Device helpers.

std::string Config(const std::string& serial) {
  return "[i]\nserial = " + serial +
         "\nmodel = LDI-3105\nfirmware = 2.01\ntype = 0x3105\nchannels = 2\n"
         "description = Careless\nchannel1 = A\nchannel2 = B\npassword = secret\n";
}

// One simulated instrument held open by a Device.
struct OpenRig {
  SimClient sim;
  std::string serial;
  Bstr path;
  ComPtr<_Device> device = CreateByProgId<_Device>(L"Velcorin.Device");

  explicit OpenRig(const std::string& s) : sim(Config(s)), serial(s), path(Widened(sim.DevicePath(s))) {}
  bool Open() {
    VARIANT_BOOL opened = VARIANT_FALSE;
    return SUCCEEDED(device->OpenDev(path.get(), &opened)) && opened == VARIANT_TRUE;
  }
  void EnsureOpen() {
    if (IsOpen(device.Get())) return;
    ASSERT_TRUE(sim.WaitUntilFree(serial));
    ASSERT_TRUE(Open());
  }
  bool QueryWorks() {
    auto packet = CreateByProgId<_Packet>(L"Velcorin.Packet");
    packet->put_OpCode(CmdSerial);
    VARIANT_BOOL ok = VARIANT_FALSE;
    return device->QueryDev(packet.Get(), &ok) == S_OK && ok == VARIANT_TRUE;
  }
};

ComPtr<IDispatch> AsDispatch(IUnknown* object) {
  ComPtr<IDispatch> dispatch;
  object->QueryInterface(IID_PPV_ARGS(&dispatch));
  return dispatch;
}

long CountOf(IDispatch* collection) {
  ComPtr<_Collection> list;
  collection->QueryInterface(IID_PPV_ARGS(&list));
  long count = -1;
  list->Count(&count);
  return count;
}

void ExpectStoredValuesWork(IDispatch* object, const wchar_t* property, VARIANT value) {
  InvokeResult put, get;
  Invoke(put, object, property, DISPATCH_PROPERTYPUT, {value});
  EXPECT_EQ(put.hr, S_OK) << Narrow(property);
  Invoke(get, object, property, DISPATCH_PROPERTYGET);
  EXPECT_EQ(get.hr, S_OK) << Narrow(property);
  EXPECT_EQ(VarCmp(&get.value, &value, LOCALE_USER_DEFAULT, 0), static_cast<HRESULT>(VARCMP_EQ)) << Narrow(property);
  VariantClear(&value);
}

// ---------------------------------------------------------------------------
// The Invoke sweep.

class InvokeSweep : public ::testing::Test {
 protected:
  void SweepAndCheck(Target& target, const std::function<void()>& stillWorks) {
    const ULONG own = RefCount(target.object.Get());
    const int calls = Sweep(target, objects_);
    std::cout << target.name << ": " << calls << " calls\n";
    EXPECT_EQ(RefCount(target.object.Get()), own);
    stillWorks();
  }
  Objects objects_;
};

TEST_F(InvokeSweep, Packet) {
  Target t{"Packet", CreateByProgId<IDispatch>(L"Velcorin.Packet"), CreateByProgId<IDispatch>(L"Velcorin.Packet")};
  SweepAndCheck(t, [&] {
    ExpectStoredValuesWork(t.object.Get(), L"OpCode", I4(13));
    ExpectStoredValuesWork(t.object.Get(), L"Data", Str(L"still fine"));
  });
}

TEST_F(InvokeSweep, DevInfo) {
  Target t{"DevInfo", CreateByProgId<IDispatch>(L"Velcorin.DevInfo"), CreateByProgId<IDispatch>(L"Velcorin.DevInfo")};
  SweepAndCheck(t, [&] {
    ExpectStoredValuesWork(t.object.Get(), L"ProductID", I4(0x3105));
    ExpectStoredValuesWork(t.object.Get(), L"SerialNumber", Str(L"SN1"));
    ComPtr<_DevInfo> info;
    t.object.As(&info);
    SAFEARRAY* names = Strings({L"a"});
    EXPECT_EQ(info->put_ChannelNames(&names), S_OK);
    SafeArrayDestroy(names);
  });
}

TEST_F(InvokeSweep, EnumFilter) {
  Target t{"EnumFilter", CreateByProgId<IDispatch>(L"Velcorin.EnumFilter"),
           CreateByProgId<IDispatch>(L"Velcorin.EnumFilter")};
  SweepAndCheck(t, [&] {
    ExpectStoredValuesWork(t.object.Get(), L"FilterAction", I4(1));
    InvokeResult tokens;
    Invoke(tokens, t.object.Get(), L"Tokens", DISPATCH_PROPERTYGET);
    EXPECT_EQ(tokens.hr, S_OK);
    EXPECT_EQ(V_VT(&tokens.value), VT_DISPATCH);
  });
}

TEST_F(InvokeSweep, Chooser) {
  Target t{"Chooser", CreateByProgId<IDispatch>(L"Velcorin.Chooser"), CreateByProgId<IDispatch>(L"Velcorin.Chooser")};
  SweepAndCheck(t, [&] {
    InvokeResult path, filter;
    Invoke(path, t.object.Get(), L"DevicePath", DISPATCH_PROPERTYGET);
    EXPECT_EQ(path.hr, S_OK);
    Invoke(filter, t.object.Get(), L"Filter", DISPATCH_PROPERTYGET);
    EXPECT_EQ(filter.hr, S_OK);
    EXPECT_EQ(CountOf(V_DISPATCH(&filter.value)), 0) << "the collection the sweep left holds nothing";
  });
}

TEST_F(InvokeSweep, CollectionFromChooserFilter) {
  Target t{"Collection", Objects::NewCollection(), Objects::NewCollection()};
  // Item and Remove find something to read and remove.
  t.prepare = [&](const Member&) {
    for (IDispatch* object : {t.object.Get(), t.twin.Get()}) {
      ComPtr<_Collection> list;
      object->QueryInterface(IID_PPV_ARGS(&list));
      long count = 0;
      list->Count(&count);
      for (; count < 3; ++count) {
        VARIANT item = I4(count), missing = Typed(VT_ERROR);
        V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
        list->Add(&item, &missing, &missing, &missing);
      }
    }
  };
  SweepAndCheck(t, [&] {
    ComPtr<_Collection> list;
    t.object.As(&list);
    long before = CountOf(t.object.Get());
    VARIANT item = Str(L"after"), missing = Typed(VT_ERROR);
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    EXPECT_EQ(list->Add(&item, &missing, &missing, &missing), S_OK);
    EXPECT_EQ(CountOf(t.object.Get()), before + 1);
    VariantClear(&item);
  });
}

TEST_F(InvokeSweep, ClosedDevice) {
  Target t{"Device(closed)", CreateByProgId<IDispatch>(L"Velcorin.Device"),
           CreateByProgId<IDispatch>(L"Velcorin.Device")};
  SweepAndCheck(t, [&] {
    ComPtr<_Device> device;
    t.object.As(&device);
    EXPECT_FALSE(IsOpen(device.Get()));
    ComPtr<_DevInfo> info;
    EXPECT_EQ(device->get_DeviceInfo(&info), S_OK);
    EXPECT_TRUE(info);
  });
}

TEST_F(InvokeSweep, OpenDevice) {
  OpenRig rig("CARELESS1"), twin("CARELESS2");
  ASSERT_TRUE(rig.Open());
  ASSERT_TRUE(twin.Open());
  Target t{"Device(open)", AsDispatch(rig.device.Get()), AsDispatch(twin.device.Get())};
  // A read finds a reply waiting instead of running into the time limit.
  t.prepare = [&](const Member& m) {
    if (m.name != L"ReadDev") return;
    auto packet = CreateByProgId<_Packet>(L"Velcorin.Packet");
    VARIANT_BOOL ok = VARIANT_FALSE;
    rig.device->WriteDev(packet.Get(), &ok);
    twin.device->WriteDev(packet.Get(), &ok);
  };
  t.restore = [&] {
    rig.EnsureOpen();
    twin.EnsureOpen();
  };
  SweepAndCheck(t, [&] {
    // Replies that the sweep's failed reads left queued are dropped with the connection.
    rig.device->CloseDev();
    rig.EnsureOpen();
    EXPECT_TRUE(rig.QueryWorks());
  });
}

// Every name the type information holds, each parameter name after each member
// name, in three spellings and beside strangers: the component's GetIDsOfNames
// answers as the type library's does.
TEST(NameLookup, AnswersAsTheTypeLibrary) {
  Objects o;
  auto device = CreateByProgId<IDispatch>(L"Velcorin.Device");
  for (IDispatch* object :
       {o.packet.Get(), o.devInfo.Get(), o.enumFilter.Get(), o.chooser.Get(), o.collection.Get(), device.Get()}) {
    ComPtr<ITypeInfo> info;
    object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info);
    std::set<std::wstring> names = {L"", L"x", L"Dev Type", L"Dev-Type", L"DevTyp\u00e9", L"Count\u212a", L"RHS"};
    for (const Member& m : MembersOf(object)) {
      BSTR found[8] = {};
      UINT count = 0;
      info->GetNames(m.id, found, 8, &count);
      for (UINT i = 0; i < count; ++i) {
        std::wstring name(found[i], SysStringLen(found[i])), upper = name, lower = name;
        for (wchar_t& c : upper) c = towupper(c);
        for (wchar_t& c : lower) c = towlower(c);
        names.insert({name, upper, lower, name + L"s"});
        SysFreeString(found[i]);
      }
    }
    auto expectSame = [&](std::vector<std::wstring> asked) {
      std::vector<LPOLESTR> pointers;
      for (std::wstring& name : asked) pointers.push_back(name.data());
      const UINT count = static_cast<UINT>(asked.size());
      std::vector<DISPID> ours(count, 0x7777), theirs(count, 0x7777);
      const HRESULT hr = object->GetIDsOfNames(IID_NULL, pointers.data(), count, LOCALE_USER_DEFAULT, ours.data());
      EXPECT_EQ(Hex(hr), Hex(DispGetIDsOfNames(info.Get(), pointers.data(), count, theirs.data()))) << Narrow(asked[0]);
      EXPECT_EQ(ours, theirs) << Narrow(asked[0]) << " " << Narrow(asked.back());
    };
    for (const std::wstring& first : names) {
      expectSame({first});
      for (const std::wstring& second : names) expectSame({first, second});
    }
  }
}

// ---------------------------------------------------------------------------
// Expected outcomes where the component decides.

struct Expected {
  const char* what;
  const wchar_t* member;
  WORD flags;
  std::function<VARIANT()> arg;
  HRESULT hr;  // S_OK, or the error the component raises
  int result;  // for S_OK: the truth value returned (-2: not looked at)
};

void ExpectOutcomes(IDispatch* object, const std::vector<Expected>& table) {
  for (const Expected& e : table) {
    InvokeResult r;
    VARIANT arg = e.arg();
    Invoke(r, object, e.member, e.flags, {arg});
    const std::string context = std::string(e.what);
    if (e.hr == S_OK) {
      EXPECT_EQ(r.hr, S_OK) << context << " " << Hex(r.hr) << " " << Hex(r.exception.scode);
      if (e.result != -2 && r.hr == S_OK) {
        EXPECT_EQ(V_VT(&r.value), VT_BOOL) << context;
        EXPECT_EQ(V_BOOL(&r.value), e.result) << context;
      }
    } else {
      EXPECT_EQ(r.hr, DISP_E_EXCEPTION) << context << " " << Hex(r.hr);
      EXPECT_EQ(r.exception.scode, e.hr) << context;
      EXPECT_FALSE(r.description().empty()) << context;
    }
    VariantClear(&arg);
  }
}

VARIANT MillionChars() {
  VARIANT v = Typed(VT_BSTR);
  V_BSTR(&v) = Text(std::wstring(1000000, L'\\'));
  return v;
}
VARIANT EmbeddedNul() {
  VARIANT v = Typed(VT_BSTR);
  V_BSTR(&v) = Text(std::wstring(L"\\\0\\\0?\0\\\0", 8));
  return v;
}

TEST(Outcomes, DeviceMembersOnAClosedAndAnOpenDevice) {
  auto closed = CreateByProgId<IDispatch>(L"Velcorin.Device");
  auto nothing = [] { return Obj(nullptr); };
  ExpectOutcomes(closed.Get(),
                 {
                     {"closed QueryDev(Nothing)", L"QueryDev", DISPATCH_METHOD, nothing, S_OK, 0},
                     {"closed ReadDev(Nothing)", L"ReadDev", DISPATCH_METHOD, nothing, S_OK, 0},
                     {"closed WriteDev(Nothing)", L"WriteDev", DISPATCH_METHOD, nothing, S_OK, 0},
                     {"OpenDev(million)", L"OpenDev", DISPATCH_METHOD, MillionChars, S_OK, 0},
                     {"OpenDev(embedded nul)", L"OpenDev", DISPATCH_METHOD, EmbeddedNul, S_OK, 0},
                     {"OpenDev(null BSTR)", L"OpenDev", DISPATCH_METHOD, [] { return Typed(VT_BSTR); }, S_OK, 0},
                     {"closed EnterCalMode(million)", L"EnterCalMode", DISPATCH_METHOD, MillionChars, S_OK, 0},
                 });

  OpenRig rig("CARELESS2");
  ASSERT_TRUE(rig.Open());
  auto open = AsDispatch(rig.device.Get());
  ExpectOutcomes(open.Get(),
                 {
                     {"open QueryDev(Nothing)", L"QueryDev", DISPATCH_METHOD, nothing, kErr(91), 0},
                     {"open ReadDev(Nothing)", L"ReadDev", DISPATCH_METHOD, nothing, kErr(91), 0},
                     {"open WriteDev(Nothing)", L"WriteDev", DISPATCH_METHOD, nothing, kErr(91), 0},
                     {"open OpenDev(million)", L"OpenDev", DISPATCH_METHOD, MillionChars, S_OK, 0},
                     {"open EnterCalMode(million)", L"EnterCalMode", DISPATCH_METHOD, MillionChars, S_OK, 0},
                     {"open EnterCalMode(embedded nul)", L"EnterCalMode", DISPATCH_METHOD, EmbeddedNul, S_OK, 0},
                 });
  EXPECT_TRUE(IsOpen(rig.device.Get()));
  EXPECT_TRUE(rig.QueryWorks());
}

TEST(Outcomes, EnumDevicesWithoutAListOrWithoutFilters) {
  auto device = CreateByProgId<IDispatch>(L"Velcorin.Device");
  for (bool listSet : {false, true}) {
    InvokeResult r;
    auto list = Objects::NewCollection();
    Invoke(r, device.Get(), L"EnumDevices", DISPATCH_METHOD, {Obj(listSet ? list.Get() : nullptr), Obj(nullptr)});
    if (listSet) {
      // Nothing attached: no device is opened, so the missing filter list is never read.
      EXPECT_EQ(r.hr, S_OK);
    } else {
      EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
      EXPECT_EQ(r.exception.scode, kErr(91));
      EXPECT_EQ(r.description(), kNotSet);
    }
  }
}

// Strings of any length and content are stored unchanged and read back the same.
TEST(Outcomes, StringPropertiesKeepEveryCharacter) {
  struct Case {
    const wchar_t* progId;
    const wchar_t* property;
  } cases[] = {{L"Velcorin.Packet", L"Data"},         {L"Velcorin.DevInfo", L"Description"},
               {L"Velcorin.DevInfo", L"DevicePath"},  {L"Velcorin.DevInfo", L"FirmwareVersion"},
               {L"Velcorin.DevInfo", L"ModelNumber"}, {L"Velcorin.DevInfo", L"SerialNumber"}};
  const std::wstring values[] = {std::wstring(1000000, L'm'), std::wstring(L"a\0b\0\0", 5), std::wstring()};
  for (const Case& c : cases)
    for (const std::wstring& value : values)
      for (Form form : kForms) {
        auto object = CreateByProgId<IDispatch>(c.progId);
        VARIANT text = Typed(VT_BSTR);
        V_BSTR(&text) = Text(value);
        Arg arg(text, form);
        InvokeResult put, get;
        Invoke(put, object.Get(), c.property, DISPATCH_PROPERTYPUT, {arg.passed()});
        ASSERT_EQ(put.hr, S_OK) << Narrow(c.property) << Name(form);
        Invoke(get, object.Get(), c.property, DISPATCH_PROPERTYGET);
        ASSERT_EQ(V_VT(&get.value), VT_BSTR);
        EXPECT_EQ(std::wstring(V_BSTR(&get.value), SysStringLen(V_BSTR(&get.value))), value)
            << Narrow(c.property) << Name(form) << " length " << value.size();
      }
}

std::vector<LONG> Dimensions(SAFEARRAY* array) {
  std::vector<LONG> sizes;
  if (!array) return sizes;
  for (UINT d = 1; d <= SafeArrayGetDim(array); ++d) {
    LONG lo = 0, hi = 0;
    SafeArrayGetLBound(array, d, &lo);
    SafeArrayGetUBound(array, d, &hi);
    sizes.push_back(hi - lo + 1);
  }
  return sizes;
}

// ChannelNames takes arrays of strings of any shape and refuses every other array.
TEST(Outcomes, ChannelNamesArrays) {
  struct Case {
    const char* what;
    std::function<VARIANT()> make;
    bool stored;
    std::vector<LONG> dims;
  } cases[] = {
      {"1-D strings",
       [] {
         return Array(VT_BSTR, Strings({L"a", L"b", L"c"}));
       },
       true,
       {3}},
      {"2-D strings", [] { return Array(VT_BSTR, StringMatrix()); }, true, {2, 3}},
      {"no array", [] { return Array(VT_BSTR, nullptr); }, true, {}},
      {"longs", [] { return Array(VT_I4, Longs()); }, false, {}},
      {"variants", [] { return Array(VT_VARIANT, VariantsOfText()); }, false, {}},
  };
  for (const Case& c : cases) {
    auto info = CreateByProgId<_DevInfo>(L"Velcorin.DevInfo");
    SAFEARRAY* start = Strings({L"start"});
    info->put_ChannelNames(&start);
    SafeArrayDestroy(start);
    // Late-bound: the argument goes by reference, as the put's parameter asks.
    Arg arg(c.make(), Form::Ref);
    InvokeResult r;
    Invoke(r, AsDispatch(info.Get()).Get(), L"ChannelNames", DISPATCH_PROPERTYPUT, {arg.passed()});
    SAFEARRAY* now = nullptr;
    ASSERT_EQ(info->get_ChannelNames(&now), S_OK);
    if (c.stored) {
      EXPECT_EQ(r.hr, S_OK) << c.what;
      EXPECT_EQ(Dimensions(now), c.dims) << c.what;
    } else {
      EXPECT_TRUE(FAILED(r.hr)) << c.what;
      EXPECT_EQ(Dimensions(now), std::vector<LONG>{1}) << c.what << ": the record keeps its array";
    }
    SafeArrayDestroy(now);
    // Early-bound, where no coercion stands between the caller and the member.
    if (!c.stored) {
      VARIANT value = c.make();
      SAFEARRAY* array = V_ARRAY(&value);
      EXPECT_EQ(info->put_ChannelNames(&array), kErr(13)) << c.what;
      EXPECT_EQ(TakeErrorInfo().second, L"Type mismatch");
      VariantClear(&value);
    }
  }
}

// Our collection: indexes of every type.
TEST(Outcomes, CollectionIndexes) {
  auto list = Objects::NewCollection();
  for (int i = 0; i < 3; ++i) {
    InvokeResult add;
    Invoke(add, list.Get(), L"Add", DISPATCH_METHOD, {I4(i)});
    ASSERT_EQ(add.hr, S_OK);
  }
  auto packet = CreateByProgId<IDispatch>(L"Velcorin.Packet");
  struct Case {
    const char* what;
    std::function<VARIANT()> index;
    HRESULT error;  // 0: found
  } cases[] = {
      {"1", [] { return I4(1); }, 0},
      {"R8 2.5", [] { return Scalar("", VT_R8, 2.5, [](VARIANT& v, DOUBLE x) { V_R8(&v) = x; }).make(); }, 0},
      {"BSTR number", [] { return Str(L" 3 "); }, kErr(5)},  // a string is a key, never a position
      {"0", [] { return I4(0); }, kErr(9)},
      {"4", [] { return I4(4); }, kErr(9)},
      {"I4 min", [] { return I4(std::numeric_limits<LONG>::min()); }, kErr(9)},
      {"R8 huge", [] { return Scalar("", VT_R8, 1e300, [](VARIANT& v, DOUBLE x) { V_R8(&v) = x; }).make(); }, kErr(6)},
      {"Null", [] { return Typed(VT_NULL); }, kErr(13)},
      {"Empty", [] { return Typed(VT_EMPTY); }, kErr(9)},
      {"million", MillionChars, kErr(5)},
      {"array", [] { return Array(VT_BSTR, Strings({L"1"})); }, kErr(13)},
      {"object without a value", [&] { return Obj(packet.Get()); }, kErr(13)},
      {"Nothing", [] { return Obj(nullptr); }, kErr(13)},
  };
  for (const Case& c : cases)
    for (const wchar_t* member : {L"Item", L"Remove"}) {
      if (!c.error && member == std::wstring(L"Remove")) continue;
      InvokeResult r;
      VARIANT index = c.index();
      Invoke(r, list.Get(), member, DISPATCH_METHOD, {index});
      if (!c.error) {
        EXPECT_EQ(r.hr, S_OK) << c.what;
      } else {
        EXPECT_EQ(r.hr, DISP_E_EXCEPTION) << c.what << " " << Narrow(member) << " " << Hex(r.hr);
        EXPECT_EQ(r.exception.scode, c.error) << c.what << " " << Narrow(member) << " " << Hex(r.exception.scode);
        EXPECT_FALSE(r.description().empty()) << c.what;
      }
      VariantClear(&index);
    }
  EXPECT_EQ(CountOf(list.Get()), 3);
}

// An item passed by reference is stored as a value: the collection never keeps
// a pointer into the caller's variables.
TEST(Outcomes, CollectionStoresValuesNotReferences) {
  auto list = Objects::NewCollection();
  for (Form form : {Form::Ref, Form::VariantRef}) {
    {
      Arg item(I4(42), form);
      InvokeResult add;
      Invoke(add, list.Get(), L"Add", DISPATCH_METHOD, {item.passed()});
      ASSERT_EQ(add.hr, S_OK) << Name(form);
    }
    // Nested references: a VARIANT by reference that itself holds a reference.
    LONG number = 43;
    VARIANT inner = Typed(VT_BYREF | VT_I4);
    V_I4REF(&inner) = &number;
    VARIANT outer = Typed(VT_BYREF | VT_VARIANT);
    V_VARIANTREF(&outer) = &inner;
    InvokeResult nested;
    Invoke(nested, list.Get(), L"Add", DISPATCH_METHOD, {outer});
    EXPECT_TRUE(nested.hr == S_OK || nested.hr == DISP_E_EXCEPTION) << Hex(nested.hr);
  }
  ComPtr<_Collection> items;
  list.As(&items);
  long count = 0;
  items->Count(&count);
  for (LONG i = 1; i <= count; ++i) {
    VARIANT index = I4(i), value;
    VariantInit(&value);
    ASSERT_EQ(items->Item(&index, &value), S_OK);
    EXPECT_EQ(V_VT(&value) & VT_BYREF, 0) << "item " << i;
    VariantClear(&value);
  }
}

// ---------------------------------------------------------------------------
// Filters of every wrong shape, against one attached instrument.

struct FilterCase {
  const char* what;
  std::function<ComPtr<IDispatch>()> filter;
  HRESULT error;  // 0: completes; kAnyDefined: how odd tokens count is enumeration's own business
};
constexpr HRESULT kAnyDefined = 1;

ComPtr<IDispatch> ListOf(std::vector<VARIANT> items) {
  auto list = Objects::NewCollection();
  for (VARIANT& item : items) {
    InvokeResult add;
    Invoke(add, list.Get(), L"Add", DISPATCH_METHOD, {item});
    EXPECT_EQ(add.hr, S_OK);
    VariantClear(&item);
  }
  return list;
}

ComPtr<IDispatch> FilterWithTokens(long target, ComPtr<IDispatch> tokens) {
  auto filter = CreateByProgId<_EnumFilter>(L"Velcorin.EnumFilter");
  filter->put_FilterTarget(static_cast<FilterTargetEnum>(target));
  ComPtr<_Collection> list;
  if (tokens) tokens.As(&list);
  filter->putref_Tokens(list.Get());
  return AsDispatch(filter.Get());
}

TEST(Outcomes, EnumDevicesFiltersOfEveryShape) {
  OpenRig rig("CARELESS3");  // attached, not opened: EnumDevices examines it
  auto packet = CreateByProgId<IDispatch>(L"Velcorin.Packet");
  auto oddTokens = [&] {
    return ListOf({Obj(ListOf({I4(0x3100)}).Get()), Obj(packet.Get()), Typed(VT_NULL), Typed(VT_EMPTY), MillionChars(),
                   EmbeddedNul(), Array(VT_BSTR, Strings({L"0x3100"})),
                   Scalar("", VT_R8, 1e300, [](VARIANT& v, DOUBLE x) { V_R8(&v) = x; }).make(),
                   Scalar("", VT_R8, std::nan(""), [](VARIANT& v, DOUBLE x) { V_R8(&v) = x; }).make()});
  };
  std::vector<FilterCase> cases = {
      {"empty", [] { return ListOf({}); }, 0},
      {"a string", [] { return ListOf({Str(L"0x3100")}); }, kErr(13)},
      {"a number", [] { return ListOf({I4(0x3100)}); }, kErr(13)},
      {"a nested collection", [] { return ListOf({Obj(ListOf({}).Get())}); }, kErr(13)},
      {"a Packet", [&] { return ListOf({Obj(packet.Get())}); }, kErr(13)},
      {"Nothing", [] { return ListOf({Obj(nullptr)}); }, kErr(91)},
      {"a filter without tokens", [] { return ListOf({Obj(FilterWithTokens(0, nullptr).Get())}); }, kAnyDefined},
      {"class tokens of every shape", [&] { return ListOf({Obj(FilterWithTokens(0, oddTokens()).Get())}); },
       kAnyDefined},
      {"id tokens of every shape", [&] { return ListOf({Obj(FilterWithTokens(1, oddTokens()).Get())}); }, kAnyDefined},
  };
  auto device = CreateByProgId<IDispatch>(L"Velcorin.Device");
  for (const FilterCase& c : cases) {
    auto out = ListOf({Str(L"old")});
    InvokeResult r;
    Invoke(r, device.Get(), L"EnumDevices", DISPATCH_METHOD, {Obj(out.Get()), Obj(c.filter().Get())});
    if (c.error == kAnyDefined) {
      Outcome o;
      o.hr = r.hr;
      o.scode = r.exception.scode;
      o.description = r.description();
      o.source = r.exception.bstrSource ? r.exception.bstrSource : L"";
      EXPECT_TRUE(Defined(o)) << c.what;
    } else if (c.error) {
      EXPECT_EQ(r.hr, DISP_E_EXCEPTION) << c.what << " " << Hex(r.hr);
      EXPECT_EQ(r.exception.scode, c.error) << c.what << " " << Hex(r.exception.scode);
      EXPECT_FALSE(r.description().empty()) << c.what;
    } else {
      EXPECT_EQ(r.hr, S_OK) << c.what << " " << Hex(r.hr) << " " << Hex(r.exception.scode);
    }
    if (std::string(c.what) == "empty") {
      EXPECT_EQ(CountOf(out.Get()), 1) << "the instrument is listed";
    }
    // Whatever happened, the instrument was closed again.
    ASSERT_TRUE(rig.sim.WaitUntilFree(rig.serial)) << c.what;
    ASSERT_TRUE(rig.Open()) << c.what;
    rig.device->CloseDev();
    ASSERT_TRUE(rig.sim.WaitUntilFree(rig.serial));
  }
}

// ---------------------------------------------------------------------------
// Through the vtable, with a null pointer in every pointer parameter.

// One parameter of a vtable call and the storage it points at.
struct VtableParam {
  VARTYPE vt = VT_EMPTY;       // the type of the value handed to DispCallFunc
  VARIANT value;               // that value
  VARIANT storage;             // what an out or in/out pointer points at
  bool pointer = false;        // may be null
  bool out = false;            // a result: null must be refused with E_POINTER
  VARTYPE pointee = VT_EMPTY;  // what storage holds afterwards, to free it
  ComPtr<IUnknown> object;     // an in object, kept alive
  VtableParam() {
    VariantInit(&value);
    VariantInit(&storage);
  }
  VtableParam(const VtableParam&) = delete;
  ~VtableParam() { Free(); }
  void Free() {
    switch (pointee) {
      case VT_BSTR: SysFreeString(V_BSTR(&storage)); break;
      case VT_UNKNOWN:
        if (V_UNKNOWN(&storage)) V_UNKNOWN(&storage)->Release();
        break;
      case VT_SAFEARRAY:
        if (V_ARRAY(&storage)) SafeArrayDestroy(V_ARRAY(&storage));
        break;
      case VT_VARIANT: VariantClear(&storage); break;
      default: break;
    }
    memset(&storage, 0, sizeof storage);
    if (vt == VT_BSTR) SysFreeString(V_BSTR(&value));
    V_BSTR(&value) = nullptr;
  }
};

struct VtableCall {
  std::wstring name;
  ULONG_PTR offset = 0;
  std::vector<ELEMDESC> params;
  std::shared_ptr<FUNCDESC> func;  // owns what the parameter descriptions point into
  ComPtr<ITypeInfo> info;
};

// Fills one parameter with a good value (null == false) or a null pointer.
void Prepare(ITypeInfo* info, const ELEMDESC& desc, bool null, VtableParam& p, const Objects& objects) {
  const TYPEDESC& type = desc.tdesc;
  const USHORT flags = desc.paramdesc.wParamFlags;
  p.out = (flags & PARAMFLAG_FOUT) != 0;
  if (type.vt == VT_BSTR) {
    p.vt = VT_BSTR;
    p.pointer = true;
    V_BSTR(&p.value) = null ? nullptr : SysAllocString(L"x");
    return;
  }
  if (type.vt != VT_PTR) {  // numbers and enumerations
    p.vt = VT_I4;
    V_I4(&p.value) = 1;
    return;
  }
  p.pointer = true;
  p.vt = VT_BYREF | VT_UI1;
  const TYPEDESC& to = *type.lptdesc;
  if (to.vt == VT_USERDEFINED && !p.out) {  // an object passed in
    ComPtr<ITypeInfo> ref;
    info->GetRefTypeInfo(to.hreftype, &ref);
    const Kind kind = InterfaceKind(ref.Get());
    if (null) return;
    ComPtr<IDispatch> object = kind == Kind::Packet ? objects.packet : Objects::NewCollection();
    TYPEATTR* attr = nullptr;
    ref->GetTypeAttr(&attr);
    object->QueryInterface(attr->guid, reinterpret_cast<void**>(p.object.GetAddressOf()));
    ref->ReleaseTypeAttr(attr);
    V_BYREF(&p.value) = p.object.Get();
    return;
  }
  p.pointee = to.vt == VT_PTR || to.vt == VT_UNKNOWN ? static_cast<VARTYPE>(VT_UNKNOWN) : to.vt;
  if (to.vt == VT_VARIANT && !p.out) {
    // An optional argument left out, as callers pass it.
    const bool optional = (flags & PARAMFLAG_FOPT) != 0;
    V_VT(&p.storage) = optional ? VT_ERROR : VT_I4;
    V_I4(&p.storage) = optional ? DISP_E_PARAMNOTFOUND : 1;
  }
  V_BYREF(&p.value) = null ? nullptr : &p.storage;
}

HRESULT CallThroughVtable(IUnknown* object, const VtableCall& call, int nullAt, bool allNull, const Objects& objects,
                          std::vector<std::unique_ptr<VtableParam>>& params) {
  params.clear();
  std::vector<VARTYPE> types;
  std::vector<VARIANT*> values;
  for (size_t i = 0; i < call.params.size(); ++i) {
    auto p = std::make_unique<VtableParam>();
    Prepare(call.info.Get(), call.params[i], allNull || static_cast<int>(i) == nullAt, *p, objects);
    types.push_back(p->vt);
    values.push_back(&p->value);
    params.push_back(std::move(p));
  }
  VARIANT result;
  VariantInit(&result);
  const HRESULT called = DispCallFunc(object, call.offset, CC_STDCALL, VT_ERROR, static_cast<UINT>(types.size()),
                                      types.data(), values.data(), &result);
  EXPECT_EQ(called, S_OK) << Narrow(call.name);
  return V_ERROR(&result);
}

std::vector<VtableCall> VtableMembers(IDispatch* object) {
  ComPtr<ITypeInfo> info = VtableHalf(object);
  TYPEATTR* attr = nullptr;
  info->GetTypeAttr(&attr);
  const WORD count = attr->cFuncs;
  info->ReleaseTypeAttr(attr);
  std::vector<VtableCall> calls;
  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* func = nullptr;
    if (FAILED(info->GetFuncDesc(i, &func))) continue;
    VtableCall call;
    BSTR name = nullptr;
    info->GetDocumentation(func->memid, &name, nullptr, nullptr, nullptr);
    call.name = std::wstring(name ? name : L"?") + (func->invkind == INVOKE_PROPERTYGET ? L" get"
                                                    : func->invkind == INVOKE_FUNC      ? L""
                                                                                        : L" put");
    SysFreeString(name);
    call.offset = static_cast<ULONG_PTR>(func->oVft);
    call.params.assign(func->lprgelemdescParam, func->lprgelemdescParam + func->cParams);
    call.info = info;
    call.func.reset(func, [info](FUNCDESC* f) { info->ReleaseFuncDesc(f); });
    calls.push_back(call);
  }
  return calls;
}

// What a null pointer in an in parameter gives, where it is not simply accepted.
struct NullExpectation {
  const char* target;
  const wchar_t* member;
  size_t param;
  HRESULT hr;
};
const NullExpectation kNullRefused[] = {
    {"Device", L"EnumDevices", 0, kErr(91)},
    {"Collection", L"Item", 0, E_POINTER},
    {"Collection", L"Add", 0, E_POINTER},
    {"Collection", L"Remove", 0, E_POINTER},
};

HRESULT ExpectedForNull(const std::string& target, const VtableCall& call, size_t param, bool out) {
  if (out) return E_POINTER;
  for (const NullExpectation& e : kNullRefused)
    if (target == e.target && call.name == e.member && param == e.param) return e.hr;
  return S_OK;
}

TEST(NullPointers, EveryPointerParameterOfEveryMember) {
  Objects objects;
  struct Case {
    std::string name;
    ComPtr<IDispatch> object;
  } cases[] = {
      {"Device", CreateByProgId<IDispatch>(L"Velcorin.Device")},
      {"Packet", CreateByProgId<IDispatch>(L"Velcorin.Packet")},
      {"Chooser", CreateByProgId<IDispatch>(L"Velcorin.Chooser")},
      {"DevInfo", CreateByProgId<IDispatch>(L"Velcorin.DevInfo")},
      {"EnumFilter", CreateByProgId<IDispatch>(L"Velcorin.EnumFilter")},
      {"Collection", Objects::NewCollection()},
  };
  int calls = 0;
  for (Case& c : cases) {
    const auto members = VtableMembers(c.object.Get());
    ASSERT_FALSE(members.empty()) << c.name;
    for (const VtableCall& call : members) {
      const bool dialog = call.name == L"ShowDialog";
      std::vector<std::unique_ptr<VtableParam>> params;
      for (size_t i = 0; i < call.params.size(); ++i) {
        VtableParam probe;
        Prepare(call.info.Get(), call.params[i], false, probe, objects);
        if (!probe.pointer) continue;
        if (Dumping()) std::cout << c.name << "." << Narrow(call.name) << " null " << i << std::endl;
        const HRESULT hr = CallThroughVtable(c.object.Get(), call, static_cast<int>(i), false, objects, params);
        ++calls;
        const HRESULT expected = ExpectedForNull(c.name, call, i, probe.out);
        EXPECT_EQ(hr, expected) << c.name << "." << Narrow(call.name) << " parameter " << i << " null: " << Hex(hr);
        if (IsOurs(hr)) {
          EXPECT_FALSE(TakeErrorInfo().second.empty());
        }
      }
      if (dialog) continue;  // with its result pointer set it would show the dialog
      // Every pointer null at once, then none: no crash, a defined result.
      for (bool allNull : {true, false}) {
        if (Dumping()) std::cout << c.name << "." << Narrow(call.name) << " all null " << allNull << std::endl;
        const HRESULT hr = CallThroughVtable(c.object.Get(), call, -1, allNull, objects, params);
        ++calls;
        Outcome o;
        o.hr = hr;
        if (IsOurs(hr)) {
          o.hr = DISP_E_EXCEPTION;
          o.scode = hr;
          std::tie(o.source, o.description) = TakeErrorInfo();
        }
        EXPECT_TRUE(Defined(o)) << c.name << "." << Narrow(call.name) << (allNull ? " all null" : " none null");
      }
    }
  }
  std::cout << calls << " vtable calls\n";
  // The put by value that the type library leaves undescribed.
  auto chooser = CreateByProgId<_Chooser>(L"Velcorin.Chooser");
  EXPECT_EQ(chooser->put_Filter(nullptr), S_OK);
  auto filter = CreateByProgId<_EnumFilter>(L"Velcorin.EnumFilter");
  EXPECT_EQ(filter->put_Tokens(nullptr), S_OK);
  ComPtr<_Collection> tokens;
  EXPECT_EQ(filter->get_Tokens(&tokens), S_OK);
  EXPECT_TRUE(tokens);
}

// IUnknown, IDispatch, ISupportErrorInfo, the class factory and the
// collection's enumerator: the slots every object shares.
TEST(NullPointers, InheritedSlotsFactoriesAndEnumerators) {
  auto packet = CreateByProgId<IDispatch>(L"Velcorin.Packet");
  EXPECT_EQ(packet->QueryInterface(IID_IDispatch, nullptr), E_POINTER);
  EXPECT_EQ(packet->GetTypeInfoCount(nullptr), E_POINTER);
  EXPECT_EQ(packet->GetTypeInfo(0, 0, nullptr), E_POINTER);
  ComPtr<ITypeInfo> info;
  EXPECT_EQ(packet->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"OpCode"), nullptr};
  EXPECT_EQ(packet->GetIDsOfNames(IID_NULL, nullptr, 1, 0, &id), E_POINTER);
  EXPECT_EQ(packet->GetIDsOfNames(IID_NULL, names, 1, 0, nullptr), E_POINTER);
  DISPID ids[2] = {};
  EXPECT_EQ(packet->GetIDsOfNames(IID_NULL, names + 1, 1, 0, ids), E_POINTER) << "a null name";
  EXPECT_EQ(packet->GetIDsOfNames(IID_NULL, names, 2, 0, ids), E_POINTER) << "a null parameter name";
  EXPECT_EQ(packet->GetIDsOfNames(IID_IDispatch, names, 1, 0, ids), DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(packet->GetIDsOfNames(IID_NULL, names, 0, 0, ids), S_OK);

  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_Packet, CLSCTX_INPROC_SERVER, nullptr, IID_PPV_ARGS(&factory)), S_OK);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, nullptr), E_POINTER);
  EXPECT_EQ(factory->QueryInterface(IID_IClassFactory, nullptr), E_POINTER);
  ComPtr<IUnknown> none;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, reinterpret_cast<void**>(none.GetAddressOf())),
            E_NOINTERFACE);
  EXPECT_FALSE(none);

  auto list = Objects::NewCollection();
  ComPtr<_Collection> items;
  list.As(&items);
  ComPtr<IUnknown> source;
  ASSERT_EQ(items->_NewEnum(&source), S_OK);
  ComPtr<IEnumVARIANT> walk;
  ASSERT_EQ(source.As(&walk), S_OK);
  ULONG fetched = 0;
  EXPECT_EQ(walk->Next(1, nullptr, &fetched), E_POINTER);
  VARIANT two[2];
  EXPECT_EQ(walk->Next(2, two, nullptr), E_POINTER);
  EXPECT_EQ(walk->Clone(nullptr), E_POINTER);
  EXPECT_EQ(walk->Skip(1000000), S_FALSE);
  EXPECT_EQ(walk->QueryInterface(IID_IEnumVARIANT, nullptr), E_POINTER);
}

// A caller's collection whose every call fails: plainly, or raising an error
// of its own through the exception record.
class FailingList final : public FakeDispatch<IDispatch> {
 public:
  explicit FailingList(HRESULT hr) : hr_(hr) {}
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO* exception, UINT*) override {
    if (hr_ == DISP_E_EXCEPTION && exception) {
      exception->scode = kErr(70);
      exception->bstrSource = SysAllocString(L"Caller.List");
      exception->bstrDescription = SysAllocString(L"Permission denied");
    }
    return hr_;
  }

 private:
  HRESULT hr_;
};

// An error raised earlier on the thread must never stand for a later failure
// that passes on another object's code: that failure brings its own error
// info or none.
TEST(StaleErrorInfo, AFailurePassedOnNeverShowsAnEarlierError) {
  auto device = CreateByProgId<_Device>(L"Velcorin.Device");
  ComPtr<_Collection> filters;
  ASSERT_EQ(Objects::NewCollection().As(&filters), S_OK);
  struct Case {
    HRESULT listFails, expected;
    const wchar_t* description;
  } cases[] = {
      {E_FAIL, E_FAIL, L""},
      {DISP_E_EXCEPTION, kErr(70), L"Permission denied"},
  };
  for (const auto& c : cases) {
    VARIANT nine = I4(9), item{};
    ASSERT_EQ(filters->Item(&nine, &item), kErr(9));  // leaves error info behind
    VARIANT_BOOL ok = VARIANT_TRUE;
    ComPtr<FailingList> list(new FailingList(c.listFails));
    EXPECT_EQ(device->EnumDevices(reinterpret_cast<_Collection*>(list.Get()), filters.Get(), &ok), c.expected);
    EXPECT_EQ(TakeErrorInfo().second, c.description) << Hex(c.listFails);
  }
}

}  // namespace
