// EnumDevices through the real DLL against simulated instruments: the system's
// order, the device path form, instruments that cannot be listed, the filter
// decision, every kind of token, and the caller's own mistakes (after which
// the instrument being examined must be free again).
#include <gtest/gtest.h>

#include <windows.h>
// windows.h first: the system headers rely on its types.

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "com_test_util.h"
#include "sim/sim_client.h"

namespace {

using velcorin::sim::SimClient;

constexpr HRESULT kErr(long n) { return static_cast<HRESULT>(0x800A0000u + n); }

struct Instrument {
  std::string serial;
  long type;
  std::string extra;
};

std::string ConfigOf(const std::vector<Instrument>& instruments) {
  std::string text;
  for (const auto& i : instruments)
    text += "[" + i.serial + "]\nserial = " + i.serial + "\nmodel = M-" + i.serial +
            "\ntype = " + std::to_string(i.type) + "\nchannels = 1\n" + i.extra + "\n";
  return text;
}

struct Var {
  VARIANT v;
  Var() { VariantInit(&v); }
  explicit Var(const VARIANT& taken) : v(taken) {}
  Var(const Var&) = delete;
  ~Var() { VariantClear(&v); }
};

VARIANT Missing() {
  VARIANT v;
  V_VT(&v) = VT_ERROR;
  V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
  return v;
}

// Our collection, as scripts get it: from a self-creating property.
void Append(_Collection* list, const VARIANT& item) {
  VARIANT copy = item, missing = Missing();
  ASSERT_EQ(list->Add(&copy, &missing, &missing, &missing), S_OK);
}

void AppendObject(_Collection* list, IDispatch* object) {
  Var item(Obj(object));
  Append(list, item.v);
}

struct Result {
  HRESULT hr = E_FAIL;
  VARIANT_BOOL listed = VARIANT_FALSE;
};

// The simulated instruments, a Device to enumerate with, and its lists.
struct Lab {
  SimClient sim;
  ComPtr<_Device> device = CreateByProgId<_Device>(L"Velcorin.Device");
  ComPtr<_Collection> found = NewList();
  ComPtr<_Collection> filters = NewList();

  std::vector<Instrument> instruments;

  explicit Lab(const std::vector<Instrument>& list) : sim(ConfigOf(list)), instruments(list) {}

  // An enumeration right after another finds the simulator still reconnecting the
  // instruments it just closed (for about half a millisecond): wait for them first.
  Result Enum(_Collection* outList, _Collection* filter) {
    sim.WaitUntilAllFree();
    Result r;
    r.hr = device->EnumDevices(outList, filter, &r.listed);
    return r;
  }
  Result Enum() { return Enum(found.Get(), filters.Get()); }
  std::vector<std::string> Listed() {
    Result r = Enum();
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.listed, VARIANT_TRUE);
    return SerialsOf(found.Get());
  }

  // Whether the instrument opens now (for a fresh Device), closing it again.
  HRESULT OpenNow(const std::string& serial, VARIANT_BOOL& opened) {
    EXPECT_TRUE(sim.WaitUntilFree(serial)) << serial;
    const std::wstring path = Widened(sim.DevicePath(serial));
    BSTR b = SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
    auto other = CreateByProgId<_Device>(L"Velcorin.Device");
    const HRESULT hr = other->OpenDev(b, &opened);
    other->CloseDev();
    SysFreeString(b);
    return hr;
  }
  bool OpensNow(const std::string& serial) {
    VARIANT_BOOL opened = VARIANT_FALSE;
    return OpenNow(serial, opened) == S_OK && opened == VARIANT_TRUE;
  }
};

ComPtr<_EnumFilter> MakeFilter(long action, long target, const std::vector<VARIANT>& tokens) {
  auto filter = CreateByProgId<_EnumFilter>(L"Velcorin.EnumFilter");
  filter->put_FilterAction(static_cast<FilterActionEnum>(action));
  filter->put_FilterTarget(static_cast<FilterTargetEnum>(target));
  ComPtr<_Collection> list;
  filter->get_Tokens(&list);
  for (const auto& token : tokens) Append(list.Get(), token);
  return filter;
}

void SetFilters(_Collection* filters, const std::vector<ComPtr<_EnumFilter>>& items) {
  while (CountOf(filters) > 0) {
    Var first(I4(1));
    filters->Remove(&first.v);
  }
  for (const auto& f : items) AppendObject(filters, f.Get());
}

