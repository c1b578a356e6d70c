// Helpers for tests that use the component as a client would.
#pragma once

#include <windows.h>
// windows.h first: the OLE headers rely on its types.
#include <oleauto.h>
#include <wrl/client.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Velcorin_h.h"
#include "common/owners.h"

using velcorin::Bstr;

using Microsoft::WRL::ComPtr;

#define EXPECT_FAILED(expr) EXPECT_TRUE(FAILED(expr))

// Creates an object by its programmatic identifier and asks for T.
template <class T>
ComPtr<T> CreateByProgId(const wchar_t* progId) {
  CLSID clsid{};
  ComPtr<T> object;
  if (SUCCEEDED(CLSIDFromProgID(progId, &clsid)))
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(T),
                     reinterpret_cast<void**>(object.GetAddressOf()));
  return object;
}

// The device path string as enumeration hands it out: every byte of the
// UTF-16LE path one character, so each character is followed by U+0000.
inline std::wstring Widened(const std::string& path) {
  std::wstring text;
  for (char c : path) text += {static_cast<wchar_t>(static_cast<unsigned char>(c)), L'\0'};
  return text.append(3, L'\0');
}

// A caller's object of another implementation: reference counting,
// QueryInterface for IUnknown, IDispatch and Itf, and an IDispatch that knows
// no names. The first ComPtr takes the first reference.
template <class Itf>
class FakeDispatch : public Itf {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(Itf)) {
      *object = static_cast<Itf*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs_;
    if (!left) delete this;
    return left;
  }
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

 protected:
  virtual ~FakeDispatch() = default;

 private:
  ULONG refs_ = 0;
};

// A caller's filter of another implementation with a fixed action and target;
// what its Tokens answers is the subclass's. Puts are accepted and ignored.
class FakeEnumFilter : public FakeDispatch<_EnumFilter> {
 public:
  FakeEnumFilter(FilterActionEnum action, FilterTargetEnum target) : action_(action), target_(target) {}
  STDMETHODIMP get_FilterAction(FilterActionEnum* v) override {
    *v = action_;
    return S_OK;
  }
  STDMETHODIMP put_FilterAction(FilterActionEnum) override { return S_OK; }
  STDMETHODIMP get_FilterTarget(FilterTargetEnum* v) override {
    *v = target_;
    return S_OK;
  }
  STDMETHODIMP put_FilterTarget(FilterTargetEnum) override { return S_OK; }
  STDMETHODIMP put_Tokens(_Collection*) override { return S_OK; }
  STDMETHODIMP putref_Tokens(_Collection*) override { return S_OK; }

 private:
  FilterActionEnum action_;
  FilterTargetEnum target_;
};

// An empty collection of the component's own.
inline ComPtr<_Collection> NewList() {
  ComPtr<_Collection> list;
  CreateByProgId<_EnumFilter>(L"Velcorin.EnumFilter")->get_Tokens(&list);
  return list;
}

inline long CountOf(_Collection* list) {
  long count = -1;
  list->Count(&count);
  return count;
}

inline ComPtr<IDispatch> AsDispatch(IUnknown* object) {
  ComPtr<IDispatch> dispatch;
  object->QueryInterface(IID_PPV_ARGS(&dispatch));
  return dispatch;
}

// A collection of any implementation that answers for _Collection.
inline long CountOf(IDispatch* collection) {
  ComPtr<_Collection> list;
  collection->QueryInterface(IID_PPV_ARGS(&list));
  long count = -1;
  list->Count(&count);
  return count;
}

inline std::wstring Text(BSTR b) { return std::wstring(b ? b : L"", SysStringLen(b)); }

bool IsOpen(_Device* device);
// A DevInfo property read through its getter; numbers read -12345 when the getter fails.
std::wstring TextOf(_DevInfo* info, HRESULT (STDMETHODCALLTYPE _DevInfo::*get)(BSTR*));
long LongOf(_DevInfo* info, HRESULT (STDMETHODCALLTYPE _DevInfo::*get)(long*));
// The DevInfo at a 1-based index of a listing; null where the item is none.
ComPtr<_DevInfo> DevInfoAt(_Collection* list, long index);
// Its serial number, narrowed; "?" for no DevInfo.
std::string SerialOf(_DevInfo* info);
// The serial numbers of a listing, in its order.
std::vector<std::string> SerialsOf(_Collection* list);

// The record's channel names; nullopt when it holds no array. `lower` gets the lower bound.
std::optional<std::vector<std::wstring>> ChannelNames(_DevInfo* info, LONG* lower = nullptr);

// A new Packet with this OpCode and, unless null, this Data.
ComPtr<_Packet> NewPacket(long opCode = 0, const wchar_t* data = nullptr);

// One late-bound call, as a script engine makes it.
struct InvokeResult {
  HRESULT hr = E_FAIL;
  VARIANT value{};
  EXCEPINFO exception{};
  UINT badArgument = 0;
  InvokeResult() = default;
  InvokeResult(const InvokeResult&) = delete;
  ~InvokeResult();
  std::wstring description() const;
};

DISPID DispIdOf(IDispatch* object, const wchar_t* name);
// Arguments are given in natural order; named holds the names of the last named.size() arguments.
void Invoke(InvokeResult& result, IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> args = {},
            std::vector<std::wstring> named = {});

VARIANT I4(long value);
VARIANT Str(const wchar_t* text);  // the caller's test owns nothing: freed by InvokeResult users via ClearArgs
VARIANT Obj(IDispatch* object);
void ClearArgs(std::vector<VARIANT>& args);

// The error info the current thread holds, as (source, description).
std::pair<std::wstring, std::wstring> TakeErrorInfo();

std::wstring DllPath();

// This process's open handles.
DWORD OpenHandles();
// This process's threads that started in a module's code: the module's own workers.
DWORD ThreadsStartedIn(HMODULE module);
