// The automation frame through the real DLL: creation by ProgID, defaults,
// stored properties, self-creating collections, our collection, errors
// through Invoke and through the vtable.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "com_test_util.h"

namespace {

constexpr HRESULT kErr(long n) { return static_cast<HRESULT>(0x800A0000u + n); }

TEST(Creation, EachProgIdGivesItsDefaultInterface) {
  EXPECT_TRUE(CreateByProgId<_Device>(L"Velcorin.Device"));
  EXPECT_TRUE(CreateByProgId<_Packet>(L"Velcorin.Packet"));
  EXPECT_TRUE(CreateByProgId<_Chooser>(L"Velcorin.Chooser"));
  EXPECT_TRUE(CreateByProgId<_DevInfo>(L"Velcorin.DevInfo"));
  EXPECT_TRUE(CreateByProgId<_EnumFilter>(L"Velcorin.EnumFilter"));
  CLSID clsid;
  EXPECT_FAILED(CLSIDFromProgID(L"Velcorin.DevClassInfo", &clsid));
  EXPECT_FAILED(CLSIDFromProgID(L"Velcorin.frmChooser", &clsid));
}

TEST(Creation, ObjectsAreIndependentAndAnswerTheStandardInterfaces) {
  auto a = CreateByProgId<_Packet>(L"Velcorin.Packet");
  auto b = CreateByProgId<_Packet>(L"Velcorin.Packet");
  ASSERT_TRUE(a && b);
  a->put_DevType(7);
  long value = -1;
  b->get_DevType(&value);
  EXPECT_EQ(value, 0);
  ComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(a.As(&support), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(__uuidof(_Packet)), S_OK);
  ComPtr<IDispatch> dispatch;
  EXPECT_EQ(a.As(&dispatch), S_OK);
  ComPtr<IClassFactory> notThere;
  EXPECT_EQ(a.As(&notThere), E_NOINTERFACE);
}

TEST(Packet, DefaultsAndStoredValuesRoundTrip) {
  auto p = CreateByProgId<_Packet>(L"Velcorin.Packet");
  long l = -1;
  OpTypeEnum op{};
  OpCodeBaseEnum code{};
  EndCodeBaseEnum end{};
  BSTR data = nullptr;
  p->get_DevType(&l);
  EXPECT_EQ(l, 0);
  p->get_Channel(&l);
  EXPECT_EQ(l, 0);
  p->get_OpType(&op);
  EXPECT_EQ(op, TypeRead);
  p->get_OpCode(&code);
  EXPECT_EQ(code, CmdModel);
  p->get_EndCode(&end);
  EXPECT_EQ(end, ErrOk);
  p->get_Data(&data);
  EXPECT_EQ(SysStringLen(data), 0u);
  SysFreeString(data);

  // Enumerated properties take any 32-bit value; strings keep embedded U+0000.
  p->put_OpCode(static_cast<OpCodeBaseEnum>(42));
  p->get_OpCode(&code);
  EXPECT_EQ(code, 42);
  p->put_DevType(-1);
  p->get_DevType(&l);
  EXPECT_EQ(l, -1);
  BSTR in = SysAllocStringLen(L"a\0b", 3);
  p->put_Data(in);
  SysFreeString(in);
  p->get_Data(&data);
  EXPECT_EQ(std::wstring(data, SysStringLen(data)), std::wstring(L"a\0b", 3));
  SysFreeString(data);
}

TEST(DevInfo, DefaultsAndNoChannelArray) {
  auto info = CreateByProgId<_DevInfo>(L"Velcorin.DevInfo");
  long l = -1;
  info->get_VendorID(&l);
  EXPECT_GT(l, 0);
  EXPECT_LE(l, 0xFFFF);
  info->get_ProductID(&l);
  EXPECT_EQ(l, 0);
  info->get_ChannelCount(&l);
  EXPECT_EQ(l, 0);
  SAFEARRAY* names = reinterpret_cast<SAFEARRAY*>(1);
  EXPECT_EQ(info->get_ChannelNames(&names), S_OK);
  EXPECT_EQ(names, nullptr);
  for (auto get : {&_DevInfo::get_Description, &_DevInfo::get_DevicePath, &_DevInfo::get_FirmwareVersion,
                   &_DevInfo::get_ModelNumber, &_DevInfo::get_SerialNumber}) {
    BSTR text = nullptr;
    EXPECT_EQ((info.Get()->*get)(&text), S_OK);
    EXPECT_EQ(SysStringLen(text), 0u);
    SysFreeString(text);
  }
}

TEST(DevInfo, ChannelNamesAreCopiedInAndOut) {
  auto info = CreateByProgId<_DevInfo>(L"Velcorin.DevInfo");
  SAFEARRAY* names = SafeArrayCreateVector(VT_BSTR, 1, 2);
  LONG at = 2;
  BSTR b = SysAllocString(L"B");
  SafeArrayPutElement(names, &at, b);
  SysFreeString(b);
  ASSERT_EQ(info->put_ChannelNames(&names), S_OK);
  SafeArrayDestroy(names);  // ours: the record kept a copy

  SAFEARRAY* out = nullptr;
  ASSERT_EQ(info->get_ChannelNames(&out), S_OK);
  LONG lower = 0, upper = 0;
  SafeArrayGetLBound(out, 1, &lower);
  SafeArrayGetUBound(out, 1, &upper);
  EXPECT_EQ(lower, 1);
  EXPECT_EQ(upper, 2);
  BSTR second = nullptr;
  SafeArrayGetElement(out, &at, &second);
  EXPECT_STREQ(second, L"B");
  SysFreeString(second);
  SafeArrayDestroy(out);

  SAFEARRAY* numbers = SafeArrayCreateVector(VT_I4, 0, 1);
  EXPECT_EQ(info->put_ChannelNames(&numbers), kErr(13));
  EXPECT_EQ(TakeErrorInfo().second, L"Type mismatch");
  SafeArrayDestroy(numbers);
}

TEST(SelfCreatingCollections, SameObjectTwiceAndFreshAfterNull) {
  auto chooser = CreateByProgId<_Chooser>(L"Velcorin.Chooser");
  auto filter = CreateByProgId<_EnumFilter>(L"Velcorin.EnumFilter");
  struct Case {
    IUnknown* owner;
    std::function<HRESULT(_Collection**)> get;
    std::function<HRESULT(_Collection*)> putref, putByValue;
  } cases[] = {
      {chooser.Get(), [&](auto o) { return chooser->get_Filter(o); }, [&](auto v) { return chooser->putref_Filter(v); },
       [&](auto v) { return chooser->put_Filter(v); }},
      {filter.Get(), [&](auto o) { return filter->get_Tokens(o); }, [&](auto v) { return filter->putref_Tokens(v); },
       [&](auto v) { return filter->put_Tokens(v); }},
  };
  for (auto& c : cases) {
    ComPtr<_Collection> first, second, third, fourth;
    ASSERT_EQ(c.get(&first), S_OK);
    ASSERT_TRUE(first);
    long count = -1;
    first->Count(&count);
    EXPECT_EQ(count, 0);
    c.get(&second);
    EXPECT_EQ(first.Get(), second.Get());
    EXPECT_EQ(c.putref(nullptr), S_OK);
    c.get(&third);
    EXPECT_TRUE(third);
    EXPECT_NE(third.Get(), first.Get());
    // The undescribed put-by-value slot stores the reference, like the put by reference.
    EXPECT_EQ(c.putByValue(first.Get()), S_OK);
    c.get(&fourth);
    EXPECT_EQ(fourth.Get(), first.Get());
  }
}

TEST(Frame, ChooserAndDeviceStartEmpty) {
  auto chooser = CreateByProgId<_Chooser>(L"Velcorin.Chooser");
  VARIANT_BOOL selected = VARIANT_TRUE;
  BSTR path = nullptr;
  chooser->get_IsDeviceSelected(&selected);
  EXPECT_EQ(selected, VARIANT_FALSE);
  chooser->get_DevicePath(&path);
  EXPECT_EQ(SysStringLen(path), 0u);
  SysFreeString(path);

  auto device = CreateByProgId<_Device>(L"Velcorin.Device");
  VARIANT_BOOL open = VARIANT_TRUE;
  device->get_IsDeviceOpen(&open);
  EXPECT_EQ(open, VARIANT_FALSE);
  ComPtr<_DevInfo> a, b;
  device->get_DeviceInfo(&a);
  device->get_DeviceInfo(&b);
  EXPECT_TRUE(a);
  EXPECT_EQ(a.Get(), b.Get());
}

TEST(Errors, OutPointersAreChecked) {
  auto device = CreateByProgId<_Device>(L"Velcorin.Device");
  auto packet = CreateByProgId<_Packet>(L"Velcorin.Packet");
  auto chooser = CreateByProgId<_Chooser>(L"Velcorin.Chooser");
  auto info = CreateByProgId<_DevInfo>(L"Velcorin.DevInfo");
  EXPECT_EQ(device->get_DeviceInfo(nullptr), E_POINTER);
  EXPECT_EQ(device->get_IsDeviceOpen(nullptr), E_POINTER);
  EXPECT_EQ(packet->get_Data(nullptr), E_POINTER);
  EXPECT_EQ(packet->get_OpCode(nullptr), E_POINTER);
  EXPECT_EQ(chooser->get_Filter(nullptr), E_POINTER);
  EXPECT_EQ(chooser->get_DevicePath(nullptr), E_POINTER);
  EXPECT_EQ(info->get_ChannelNames(nullptr), E_POINTER);
  EXPECT_EQ(info->put_ChannelNames(nullptr), E_POINTER);
  EXPECT_EQ(packet->GetTypeInfoCount(nullptr), E_POINTER);
  EXPECT_EQ(packet->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST(LateBound, StoredPropertiesByNameAndReadOnlyOnes) {
  auto packet = CreateByProgId<IDispatch>(L"Velcorin.Packet");
  InvokeResult put, get;
  Invoke(put, packet.Get(), L"OpCode", DISPATCH_PROPERTYPUT, {I4(14)});
  EXPECT_EQ(put.hr, S_OK);
  Invoke(get, packet.Get(), L"opcode", DISPATCH_PROPERTYGET);
  EXPECT_EQ(get.hr, S_OK);
  EXPECT_EQ(V_I4(&get.value), 14);

  auto device = CreateByProgId<IDispatch>(L"Velcorin.Device");
  EXPECT_EQ(DispIdOf(device.Get(), L"IsDeviceOpen"), 0x68030000);
  EXPECT_EQ(DispIdOf(device.Get(), L"CloseDev"), 0x60030002);
  InvokeResult readOnly, unknown;
  Invoke(readOnly, device.Get(), L"IsDeviceOpen", DISPATCH_PROPERTYPUT, {I4(1)});
  EXPECT_EQ(readOnly.hr, DISP_E_MEMBERNOTFOUND);
  Invoke(unknown, device.Get(), L"Frobnicate", DISPATCH_METHOD);
  EXPECT_EQ(unknown.hr, DISP_E_UNKNOWNNAME);

  auto chooser = CreateByProgId<IDispatch>(L"Velcorin.Chooser");
  for (const wchar_t* name : {L"DevicePath", L"IsDeviceSelected"}) {
    InvokeResult r;
    Invoke(r, chooser.Get(), name, DISPATCH_PROPERTYPUT, {I4(0)});
    EXPECT_EQ(r.hr, DISP_E_MEMBERNOTFOUND) << name;
  }
  InvokeResult byValue;
  std::vector<VARIANT> args{Obj(nullptr)};
  Invoke(byValue, chooser.Get(), L"Filter", DISPATCH_PROPERTYPUT, args);
  EXPECT_FAILED(byValue.hr);  // no put by value is described: Set is required
}

TEST(LateBound, NamedArgumentsReachTheMember) {
  auto device = CreateByProgId<IDispatch>(L"Velcorin.Device");
  for (const wchar_t* name : {L"Passwd", L"outList", L"Filter", L"DevPath", L"Pkt"}) {
    const wchar_t* member = wcscmp(name, L"Passwd") == 0    ? L"EnterCalMode"
                            : wcscmp(name, L"DevPath") == 0 ? L"OpenDev"
                            : wcscmp(name, L"Pkt") == 0     ? L"QueryDev"
                                                            : L"EnumDevices";
    LPOLESTR names[] = {const_cast<LPOLESTR>(member), const_cast<LPOLESTR>(name)};
    DISPID ids[2] = {};
    EXPECT_EQ(device->GetIDsOfNames(IID_NULL, names, 2, LOCALE_USER_DEFAULT, ids), S_OK) << name;
  }
  auto packet = CreateByProgId<IDispatch>(L"Velcorin.Packet");
  auto coll = CreateByProgId<_Chooser>(L"Velcorin.Chooser");
  ComPtr<_Collection> list;
  coll->get_Filter(&list);
  ComPtr<IDispatch> listDispatch;
  list.As(&listDispatch);
  InvokeResult add, item;
  Invoke(add, listDispatch.Get(), L"Add", DISPATCH_METHOD, {Str(L"k1"), I4(5)}, {L"Key", L"Item"});
  EXPECT_EQ(add.hr, S_OK);
  Invoke(item, listDispatch.Get(), L"Item", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {Str(L"K1")});
  EXPECT_EQ(item.hr, S_OK);
  EXPECT_EQ(V_I4(&item.value), 5);
}

TEST(Collection, AddPositionsKeysCountRemoveAndEnumerate) {
  auto chooser = CreateByProgId<_Chooser>(L"Velcorin.Chooser");
  ComPtr<_Collection> c;
  chooser->get_Filter(&c);
  VARIANT missing;
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  VARIANT a = Str(L"a"), b = Str(L"b"), keyB = Str(L"KB"), one = I4(1), z = Str(L"z");
  EXPECT_EQ(c->Add(&a, &missing, &missing, &missing), S_OK);
  EXPECT_EQ(c->Add(&b, &keyB, &missing, &missing), S_OK);
  EXPECT_EQ(c->Add(&z, &missing, &one, &missing), S_OK);  // before item 1
  long count = 0;
  c->Count(&count);
  EXPECT_EQ(count, 3);

  VARIANT out;
  VariantInit(&out);
  VARIANT kb = Str(L"kb");
  EXPECT_EQ(c->Item(&kb, &out), S_OK);
  EXPECT_STREQ(V_BSTR(&out), L"b");
  VariantClear(&out);
  EXPECT_EQ(c->Add(&a, &keyB, &missing, &missing), kErr(457));
  VARIANT nine = I4(9);
  EXPECT_EQ(c->Item(&nine, &out), kErr(9));
  VARIANT nokey = Str(L"nokey");
  EXPECT_EQ(c->Item(&nokey, &out), kErr(5));
  EXPECT_EQ(c->Add(&a, &missing, &one, &one), kErr(5));

  EXPECT_EQ(c->Remove(&one), S_OK);  // removes "z"
  ComPtr<IUnknown> source;
  ASSERT_EQ(c->_NewEnum(&source), S_OK);
  ComPtr<IEnumVARIANT> items;
  ASSERT_EQ(source.As(&items), S_OK);
  std::wstring seen;
  VARIANT v;
  VariantInit(&v);
  while (items->Next(1, &v, nullptr) == S_OK) {
    seen += V_BSTR(&v);
    VariantClear(&v);
  }
  EXPECT_EQ(seen, L"ab");
  for (VARIANT* x : {&a, &b, &keyB, &z, &kb, &nokey}) VariantClear(x);
}

// Our collection against a plain list, operation by operation at a few hundred
// items: Add at the end, before and after an index or a key, Item and Remove by
// index and by key in either case, duplicate and missing keys.
TEST(Collection, MixedOperationsMatchAPlainList) {
  ComPtr<_Collection> c;
  CreateByProgId<_Chooser>(L"Velcorin.Chooser")->get_Filter(&c);
  struct Entry {
    long value;
    bool keyed;
  };
  std::vector<Entry> model;
  std::mt19937 random(13);
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
  // Keys name their value; half of them start with a letter beyond ASCII.
  auto key = [&](long value) {
    const wchar_t* first[] = {L"k", L"K", L"\u00e4", L"\u00c4"};
    return Str((first[value % 2 * 2 + pick(2)] + std::to_wstring(value)).c_str());
  };
  // A reference to model[i]: its index, or its key when it has one.
  auto ref = [&](size_t i) { return model[i].keyed && pick(2) ? key(model[i].value) : I4(static_cast<long>(i + 1)); };
  VARIANT missing;
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  long next = 0;
  size_t walk = 0;
  for (int step = 0; step < 4000; ++step) {
    const size_t op = pick(model.size() > 300 ? 6 : 10), size = model.size();
    VARIANT a = missing, b = missing, out;
    VariantInit(&out);
    HRESULT hr = S_OK, expected = S_OK;
    if (op >= 5 || size == 0) {  // Add, half of them keyed
      const Entry entry{next++, pick(2) == 0};
      VARIANT value = I4(entry.value), k = entry.keyed ? key(entry.value) : missing;
      const size_t where = size ? pick(3) : 0, i = size ? pick(size) : 0;
      size_t at = size;
      if (where == 1) a = ref(i), at = i;      // before
      if (where == 2) b = ref(i), at = i + 1;  // after
      hr = c->Add(&value, &k, &a, &b);
      model.insert(model.begin() + static_cast<std::ptrdiff_t>(at), entry);
      VariantClear(&k);
    } else if (op == 4) {  // a key already there, in another case
      const size_t i = pick(size);
      if (!model[i].keyed) continue;
      VARIANT value = I4(-1), k = key(model[i].value);
      hr = c->Add(&value, &k, &missing, &missing), expected = kErr(457);
      VariantClear(&k);
    } else if (op == 3) {  // a key never given
      a = key(next + 1000);
      hr = c->Item(&a, &out), expected = kErr(5);
    } else if (op == 2) {  // mostly the first, as EnumDevices empties a list
      const size_t i = pick(2) ? 0 : pick(size);
      a = ref(i);
      hr = c->Remove(&a);
      model.erase(model.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      const size_t i = op == 0 ? pick(size) : (walk = (walk + 1) % size);  // random, and walking on
      a = ref(i);
      hr = c->Item(&a, &out);
      EXPECT_EQ(V_I4(&out), model[i].value) << "step " << step;
    }
    ASSERT_EQ(hr, expected) << "step " << step << ", operation " << op;
    long count = -1;
    c->Count(&count);
    ASSERT_EQ(count, static_cast<long>(model.size())) << "step " << step;
    for (VARIANT* v : {&a, &b, &out}) VariantClear(v);
  }
  VARIANT beyond = I4(static_cast<long>(model.size() + 1)), item;
  EXPECT_EQ(c->Item(&beyond, &item), kErr(9));
  ComPtr<IUnknown> source;
  ComPtr<IEnumVARIANT> items;
  ASSERT_EQ(c->_NewEnum(&source), S_OK);
  ASSERT_EQ(source.As(&items), S_OK);
  for (const Entry& entry : model) {
    ASSERT_EQ(items->Next(1, &item, nullptr), S_OK);
    EXPECT_EQ(V_I4(&item), entry.value);
  }
  EXPECT_EQ(items->Next(1, &item, nullptr), S_FALSE);
}

// Loops that read from the middle down and remove the item read, or the one
// before or after it: every read after a removal finds the right item.
TEST(Collection, RemovingAtOrNextToTheItemReadKeepsIndexesRight) {
  for (const long offset : {0L, -1L, 1L}) {
    ComPtr<_Collection> c = NewList();
    std::vector<long> model;
    VARIANT missing;
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    for (long n = 1; n <= 101; ++n) {
      VARIANT value = I4(n);
      ASSERT_EQ(c->Add(&value, &missing, &missing, &missing), S_OK);
      model.push_back(n);
    }
    for (long i = 51; i >= 1; --i) {
      VARIANT index = I4(i), out;
      VariantInit(&out);
      ASSERT_EQ(c->Item(&index, &out), S_OK);
      ASSERT_EQ(V_I4(&out), model[static_cast<size_t>(i - 1)]) << "offset " << offset << ", index " << i;
      const long removed = i + offset;
      if (i % 2 == 0 || removed < 1 || removed > static_cast<long>(model.size())) continue;
      VARIANT at = I4(removed);
      ASSERT_EQ(c->Remove(&at), S_OK);
      model.erase(model.begin() + (removed - 1));
    }
    for (size_t i = 0; i < model.size(); ++i) {
      VARIANT index = I4(static_cast<long>(i + 1)), out;
      VariantInit(&out);
      ASSERT_EQ(c->Item(&index, &out), S_OK);
      ASSERT_EQ(V_I4(&out), model[i]) << "offset " << offset << ", afterwards at " << i + 1;
    }
  }
}

TEST(Errors, ComeThroughInvokeAsExceptionsWithTheStandardText) {
  auto chooser = CreateByProgId<_Chooser>(L"Velcorin.Chooser");
  ComPtr<_Collection> c;
  chooser->get_Filter(&c);
  ComPtr<IDispatch> d;
  c.As(&d);
  InvokeResult r;
  Invoke(r, d.Get(), L"Item", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {I4(1)});
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.exception.scode, kErr(9));
  EXPECT_EQ(r.description(), L"Subscript out of range");

  VARIANT one = I4(1), out;
  VariantInit(&out);
  EXPECT_EQ(c->Item(&one, &out), kErr(9));
  auto [source, text] = TakeErrorInfo();
  EXPECT_EQ(text, L"Subscript out of range");
  EXPECT_FALSE(source.empty());
}

}  // namespace
