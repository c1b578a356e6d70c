// The objects reached from another apartment through a proxy: an MTA thread
// calling objects made on an STA thread, and an STA thread calling objects that
// live in the MTA. Every member, early-bound (through its vtable slot) and
// late-bound, answers exactly as it does in place.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <optional>
#include <thread>

#include "chooser_dialog.h"
#include "com_test_util.h"
#include "sim/sim_client.h"

namespace {

enum class Home { Sta, Mta };
using Use = std::function<std::wstring(IUnknown*)>;

// Made by the DLL's own class object: the object lives in the maker's apartment, whatever its model.
ComPtr<IUnknown> MakeHere(REFCLSID clsid) {
  static const HMODULE dll = LoadLibraryW(DllPath().c_str());
  auto* get = reinterpret_cast<HRESULT(__stdcall*)(REFCLSID, REFIID, void**)>(
      reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
  ComPtr<IClassFactory> factory;
  ComPtr<IUnknown> object;
  if (SUCCEEDED(get(clsid, IID_PPV_ARGS(&factory)))) factory->CreateInstance(nullptr, IID_PPV_ARGS(&object));
  return object;
}

ComPtr<IDispatch> NewCollectionHere(long items = 1) {
  ComPtr<_EnumFilter> filter;
  ComPtr<_Collection> tokens;
  MakeHere(CLSID_EnumFilter).As(&filter);
  filter->get_Tokens(&tokens);
  for (VARIANT item = I4(1); V_I4(&item) <= items; ++V_I4(&item)) tokens->Add(&item, nullptr, nullptr, nullptr);
  ComPtr<IDispatch> dispatch;
  tokens.As(&dispatch);
  return dispatch;
}

// Wine's RPC runtime stops listening when the last apartment that exported an object
// ends, and a thread that starts it again while the old server thread is still on its
// way out waits for ever (rpcrt4: RPCRT4_start_listen finds the protseq still marked
// listening, starts no thread, and RPCRT4_sync_with_server_thread waits for a ready
// event nobody sets). The sweeps end and start apartments hundreds of times: an object
// of the main apartment, marshalled for the whole run, keeps the listener up between them.
class RpcListenerKeptUp : public ::testing::Environment {
 public:
  void SetUp() override {
    // Whichever environment comes first makes the main apartment; COM counts both.
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream_), S_OK);
    ASSERT_EQ(CoMarshalInterface(stream_, IID_IUnknown, MakeHere(CLSID_Packet).Get(), MSHCTX_INPROC, nullptr,
                                 MSHLFLAGS_TABLESTRONG),
              S_OK);
  }
  void TearDown() override {
    LARGE_INTEGER start{};
    stream_->Seek(start, STREAM_SEEK_SET, nullptr);
    CoReleaseMarshalData(stream_);
    stream_->Release();
    CoUninitialize();
  }

 private:
  IStream* stream_ = nullptr;
};

[[maybe_unused]] auto* const listener = ::testing::AddGlobalTestEnvironment(new RpcListenerKeptUp);

std::wstring InPlace(REFCLSID clsid, const Use& use) {
  std::wstring transcript;
  std::thread([&] {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    transcript = use(MakeHere(clsid).Get());
    CoUninitialize();
  }).join();
  return transcript;
}