TEST(EnumDevices, NoInstrumentListsNothingAndEmptiesTheList) {
  auto device = CreateByProgId<_Device>(L"Velcorin.Device");
  auto found = NewList();
  for (long i = 0; i < 3; ++i) Append(found.Get(), I4(i));
  VARIANT_BOOL listed = VARIANT_FALSE;
  ASSERT_EQ(device->EnumDevices(found.Get(), NewList().Get(), &listed), S_OK);
  EXPECT_EQ(listed, VARIANT_TRUE);
  EXPECT_EQ(CountOf(found.Get()), 0);
  // A Filter that is not set only matters once an instrument has been opened.
  EXPECT_EQ(device->EnumDevices(found.Get(), nullptr, &listed), S_OK);
  EXPECT_EQ(listed, VARIANT_TRUE);
}

TEST(EnumDevices, TwoInstrumentsInTheSystemsOrderWithPathsThatOpen) {
  Lab lab({{"DISA0002", 0x3001, ""}, {"DISA0001", 0x1102, ""}});
  const auto listed = lab.Listed();
  EXPECT_EQ(listed, lab.sim.InSystemOrder({"DISA0001", "DISA0002"}));
  ASSERT_EQ(listed.size(), 2u);
  for (long i = 1; i <= 2; ++i) {
    auto info = DevInfoAt(lab.found.Get(), i);
    const std::string plain = lab.sim.DevicePath(SerialOf(info.Get()));
    const std::wstring path = TextOf(info.Get(), &_DevInfo::get_DevicePath);
    EXPECT_EQ(path, Widened(plain));
    ASSERT_EQ(path.size(), 2 * plain.size() + 3);  // each byte one character, then the zero character and one byte
    for (size_t c = 1; c < path.size(); c += 2) EXPECT_EQ(path[c], L'\0') << c;
    EXPECT_EQ(path.substr(path.size() - 3), std::wstring(3, L'\0'));
    EXPECT_TRUE(lab.OpensNow(SerialOf(info.Get())));  // left closed, and the path opens it
  }
  EXPECT_EQ(TextOf(DevInfoAt(lab.found.Get(), 1).Get(), &_DevInfo::get_ModelNumber).substr(0, 2), L"M-");
}

TEST(EnumDevices, EightInstrumentsInTheSystemsOrder) {
  std::vector<Instrument> eight;
  std::vector<std::string> serials;
  for (int i = 0; i < 8; ++i) {
    serials.push_back("DISB000" + std::to_string(7 - i));
    eight.push_back({serials.back(), 0x1000 + 0x101 * i, ""});
  }
  Lab lab(eight);
  const auto listed = lab.Listed();
  EXPECT_EQ(listed.size(), 8u);
  EXPECT_EQ(listed, lab.sim.InSystemOrder(serials));
}

TEST(EnumDevices, RecordsAreNewAndKeptAcrossEnumerations) {
  Lab lab({{"DISC0001", 0x3001, ""}});
  ASSERT_EQ(lab.Listed().size(), 1u);
  auto first = DevInfoAt(lab.found.Get(), 1);
  BSTR mark = SysAllocString(L"mine");
  first->put_ModelNumber(mark);
  SysFreeString(mark);
  auto again = NewList();
  ASSERT_EQ(lab.Enum(again.Get(), lab.filters.Get()).hr, S_OK);
  auto second = DevInfoAt(again.Get(), 1);
  EXPECT_NE(first.Get(), second.Get());
  EXPECT_EQ(TextOf(first.Get(), &_DevInfo::get_ModelNumber), L"mine");
  EXPECT_EQ(TextOf(second.Get(), &_DevInfo::get_ModelNumber), L"M-DISC0001");
}

