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

// Made by the DLL's own class object, so that the object lives in the
// apartment of the thread that makes it, whatever its registered model.
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

using Use = std::function<std::wstring(IUnknown*)>;

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
  const DWORD homeModel = home == Home::Sta ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED;
  std::thread owner([&] {
    CoInitializeEx(nullptr, homeModel);
    {
      const ComPtr<IUnknown> object = make();
      CoMarshalInterThreadInterfaceInStream(IID_IUnknown, object.Get(), &stream);
      SetEvent(ready);
      // An STA serves calls only while it pumps messages.
      while (MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
      }
    }
    CoUninitialize();
  });
  std::wstring transcript = L"no proxy";
  std::thread caller([&] {
    CoInitializeEx(nullptr, homeModel == COINIT_MULTITHREADED ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED);
    WaitForSingleObject(ready, INFINITE);
    {
      ComPtr<IUnknown> proxy;
      if (stream && SUCCEEDED(CoGetInterfaceAndReleaseStream(stream, IID_IUnknown, &proxy)))
        transcript = use(proxy.Get());
    }
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
  return Across(home, [&] { return MakeHere(clsid); }, use);
}

std::wstring TextOf(VARIANT& value) {
  if (V_VT(&value) == VT_DISPATCH && V_DISPATCH(&value)) {
    // A collection early-bound where it can be, else late-bound.
    ComPtr<_Collection> collection;
    long count = -1;
    if (SUCCEEDED(V_DISPATCH(&value)->QueryInterface(IID_PPV_ARGS(&collection)))) {
      collection->Count(&count);
      return L"collection of " + std::to_wstring(count);
    }
    InvokeResult counted;
    Invoke(counted, V_DISPATCH(&value), L"Count", DISPATCH_PROPERTYGET);
    return counted.hr == S_OK ? L"collection of " + std::to_wstring(V_I4(&counted.value)) : L"object";
  }
  if (V_VT(&value) == (VT_ARRAY | VT_BSTR) && V_ARRAY(&value)) {
    std::wstring joined;
    BSTR* names = nullptr;
    SafeArrayAccessData(V_ARRAY(&value), reinterpret_cast<void**>(&names));
    for (ULONG i = 0; i < V_ARRAY(&value)->rgsabound[0].cElements; ++i) joined += std::wstring(names[i]) + L"|";
    SafeArrayUnaccessData(V_ARRAY(&value));
    return joined;
  }
  return SUCCEEDED(VariantChangeType(&value, &value, 0, VT_BSTR)) ? V_BSTR(&value) : L"?";
}

bool TakesCollection(ITypeInfo* info, const FUNCDESC& func) {
  for (SHORT p = 0; p < func.cParams; ++p) {
    const TYPEDESC* type = &func.lprgelemdescParam[p].tdesc;
    while (type->vt == VT_PTR) type = type->lptdesc;
    ComPtr<ITypeInfo> ref;
    TYPEATTR* attr = nullptr;
    if (type->vt != VT_USERDEFINED || FAILED(info->GetRefTypeInfo(type->hreftype, &ref))) continue;
    ref->GetTypeAttr(&attr);
    const bool collection = attr->guid == __uuidof(_Collection);
    ref->ReleaseTypeAttr(attr);
    if (collection) return true;
  }
  return false;
}

enum class Members { All, WithoutCollections, OnlyCollections };

// A sample argument for each parameter type the interfaces use, made in the caller's apartment.
VARIANT Sample(ITypeInfo* info, const TYPEDESC& type) {
  const TYPEDESC& value = type.vt == VT_PTR ? *type.lptdesc : type;
  VARIANT sample{};
  if (value.vt == VT_BSTR) return Str(L"sample");
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
  const GUID guid = attr->guid;
  const TYPEKIND kind = attr->typekind;
  ref->ReleaseTypeAttr(attr);
  if (kind == TKIND_ENUM) return I4(1);
  ComPtr<IDispatch> object = guid == __uuidof(_Collection) ? NewCollectionHere() : nullptr;
  if (!object) MakeHere(CLSID_Packet).As(&object);
  return Obj(object.Get());
}

// Calls every member the type library describes, in vtable order, and notes what each gave.
std::wstring Sweep(IUnknown* object, REFIID iid, bool early, Members members = Members::All) {
  ComPtr<ITypeLib> lib;
  ComPtr<ITypeInfo> dispatchHalf, info;
  HREFTYPE vtableHalf = 0;
  LoadTypeLibEx(DllPath().c_str(), REGKIND_NONE, &lib);
  lib->GetTypeInfoOfGuid(iid, &dispatchHalf);
  dispatchHalf->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableHalf);
  dispatchHalf->GetRefTypeInfo(vtableHalf, &info);
  ComPtr<IUnknown> itf;
  ComPtr<IDispatch> dispatch;
  object->QueryInterface(iid, reinterpret_cast<void**>(itf.GetAddressOf()));
  object->QueryInterface(IID_PPV_ARGS(&dispatch));
  if (!itf || !dispatch) return L"no interface";
  TYPEATTR* attr = nullptr;
  info->GetTypeAttr(&attr);
  const WORD count = attr->cFuncs;
  info->ReleaseTypeAttr(attr);
  std::wstring transcript;
  for (UINT call = 0; call < 2u * count; ++call) {  // twice: the second round reads what the first one put
    const UINT f = call % count;
    FUNCDESC* func = nullptr;
    info->GetFuncDesc(f, &func);
    const bool collection = TakesCollection(info.Get(), *func);
    if ((members == Members::WithoutCollections && collection) || (members == Members::OnlyCollections && !collection)) {
      info->ReleaseFuncDesc(func);
      continue;
    }
    const bool retval = func->cParams && (func->lprgelemdescParam[func->cParams - 1].paramdesc.wParamFlags & PARAMFLAG_FRETVAL);
    std::vector<VARIANT> args;
    for (SHORT p = 0; p < func->cParams - (retval ? 1 : 0); ++p) args.push_back(Sample(info.Get(), func->lprgelemdescParam[p].tdesc));
    VARIANT result{};
    HRESULT hr = E_FAIL;
    if (early) {
      // Arrays go by reference ([in, out]); every other argument by value.
      std::vector<VARIANT> callArgs(args);
      std::vector<VARTYPE> types;
      std::vector<VARIANT*> values;
      for (size_t i = 0; i < args.size(); ++i) {
        if (V_VT(&args[i]) & VT_ARRAY) V_VT(&callArgs[i]) |= VT_BYREF, V_ARRAYREF(&callArgs[i]) = &V_ARRAY(&args[i]);
        types.push_back(V_VT(&callArgs[i]));
        values.push_back(&callArgs[i]);
      }
      VARIANT slot{}, out{};
      if (retval) {
        V_VT(&out) = VT_BYREF | VT_I4, V_I4REF(&out) = &V_I4(&slot);
        types.push_back(V_VT(&out)), values.push_back(&out);
      }
      VARIANT returned{};
      DispCallFunc(itf.Get(), func->oVft, CC_STDCALL, VT_ERROR, static_cast<UINT>(types.size()), types.data(),
                   values.data(), &returned);
      hr = V_ERROR(&returned);
      const TYPEDESC* type = retval ? func->lprgelemdescParam[func->cParams - 1].tdesc.lptdesc : nullptr;
      if (SUCCEEDED(hr) && type) {
        V_VT(&slot) = type->vt == VT_BSTR || type->vt == VT_BOOL ? type->vt
                      : type->vt == VT_PTR                       ? VT_DISPATCH
                      : type->vt == VT_SAFEARRAY                 ? VT_ARRAY | VT_BSTR
                                                                 : VT_I4;
        result = slot;
      }
    } else {
      std::vector<VARIANT> reversed(args.rbegin(), args.rend());
      DISPID put = DISPID_PROPERTYPUT;
      const bool isPut = func->invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF);
      DISPPARAMS params{reversed.data(), isPut ? &put : nullptr, static_cast<UINT>(reversed.size()), isPut ? 1u : 0u};
      EXCEPINFO exception{};
      hr = dispatch->Invoke(func->memid, IID_NULL, 0, static_cast<WORD>(func->invkind), &params, &result, &exception,
                            nullptr);
      SysFreeString(exception.bstrSource), SysFreeString(exception.bstrDescription), SysFreeString(exception.bstrHelpFile);
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
class CollectionMarshaller {
 public:
  CollectionMarshaller() {
    RegCreateKeyExW(HKEY_CLASSES_ROOT, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, &created_);
    RegSetKeyValueW(key_, L"ProxyStubClsid32", nullptr, REG_SZ, L"{00020424-0000-0000-C000-000000000046}", 78);
    RegSetKeyValueW(key_, L"TypeLib", nullptr, REG_SZ, L"{DCD7460F-8E56-44E0-8A20-DDC0BDF8FC67}", 78);
    RegSetKeyValueW(key_, L"TypeLib", L"Version", REG_SZ, L"30.0", 10);
  }
  ~CollectionMarshaller() {
    RegCloseKey(key_);
    if (created_ == REG_CREATED_NEW_KEY) RegDeleteTreeW(HKEY_CLASSES_ROOT, kKey);
  }

 private:
  static constexpr const wchar_t* kKey = L"Interface\\{A4C46780-499F-101B-BB78-00AA00383CBB}";
  HKEY key_ = nullptr;
  DWORD created_ = 0;
};

// Closes every "Select Device" dialog ShowDialog opens meanwhile.
class DialogCloser {
 public:
  DialogCloser()
      : thread_([this] {
          for (; !stop_; Sleep(20))
            if (HWND dialog = FindWindowW(L"#32770", L"Select Device")) PostMessageW(dialog, WM_CLOSE, 0, 0);
        }) {}
  ~DialogCloser() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

struct Interface {
  const CLSID* clsid;
  const IID* iid;
};
constexpr Interface kInterfaces[] = {{&CLSID_Device, &IID__Device}, {&CLSID_Packet, &IID__Packet},
                                     {&CLSID_Chooser, &IID__Chooser}, {&CLSID_DevInfo, &IID__DevInfo},
                                     {&CLSID_EnumFilter, &IID__EnumFilter}};

// Without a marshaller for the collection interface, collections cross only
// late-bound (as IDispatch); with one, early-bound too.
TEST(CrossApartment, EveryMemberAnswersThroughAProxyAsInPlace) {
  const DialogCloser closer;
  for (bool marshaller : {false, true}) {
    std::optional<CollectionMarshaller> registered;
    if (marshaller) registered.emplace();
    for (const Interface& itf : kInterfaces) {
      for (bool early : {false, true}) {
        const Members members = early && !marshaller ? Members::WithoutCollections : Members::All;
        const Use sweep = [&](IUnknown* object) { return Sweep(object, *itf.iid, early, members); };
        const std::wstring inPlace = InPlace(*itf.clsid, sweep);
        for (Home home : {Home::Sta, Home::Mta})
          EXPECT_EQ(Across(home, *itf.clsid, sweep), inPlace)
              << "marshaller " << marshaller << ", early " << early << ", home " << (home == Home::Sta ? "STA" : "MTA");
      }
    }
  }
}

// Early-bound without a marshaller, collection members fail with E_NOINTERFACE;
// with one, the undescribed put by value of Filter and Tokens stores the reference.
TEST(CrossApartment, CollectionsEarlyBoundFailCleanlyWithoutAMarshaller) {
  for (const Interface& itf : {kInterfaces[0], kInterfaces[2], kInterfaces[4]}) {
    const std::wstring transcript =
        Across(Home::Sta, *itf.clsid, [&](IUnknown* o) { return Sweep(o, *itf.iid, true, Members::OnlyCollections); });
    EXPECT_NE(transcript.find(L"80004002"), std::wstring::npos);
    EXPECT_EQ(transcript.find(L": 0"), std::wstring::npos) << transcript;
  }
  const CollectionMarshaller registered;
  const std::wstring stored = Across(Home::Sta, CLSID_Chooser, [](IUnknown* object) {
    ComPtr<_Chooser> chooser;
    ComPtr<_Collection> list, back;
    object->QueryInterface(IID_PPV_ARGS(&chooser));
    NewCollectionHere().As(&list);
    long count = 0;
    const HRESULT put = chooser->put_Filter(list.Get()), get = chooser->get_Filter(&back);
    if (back) back->Count(&count);
    return std::to_wstring(put) + L" " + std::to_wstring(get) + L" " + std::to_wstring(count);
  });
  EXPECT_EQ(stored, L"0 0 1");
}

// The dialog's calls to a Filter in the MTA pump sent messages: a Refresh sent
// while a slow instrument holds a fill up arrives inside that fill.
TEST(CrossApartment, RefreshDuringAFillLeavesOneConsistentTree) {
  velcorin::sim::SimClient sim("[a]\nserial = APT3001\nmodel = LDI-A\ntype = 0x3001\ndelay_ms = 150\n"
                               "[b]\nserial = APT3002\nmodel = LDI-B\ntype = 0x3002\n");
  std::vector<std::wstring> texts;
  Across(Home::Mta, [] { return NewCollectionHere(0); }, [&](IUnknown* filter) {
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
      WaitFor([&] { return TreeNodes(d.tree).size() >= 4; });
      for (const TreeNode& node : TreeNodes(d.tree)) texts.push_back(node.text);
      SendMessageW(d.cancel, BM_CLICK, 0, 0);
    });
    Invoke(shown, chooser.Get(), L"ShowDialog", DISPATCH_METHOD);
    return std::wstring(set.hr == S_OK && shown.hr == S_OK ? L"ok" : L"failed");
  });
  EXPECT_EQ(texts, (std::vector<std::wstring>{L"My Computer", L"Laser Diode Driver Instruments", L"LDI-A", L"LDI-B"}));
}

}  // namespace
