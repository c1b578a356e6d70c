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
#include "open_rig.h"

namespace {

using namespace sweep;

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