TEST(EnumDevices, InstrumentsThatCannotBeIdentifiedAreSkipped) {
  Lab lab({{"DISD0001", 0x3001, ""},
           {"DISD0002", 0x3002, "fail_transfers = 3\nfail_mode = empty\n"},  // answers false
           {"DISD0003", 0x3003, "devtype_text = \"12a\"\n"},                 // raises 13
           {"DISD0004", 0x3004, "chanct_text = \"-1\"\n"},                   // raises 9
           {"DISD0005", 0x3005, ""}});
  EXPECT_EQ(lab.Listed(), lab.sim.InSystemOrder({"DISD0001", "DISD0005"}));
  // Left closed: opening them again runs into the same fault, not into a busy instrument.
  VARIANT_BOOL opened = VARIANT_TRUE;
  EXPECT_EQ(lab.OpenNow("DISD0003", opened), kErr(13));
  EXPECT_EQ(lab.OpenNow("DISD0004", opened), kErr(9));
  EXPECT_EQ(lab.OpenNow("DISD0002", opened), S_OK);
  EXPECT_EQ(opened, VARIANT_FALSE);
  EXPECT_TRUE(lab.sim.WaitUntilFree("DISD0002"));
}

TEST(EnumDevices, TypeCodesBeyondSixteenBitsAreListedAndFiltered) {
  Lab lab({{"DISE0001", 0x8001, ""}, {"DISE0002", 0xF001, ""}, {"DISE0003", 0x12345, ""}, {"DISE0004", 0x1201, ""}});
  EXPECT_EQ(lab.Listed().size(), 4u);
  // Classes are bits 8 to 15 as a signed 16-bit number: 0x8001 is in class -32768.
  SetFilters(lab.filters.Get(), {MakeFilter(0, 0, {I4(0x8000)})});
  EXPECT_EQ(lab.Listed(), std::vector<std::string>{"DISE0001"});
  SetFilters(lab.filters.Get(), {MakeFilter(0, 0, {I4(-0x1000)})});
  EXPECT_EQ(lab.Listed(), std::vector<std::string>{"DISE0002"});
  SetFilters(lab.filters.Get(), {MakeFilter(0, 0, {I4(0x2300)})});
  EXPECT_EQ(lab.Listed(), std::vector<std::string>{"DISE0003"});  // 0x12345: bits 8 to 15 are 0x23
}

TEST(EnumDevices, AnUnpluggedInstrumentDropsOutAndComesBack) {
  Lab lab({{"DISF0001", 0x3001, ""}, {"DISF0002", 0x1102, ""}});
  EXPECT_EQ(lab.Listed().size(), 2u);
  ASSERT_TRUE(lab.sim.Unplug("DISF0001"));
  EXPECT_EQ(lab.Listed(), std::vector<std::string>{"DISF0002"});
  ASSERT_TRUE(lab.sim.Plug("DISF0001"));
  EXPECT_EQ(lab.Listed(), lab.sim.InSystemOrder({"DISF0001", "DISF0002"}));
}

TEST(EnumDevices, LeavesTheCallingDeviceAloneAndMissesWhatItHasOpen) {
  Lab lab({{"DISG0001", 0x3001, ""}, {"DISG0002", 0x1102, ""}});
  const std::wstring path = Widened(lab.sim.DevicePath("DISG0001"));
  BSTR b = SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
  VARIANT_BOOL opened = VARIANT_FALSE;
  ASSERT_EQ(lab.device->OpenDev(b, &opened), S_OK);
  SysFreeString(b);
  ASSERT_EQ(opened, VARIANT_TRUE);
  ComPtr<_DevInfo> before;
  lab.device->get_DeviceInfo(&before);

  EXPECT_EQ(lab.Listed(), std::vector<std::string>{"DISG0002"});
  VARIANT_BOOL open = VARIANT_FALSE;
  lab.device->get_IsDeviceOpen(&open);
  EXPECT_EQ(open, VARIANT_TRUE);
  ComPtr<_DevInfo> after;
  lab.device->get_DeviceInfo(&after);
  EXPECT_EQ(before.Get(), after.Get());
  EXPECT_EQ(SerialOf(after.Get()), "DISG0001");

  // The only instrument left cannot be opened, so an unset Filter is never read.
  ASSERT_TRUE(lab.sim.Unplug("DISG0002"));
  Result r = lab.Enum(lab.found.Get(), nullptr);
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.listed, VARIANT_TRUE);
  lab.device->CloseDev();
}