// use() runs on a thread of the other kind, with a proxy to what make() made at home.
std::wstring Across(Home home, const std::function<ComPtr<IUnknown>()>& make, const Use& use) {
  IStream* stream = nullptr;
  const HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr), done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread owner([&] {
    CoInitializeEx(nullptr, home == Home::Sta ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
    {
      const ComPtr<IUnknown> object = make();
      CoMarshalInterThreadInterfaceInStream(IID_IUnknown, object.Get(), &stream);
      SetEvent(ready);
      // An STA serves calls only while it pumps messages.
      for (MSG message; MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1;)
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    CoUninitialize();
  });
  std::wstring transcript = L"no proxy";
  std::thread caller([&] {
    CoInitializeEx(nullptr, home == Home::Sta ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED);
    WaitForSingleObject(ready, INFINITE);
    ComPtr<IUnknown> proxy;
    if (stream && SUCCEEDED(CoGetInterfaceAndReleaseStream(stream, IID_IUnknown, &proxy)))
      transcript = use(proxy.Get());
    proxy.Reset();
    CoUninitialize();
    SetEvent(done);
  });
  caller.join();
  owner.join();
  CloseHandle(ready);
  CloseHandle(done);
  return transcript;
}

std::wstring Across(Home home, REFCLSID clsid, const Use& use) {
  return Across(
      home, [&] { return MakeHere(clsid); }, use);
}

std::wstring TextOf(VARIANT& value) {
  if (V_VT(&value) == VT_DISPATCH && V_DISPATCH(&value)) {  // a collection, or another object
    InvokeResult counted;
    Invoke(counted, V_DISPATCH(&value), L"Count", DISPATCH_PROPERTYGET);
    return counted.hr == S_OK ? L"collection of " + std::to_wstring(V_I4(&counted.value)) : L"object";
  }
  std::wstring text;
  for (LONG i = 0; V_VT(&value) == (VT_ARRAY | VT_BSTR) && V_ARRAY(&value) && i < 2; ++i) {
    BSTR name = nullptr;
    SafeArrayGetElement(V_ARRAY(&value), &i, &name);
    text += std::wstring(name ? name : L"") + L"|";
    SysFreeString(name);
  }
  return !text.empty() || FAILED(VariantChangeType(&value, &value, 0, VT_BSTR)) ? text : V_BSTR(&value);
}

// A sample argument for each parameter type the interfaces use, made in the caller's apartment.
VARIANT Sample(ITypeInfo* info, const TYPEDESC& type) {
  const TYPEDESC& value = type.vt == VT_PTR ? *type.lptdesc : type;
  if (value.vt == VT_BSTR) return Str(L"sample");
  VARIANT sample{};
  if (value.vt == VT_SAFEARRAY) {
    V_VT(&sample) = VT_ARRAY | VT_BSTR;
    V_ARRAY(&sample) = SafeArrayCreateVector(VT_BSTR, 0, 2);
    for (LONG i = 0; i < 2; ++i) SafeArrayPutElement(V_ARRAY(&sample), &i, SysAllocString(i ? L"B" : L"A"));
    return sample;
  }
  ComPtr<ITypeInfo> ref;
  TYPEATTR* attr = nullptr;
  if (value.vt != VT_USERDEFINED || FAILED(info->GetRefTypeInfo(value.hreftype, &ref))) return I4(2);
  ref->GetTypeAttr(&attr);
  const bool isEnum = attr->typekind == TKIND_ENUM, isCollection = attr->guid == __uuidof(_Collection);
  ref->ReleaseTypeAttr(attr);
  if (isEnum) return I4(1);
  ComPtr<IDispatch> object = isCollection ? NewCollectionHere() : nullptr;
  if (!object) MakeHere(CLSID_Packet).As(&object);
  return Obj(object.Get());
}

// Calls every member the type library describes, twice in vtable order (the
// second round reads what the first one put), and notes what each gave.
std::wstring Sweep(IUnknown* object, REFIID iid, bool early) {
  ComPtr<ITypeLib> lib;
  ComPtr<ITypeInfo> dispatchHalf, info;
  HREFTYPE vtableHalf = 0;
  LoadTypeLibEx(DllPath().c_str(), REGKIND_NONE, &lib);
  lib->GetTypeInfoOfGuid(iid, &dispatchHalf);
  dispatchHalf->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableHalf);
  dispatchHalf->GetRefTypeInfo(vtableHalf, &info);
  ComPtr<IUnknown> itf;
  ComPtr<IDispatch> dispatch;
  if (FAILED(object->QueryInterface(iid, reinterpret_cast<void**>(itf.GetAddressOf()))) ||
      FAILED(object->QueryInterface(IID_PPV_ARGS(&dispatch))))
    return L"no interface";
  TYPEATTR* attr = nullptr;
  info->GetTypeAttr(&attr);
  const UINT count = attr->cFuncs;
  info->ReleaseTypeAttr(attr);
  std::wstring transcript;
  for (UINT call = 0; call < 2 * count; ++call) {
    FUNCDESC* func = nullptr;
    info->GetFuncDesc(call % count, &func);
    const SHORT retval =
        func->cParams && (func->lprgelemdescParam[func->cParams - 1].paramdesc.wParamFlags & PARAMFLAG_FRETVAL);
    std::vector<VARIANT> args;
    for (SHORT p = 0; p < func->cParams - retval; ++p)
      args.push_back(Sample(info.Get(), func->lprgelemdescParam[p].tdesc));
    VARIANT result{};
    HRESULT hr = E_FAIL;
    if (early) {
      // Arrays go by reference ([in, out]); the retval's slot takes any type.
      std::vector<VARIANT> callArgs(args);
      std::vector<VARTYPE> types;
      std::vector<VARIANT*> values;
      for (size_t i = 0; i < args.size(); ++i) {
        if (V_ISARRAY(&args[i])) V_VT(&callArgs[i]) |= VT_BYREF, V_ARRAYREF(&callArgs[i]) = &V_ARRAY(&args[i]);
        types.push_back(V_VT(&callArgs[i])), values.push_back(&callArgs[i]);
      }
      VARIANT slot{}, out{}, returned{};
      V_VT(&out) = VT_BYREF | VT_I4, V_I4REF(&out) = &V_I4(&slot);
      if (retval) types.push_back(V_VT(&out)), values.push_back(&out);
      DispCallFunc(itf.Get(), func->oVft, CC_STDCALL, VT_ERROR, static_cast<UINT>(types.size()), types.data(),
                   values.data(), &returned);
      hr = V_ERROR(&returned);
      if (retval && SUCCEEDED(hr)) {
        const VARTYPE vt = func->lprgelemdescParam[func->cParams - 1].tdesc.lptdesc->vt;
        V_VT(&slot) = vt == VT_BSTR || vt == VT_BOOL ? vt
                      : vt == VT_PTR                 ? VT_DISPATCH
                      : vt == VT_SAFEARRAY           ? VT_ARRAY | VT_BSTR
                                                     : VT_I4;
        result = slot;
      }
    } else {
      std::vector<VARIANT> reversed(args.rbegin(), args.rend());
      DISPID put = DISPID_PROPERTYPUT;
      const UINT named = (func->invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) ? 1 : 0;
      DISPPARAMS params{reversed.data(), &put, static_cast<UINT>(reversed.size()), named};
      InvokeResult ignored;
      hr = dispatch->Invoke(func->memid, IID_NULL, 0, static_cast<WORD>(func->invkind), &params, &result,
                            &ignored.exception, nullptr);
    }
    wchar_t head[48];
    swprintf(head, 48, L"%lx/%d: %08lx ", func->memid, func->invkind, hr);
    transcript += head + TextOf(result) + L"\n";
    VariantClear(&result);
    ClearArgs(args);
    info->ReleaseFuncDesc(func);
  }
  return transcript;
}

