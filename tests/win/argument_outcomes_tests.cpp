// Outcomes where the component decides, through Invoke: the Device's members
// on a closed and an open device, strings of any length and content, the
// shapes ChannelNames takes, our collection's indexes and stored values, and
// EnumDevices with filters of every shape. Each ends in its defined result,
// with exception information whenever the component raised the error.
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
#include "open_rig.h"

namespace {

using namespace sweep;

const std::wstring kNotSet = L"Object variable or With block variable not set";

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

}  // namespace