// The filter cases: instruments of the classes 0x1200 and 0x1300 and of class 0x1100.
class Filters : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    lab_ = new Lab({{"DISH1201", 0x1201, ""},
                    {"DISH1202", 0x1202, ""},
                    {"DISH12FF", 0x12FF, ""},
                    {"DISH1300", 0x1300, ""},
                    {"DISH11FF", 0x11FF, ""}});
  }
  static void TearDownTestSuite() { delete lab_; }

  std::vector<std::string> With(const std::vector<ComPtr<_EnumFilter>>& filters) {
    SetFilters(lab_->filters.Get(), filters);
    auto listed = lab_->Listed();
    std::sort(listed.begin(), listed.end());
    return listed;
  }
  static Lab* lab_;
};
Lab* Filters::lab_ = nullptr;

using Serials_ = std::vector<std::string>;
constexpr long kInclude = 0, kExclude = 1, kByClass = 0, kById = 1;

TEST_F(Filters, FirstMatchingFilterDecides) {
  EXPECT_EQ(With({}), (Serials_{"DISH11FF", "DISH1201", "DISH1202", "DISH12FF", "DISH1300"}));
  EXPECT_EQ(With({MakeFilter(kInclude, kByClass, {I4(0x1234)})}), (Serials_{"DISH1201", "DISH1202", "DISH12FF"}));
  EXPECT_EQ(With({MakeFilter(kExclude, kById, {I4(0x1201)}), MakeFilter(kInclude, kByClass, {I4(0x1200)})}),
            (Serials_{"DISH1202", "DISH12FF"}));
  EXPECT_EQ(With({MakeFilter(kInclude, kByClass, {I4(0x1200)}), MakeFilter(kExclude, kById, {I4(0x1201)})}),
            (Serials_{"DISH1201", "DISH1202", "DISH12FF"}));
  EXPECT_EQ(With({MakeFilter(kExclude, kById, {I4(0x1201)}), MakeFilter(kExclude, kByClass, {I4(0x1300)})}),
            Serials_{});
  EXPECT_EQ(With({MakeFilter(kInclude, kByClass, {Str(L"abc"), Str(L"x12"), Str(L"")})}), Serials_{});
  EXPECT_EQ(With({MakeFilter(kInclude, kById, {I4(0x1300), I4(0x11FF)})}), (Serials_{"DISH11FF", "DISH1300"}));
  EXPECT_EQ(With({MakeFilter(kInclude, kByClass, {I4(0x1300)}), MakeFilter(kInclude, kById, {I4(0x1201)})}),
            (Serials_{"DISH1201", "DISH1300"}));
  EXPECT_EQ(
      With({MakeFilter(kExclude, kByClass, {I4(0x1200)}), MakeFilter(kInclude, kByClass, {I4(0x12FF), I4(0x1300)})}),
      Serials_{"DISH1300"});
  // Unknown actions include, unknown targets compare ids.
  EXPECT_EQ(With({MakeFilter(7, 5, {I4(0x1202)})}), Serials_{"DISH1202"});
  EXPECT_EQ(With({MakeFilter(-1, -1, {I4(0x1300)})}), Serials_{"DISH1300"});
}

// A filter of another implementation whose Tokens is not set.
class TokenlessFilter final : public FakeEnumFilter {
 public:
  TokenlessFilter() : FakeEnumFilter(IncludeDevs, FilterByDeviceClass) {}
  STDMETHODIMP get_Tokens(_Collection** v) override {
    *v = nullptr;
    return S_OK;
  }
};

// A caller's collection of another implementation, reached only through
// IDispatch; its Remove may refuse to shrink it.
class ForeignList final : public FakeDispatch<IDispatch> {
 public:
  explicit ForeignList(bool removeShrinks) : removeShrinks_(removeShrinks) {}
  ~ForeignList() {
    for (auto& v : items_) VariantClear(&v);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*, UINT*) override {
    switch (id) {
      case 1: {  // Add
        VARIANT copy;
        VariantInit(&copy);
        VariantCopyInd(&copy, &params->rgvarg[params->cArgs - 1]);
        items_.push_back(copy);
        return S_OK;
      }
      case 2:  // Count
        if (result) *result = I4(static_cast<long>(items_.size()));
        return S_OK;
      case 3:  // Remove
        ++removes_;
        if (removeShrinks_ && !items_.empty()) {
          VariantClear(&items_.front());
          items_.erase(items_.begin());
        }
        return S_OK;
      default: return DISP_E_MEMBERNOTFOUND;
    }
  }
  std::vector<VARIANT> items_;
  int removes_ = 0;

 private:
  bool removeShrinks_;
};