// What the automation runtime registers for its collection interface: the type-library marshaller.
struct CollectionMarshaller {
  static constexpr const wchar_t* kKey = L"Interface\\{A4C46780-499F-101B-BB78-00AA00383CBB}";
  CollectionMarshaller() {
    RegSetKeyValueW(HKEY_CLASSES_ROOT, kKey, L"", REG_SZ, L"_Collection", 24);
    RegSetKeyValueW(HKEY_CLASSES_ROOT, (std::wstring(kKey) + L"\\ProxyStubClsid32").c_str(), nullptr, REG_SZ,
                    L"{00020424-0000-0000-C000-000000000046}", 78);
    RegSetKeyValueW(HKEY_CLASSES_ROOT, (std::wstring(kKey) + L"\\TypeLib").c_str(), nullptr, REG_SZ,
                    L"{DCD7460F-8E56-44E0-8A20-DDC0BDF8FC67}", 78);
    RegSetKeyValueW(HKEY_CLASSES_ROOT, (std::wstring(kKey) + L"\\TypeLib").c_str(), L"Version", REG_SZ, L"30.0", 10);
  }
  ~CollectionMarshaller() { RegDeleteTreeW(HKEY_CLASSES_ROOT, kKey); }
};

constexpr std::pair<const CLSID*, const IID*> kClasses[] = {{&CLSID_Device, &IID__Device},
                                                            {&CLSID_Packet, &IID__Packet},
                                                            {&CLSID_Chooser, &IID__Chooser},
                                                            {&CLSID_DevInfo, &IID__DevInfo},
                                                            {&CLSID_EnumFilter, &IID__EnumFilter}};