TEST(CallerErrors, OutListNotSetFailsAtOnce) {
  Lab lab({{"DISI0001", 0x3001, ""}});
  lab.sim.MarkLog();
  Result r = lab.Enum(nullptr, lab.filters.Get());
  EXPECT_EQ(r.hr, kErr(91));
  EXPECT_EQ(r.listed, VARIANT_FALSE);
  EXPECT_EQ(TakeErrorInfo().second, L"Object variable or With block variable not set");
  EXPECT_TRUE(lab.sim.Requests().empty());  // nothing was opened
}

TEST(CallerErrors, FaultsInTheFiltersLeaveTheInstrumentFree) {
  Lab lab({{"DISJ0001", 0x3001, ""}});
  ComPtr<_EnumFilter> tokenless(new TokenlessFilter);
  auto devInfo = CreateByProgId<_DevInfo>(L"Velcorin.DevInfo");
  struct Case {
    const char* what;
    std::function<void(_Collection*)> fill;
    HRESULT hr;
  } cases[] = {
      {"a filter whose Tokens is not set", [&](_Collection* f) { AppendObject(f, tokenless.Get()); }, kErr(91)},
      {"a number", [&](_Collection* f) { Append(f, I4(5)); }, kErr(13)},
      {"another object", [&](_Collection* f) { AppendObject(f, devInfo.Get()); }, kErr(13)},
      {"Nothing", [&](_Collection* f) { AppendObject(f, nullptr); }, kErr(91)},
  };
  for (const auto& c : cases) {
    auto filters = NewList();
    c.fill(filters.Get());
    EXPECT_TRUE(lab.sim.WaitUntilFree("DISJ0001"));  // the last case's opening has only just ended
    Result r = lab.Enum(lab.found.Get(), filters.Get());
    EXPECT_EQ(r.hr, c.hr) << c.what;
    EXPECT_FALSE(TakeErrorInfo().second.empty()) << c.what;
    EXPECT_EQ(CountOf(lab.found.Get()), 0) << c.what;
    EXPECT_TRUE(lab.OpensNow("DISJ0001")) << c.what;
  }
  Result r = lab.Enum(lab.found.Get(), nullptr);
  EXPECT_EQ(r.hr, kErr(91));
  EXPECT_TRUE(lab.OpensNow("DISJ0001"));
}

TEST(CallerErrors, ALaterFiltersFaultShowsOnlyWhereItIsReached) {
  Lab lab({{"DISK0001", 0x3001, ""}, {"DISK0002", 0x1102, ""}});
  auto filters = NewList();
  AppendObject(filters.Get(), MakeFilter(kInclude, kById, {I4(0x3001)}).Get());
  Append(filters.Get(), I4(5));
  // Alone, the instrument the first filter takes in never reaches the second.
  ASSERT_TRUE(lab.sim.Unplug("DISK0002"));
  Result r = lab.Enum(lab.found.Get(), filters.Get());
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(SerialsOf(lab.found.Get()), std::vector<std::string>{"DISK0001"});
  // The other one does, and the walk stops there with what it had listed.
  ASSERT_TRUE(lab.sim.Plug("DISK0002"));
  r = lab.Enum(lab.found.Get(), filters.Get());
  EXPECT_EQ(r.hr, kErr(13));
  const auto order = lab.sim.InSystemOrder({"DISK0001", "DISK0002"});
  EXPECT_EQ(SerialsOf(lab.found.Get()),
            order.front() == "DISK0001" ? std::vector<std::string>{"DISK0001"} : std::vector<std::string>{});
  EXPECT_TRUE(lab.OpensNow("DISK0002"));
}

TEST(CallerErrors, AnOutListThatDoesNotShrinkIsError5) {
  auto device = CreateByProgId<_Device>(L"Velcorin.Device");
  ComPtr<ForeignList> stuck(new ForeignList(false));
  stuck->items_ = {I4(1), I4(2)};
  VARIANT_BOOL listed = VARIANT_TRUE;
  EXPECT_EQ(device->EnumDevices(reinterpret_cast<_Collection*>(stuck.Get()), NewList().Get(), &listed), kErr(5));
  EXPECT_EQ(listed, VARIANT_FALSE);
  EXPECT_EQ(stuck->removes_, 1);
}

TEST(CallerErrors, AnyCollectionImplementationServesAsOutList) {
  Lab lab({{"DISL0001", 0x3001, ""}, {"DISL0002", 0x1102, ""}});
  ComPtr<ForeignList> list(new ForeignList(true));
  list->items_ = {I4(1), Str(L"old")};
  Result r = lab.Enum(reinterpret_cast<_Collection*>(list.Get()), lab.filters.Get());
  EXPECT_EQ(r.hr, S_OK);
  ASSERT_EQ(list->items_.size(), 2u);
  std::vector<std::string> serials;
  for (auto& item : list->items_) {
    ASSERT_EQ(V_VT(&item), VT_DISPATCH);
    ComPtr<_DevInfo> info;
    ASSERT_EQ(V_DISPATCH(&item)->QueryInterface(IID_PPV_ARGS(&info)), S_OK);
    serials.push_back(SerialOf(info.Get()));
  }
  EXPECT_EQ(serials, lab.sim.InSystemOrder({"DISL0001", "DISL0002"}));
}

// Every kind of token a caller can put into a collection, as a class filter
// and as a device-id filter sees it. Instruments A to F; "E6" is error 6.
class Tokens : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    lab_ = new Lab({{"TOKA", 0x1234, ""},
                    {"TOKB", 0x1300, ""},
                    {"TOKC", 0, ""},
                    {"TOKD", -1, ""},
                    {"TOKE", 0xF001, ""},
                    {"TOKF", -0x1000, ""}});
  }
  static void TearDownTestSuite() { delete lab_; }

  // The letters of the instruments listed, sorted, or "E<n>" for error n.
  std::string Outcome(long target, const VARIANT& token) {
    SetFilters(lab_->filters.Get(), {MakeFilter(kInclude, target, {token})});
    Result r = lab_->Enum();
    if (r.hr != S_OK) return "E" + std::to_string(r.hr & 0xFFFF);
    std::string letters;
    for (const auto& s : SerialsOf(lab_->found.Get())) letters += s.back();
    std::sort(letters.begin(), letters.end());
    return letters;
  }
  static Lab* lab_;
};
Lab* Tokens::lab_ = nullptr;

VARIANT Of(VARTYPE type, std::function<void(VARIANT&)> set) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = type;
  set(v);
  return v;
}

VARIANT Dec(double value) {
  VARIANT v;
  VariantInit(&v);
  VarDecFromR8(value, &V_DECIMAL(&v));
  V_VT(&v) = VT_DECIMAL;
  return v;
}

VARIANT ArrayOf4660() {
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  LONG at = 0;
  VARIANT item = I4(4660);
  SafeArrayPutElement(array, &at, &item);
  return Of(VT_ARRAY | VT_VARIANT, [&](VARIANT& v) { V_ARRAY(&v) = array; });
}