// Collections cross early-bound only where the machine has a marshaller for
// them, late-bound (as IDispatch) everywhere.
TEST(CrossApartment, EveryMemberAnswersThroughAProxyAsInPlace) {
  std::atomic<bool> stop{false};
  std::thread closer([&] {  // every "Select Device" that ShowDialog opens
    for (; !stop; Sleep(20))
      if (HWND dialog = FindWindowW(L"#32770", L"Select Device")) PostMessageW(dialog, WM_CLOSE, 0, 0);
  });
  for (bool marshaller : {false, true}) {
    std::optional<CollectionMarshaller> registered;
    if (marshaller) registered.emplace();
    for (auto [clsid, iid] : kClasses) {
      for (bool early : {false, true}) {
        if (early && !marshaller) continue;
        const Use sweep = [&](IUnknown* object) { return Sweep(object, *iid, early); };
        const std::wstring inPlace = InPlace(*clsid, sweep);
        for (Home home : {Home::Sta, Home::Mta})
          EXPECT_EQ(Across(home, *clsid, sweep), inPlace)
              << "marshaller " << marshaller << ", early " << early << ", from " << (home == Home::Sta ? "MTA" : "STA");
      }
    }
  }
  stop = true;
  closer.join();
}

// Early-bound without a collection marshaller, Tokens fails cleanly and the
// members before its gap keep their slots; with one, the undescribed put by
// value stores the reference.
TEST(CrossApartment, TokensEarlyBoundWithAndWithoutAMarshaller) {
  const Use use = [](IUnknown* object) {
    ComPtr<_EnumFilter> filter;
    ComPtr<_Collection> list, back;
    long count = 0;
    FilterActionEnum action = IncludeDevs;
    object->QueryInterface(IID_PPV_ARGS(&filter));
    NewCollectionHere(3).As(&list);
    const HRESULT put = filter->put_Tokens(list.Get()), get = filter->get_Tokens(&back);
    if (back) back->Count(&count);
    filter->put_FilterAction(ExcludeDevs), filter->get_FilterAction(&action);
    return std::to_wstring(put) + L" " + std::to_wstring(get) + L" " + std::to_wstring(count) + L" " +
           std::to_wstring(action);
  };
  const std::wstring failed = std::to_wstring(E_NOINTERFACE);
  EXPECT_EQ(Across(Home::Sta, CLSID_EnumFilter, use), failed + L" " + failed + L" 0 1");
  const CollectionMarshaller registered;
  EXPECT_EQ(Across(Home::Mta, CLSID_EnumFilter, use), L"0 0 3 1");
}

// The dialog's calls to a Filter in the MTA pump sent messages, and a slow
// instrument holds a fill up: a Refresh during it runs once it is done.
TEST(CrossApartment, RefreshDuringAFillLeavesOneConsistentTree) {
  velcorin::sim::SimClient sim(
      "[a]\nserial = APT3001\nmodel = LDI-A\ntype = 0x3001\ndelay_ms = 150\n"
      "[b]\nserial = APT3002\nmodel = LDI-B\ntype = 0x3002\n");
  std::vector<std::wstring> texts;
  Across(
      Home::Mta, [] { return NewCollectionHere(0); },
      [&](IUnknown* filter) {
        ComPtr<IDispatch> chooser, filterDispatch;
        MakeHere(CLSID_Chooser).As(&chooser);
        filter->QueryInterface(IID_PPV_ARGS(&filterDispatch));
        InvokeResult set, shown;
        std::vector<VARIANT> args{Obj(filterDispatch.Get())};
        Invoke(set, chooser.Get(), L"Filter", DISPATCH_PROPERTYPUTREF, args);
        ClearArgs(args);
        DialogDriver driver([&](const Dialog& d) {
          PostMessageW(d.refresh, BM_CLICK, 0, 0);
          Sleep(300);
          SendMessageW(d.refresh, BM_CLICK, 0, 0);
          ASSERT_TRUE(WaitUntilFilled(d));
          // A refill runs the moment a fill ends, before the simulator listens
          // again on what it closed: the tree is read from one more fill.
          ASSERT_TRUE(sim.WaitUntilAllFree());
          SendMessageW(d.refresh, BM_CLICK, 0, 0);
          ASSERT_TRUE(WaitUntilFilled(d));
          for (const TreeNode& node : TreeNodes(d.tree)) texts.push_back(node.text);
          SendMessageW(d.cancel, BM_CLICK, 0, 0);
        });
        Invoke(shown, chooser.Get(), L"ShowDialog", DISPATCH_METHOD);
        return std::wstring(set.hr == S_OK && shown.hr == S_OK ? L"ok" : L"failed");
      });
  EXPECT_EQ(texts, (std::vector<std::wstring>{L"My Computer", L"Laser Diode Driver Instruments", L"LDI-A", L"LDI-B"}));
}

}  // namespace