TEST_F(Tokens, EveryVariantTypeHasADefinedOutcome) {
  auto devInfo = CreateByProgId<_DevInfo>(L"Velcorin.DevInfo");
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Row {
    const char* what;
    VARIANT token;
    const char* byClass;
    const char* byId;
  } rows[] = {
      {"I1 -1", Of(VT_I1, [](VARIANT& v) { V_I1(&v) = -1; }), "D", "D"},
      {"UI1 0", Of(VT_UI1, [](VARIANT& v) { V_UI1(&v) = 0; }), "C", "C"},
      {"I2 4660", Of(VT_I2, [](VARIANT& v) { V_I2(&v) = 4660; }), "A", "A"},
      {"UI2 0xF001", Of(VT_UI2, [](VARIANT& v) { V_UI2(&v) = 0xF001; }), "EF", "E"},
      {"I4 0xF000", I4(0xF000), "EF", ""},
      {"I4 -4096", I4(-4096), "EF", "F"},
      {"UI4 4864", Of(VT_UI4, [](VARIANT& v) { V_UI4(&v) = 4864; }), "B", "B"},
      {"INT 4660", Of(VT_INT, [](VARIANT& v) { V_INT(&v) = 4660; }), "A", "A"},
      {"UINT 4864", Of(VT_UINT, [](VARIANT& v) { V_UINT(&v) = 4864; }), "B", "B"},
      {"I8 2^40 + 0x1234", Of(VT_I8, [](VARIANT& v) { V_I8(&v) = (1LL << 40) + 0x1234; }), "A", ""},
      {"I8 minimum", Of(VT_I8, [](VARIANT& v) { V_I8(&v) = INT64_MIN; }), "C", ""},
      {"UI8 4660", Of(VT_UI8, [](VARIANT& v) { V_UI8(&v) = 4660; }), "A", "A"},
      {"UI8 beyond the signed range", Of(VT_UI8, [](VARIANT& v) { V_UI8(&v) = 0xFFFFFFFFFFFFF000ULL; }), "E6", ""},
      {"R4 4660", Of(VT_R4, [](VARIANT& v) { V_R4(&v) = 4660.0f; }), "A", "A"},
      {"R8 4863.5 rounds up", Of(VT_R8, [](VARIANT& v) { V_R8(&v) = 4863.5; }), "B", ""},
      {"R8 4863.4 rounds down", Of(VT_R8, [](VARIANT& v) { V_R8(&v) = 4863.4; }), "A", ""},
      {"R8 -256.5 rounds to even", Of(VT_R8, [](VARIANT& v) { V_R8(&v) = -256.5; }), "D", ""},
      {"R8 1e19", Of(VT_R8, [](VARIANT& v) { V_R8(&v) = 1e19; }), "E6", ""},
      {"R8 NaN", Of(VT_R8, [&](VARIANT& v) { V_R8(&v) = nan; }), "E6", ""},
      {"R8 infinity", Of(VT_R8, [&](VARIANT& v) { V_R8(&v) = -inf; }), "E6", ""},
      {"CY 4660", Of(VT_CY, [](VARIANT& v) { V_CY(&v).int64 = 46600000; }), "A", "A"},
      {"CY 4863.5", Of(VT_CY, [](VARIANT& v) { V_CY(&v).int64 = 48635000; }), "B", ""},
      {"CY -256.5", Of(VT_CY, [](VARIANT& v) { V_CY(&v).int64 = -2565000; }), "D", ""},
      {"DECIMAL 4660", Dec(4660), "A", "A"},
      {"DECIMAL 4863.5", Dec(4863.5), "B", ""},
      {"DECIMAL 1e25", Dec(1e25), "E6", ""},
      {"DATE 4660", Of(VT_DATE, [](VARIANT& v) { V_DATE(&v) = 4660; }), "", "A"},
      {"BSTR 4660", Str(L"4660"), "A", ""},
      {"BSTR &H1234", Str(L"&H1234"), "A", ""},
      {"BSTR ' 4864 '", Str(L" 4864 "), "B", ""},
      {"BSTR 4.66e3", Str(L"4.66e3"), "A", ""},
      {"BSTR 4,660", Str(L"4,660"), "A", ""},
      {"BSTR 0x1234", Str(L"0x1234"), "", ""},
      {"BSTR abc", Str(L"abc"), "", ""},
      {"BSTR empty", Str(L""), "", ""},
      {"BSTR 1e400", Str(L"1e400"), "", ""},
      {"BSTR twenty nines", Str(L"99999999999999999999"), "E6", ""},
      {"BOOL True", Of(VT_BOOL, [](VARIANT& v) { V_BOOL(&v) = VARIANT_TRUE; }), "D", "D"},
      {"BOOL False", Of(VT_BOOL, [](VARIANT& v) { V_BOOL(&v) = VARIANT_FALSE; }), "C", "C"},
      {"EMPTY", Of(VT_EMPTY, [](VARIANT&) {}), "C", "C"},
      {"NULL", Of(VT_NULL, [](VARIANT&) {}), "", ""},
      {"ERROR", Missing(), "", ""},
      {"ERROR 0", Of(VT_ERROR, [](VARIANT& v) { V_ERROR(&v) = 0; }), "", ""},
      {"DISPATCH", Obj(devInfo.Get()), "", ""},
      {"DISPATCH Nothing", Obj(nullptr), "", ""},
      {"UNKNOWN",
       Of(VT_UNKNOWN,
          [&](VARIANT& v) {
            V_UNKNOWN(&v) = devInfo.Get();
            devInfo->AddRef();
          }),
       "", ""},
      {"ARRAY", ArrayOf4660(), "", ""},
  };
  for (auto& row : rows) {
    EXPECT_EQ(Outcome(kByClass, row.token), row.byClass) << row.what << " as a class token";
    EXPECT_EQ(Outcome(kById, row.token), row.byId) << row.what << " as a device id";
    VariantClear(&row.token);
  }
}

}  // namespace
