// The careless callers' harness: argument values of every kind a caller can
// build, the members as the type library describes them, one Invoke and what
// came of it, and the sweep of one object: every member late-bound with every
// kind of argument, malformed calls and null pointers, each call made again on
// a twin through the type library's Invoke alone, which must end the same way.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "com_test_util.h"

namespace sweep {

constexpr HRESULT kErr(long n) { return static_cast<HRESULT>(0x800A0000u + n); }

std::string Hex(HRESULT hr);
std::string Narrow(const std::wstring& text);
// VELCORIN_SWEEP_DUMP set: each call is written out before it is made.
bool Dumping();
ULONG RefCount(IUnknown* object);
bool IsOurs(HRESULT hr);

// --- argument values ------------------------------------------------------------

struct Sample {
  std::string name;
  std::function<VARIANT()> make;  // a new value that the caller owns
};

VARIANT Typed(VARTYPE vt);
BSTR Text(const std::wstring& text);
SAFEARRAY* Strings(std::vector<std::wstring> items, LONG lower = 1);
SAFEARRAY* StringMatrix();
SAFEARRAY* Longs();
SAFEARRAY* VariantsOfText();
VARIANT Unknown(IUnknown* object);
VARIANT Array(VARTYPE element, SAFEARRAY* array);

template <class T, class Set>
Sample Scalar(const char* name, VARTYPE vt, T value, Set set) {
  return {name, [=] {
            VARIANT v = Typed(vt);
            set(v, value);
            return v;
          }};
}

// The objects the samples refer to, alive for the whole sweep.
struct Objects {
  ComPtr<IDispatch> packet = CreateByProgId<IDispatch>(L"Velcorin.Packet");
  ComPtr<IDispatch> devInfo = CreateByProgId<IDispatch>(L"Velcorin.DevInfo");
  ComPtr<IDispatch> enumFilter = CreateByProgId<IDispatch>(L"Velcorin.EnumFilter");
  ComPtr<IDispatch> chooser = CreateByProgId<IDispatch>(L"Velcorin.Chooser");
  ComPtr<IDispatch> collection;   // ours, as Chooser.Filter hands it out
  ComPtr<IUnknown> plainUnknown;  // no IDispatch at all: a collection's enumerator

  Objects();
  static ComPtr<IDispatch> NewCollection();
  std::vector<IUnknown*> All() const;
};

std::vector<Sample> Samples(const Objects& o);

// How an argument is passed: as the value, by reference to it, or by
// reference to a VARIANT holding it.
enum class Form { Value, Ref, VariantRef };
inline constexpr Form kForms[] = {Form::Value, Form::Ref, Form::VariantRef};
const char* Name(Form form);

// An argument as a caller passes it. Whatever a by-reference argument points
// at belongs to this object and is freed with it, whatever the callee left there.
class Arg {
 public:
  Arg(VARIANT value, Form form);
  Arg(const Sample& sample, Form form) : Arg(sample.make(), form) {}
  Arg(const Arg&) = delete;
  Arg& operator=(const Arg&) = delete;
  Arg(Arg&&) = default;
  Arg& operator=(Arg&& other) noexcept {
    std::swap(value_, other.value_);
    std::swap(passed_, other.passed_);
    return *this;
  }
  ~Arg() {
    if (value_) VariantClear(value_.get());
  }
  const VARIANT& passed() const { return passed_; }

 private:
  std::unique_ptr<VARIANT> value_;
  VARIANT passed_;
};

// --- the members, as the type library describes them -------------------------------

enum class Kind { Long, Text, Packet, Collection, Names, Variant, Unknown };

struct Member {
  std::wstring name;
  MEMBERID id = DISPID_UNKNOWN;
  INVOKEKIND invoke = INVOKE_FUNC;
  std::vector<Kind> params;  // the arguments a caller passes: no retval
  size_t required = 0;
  WORD Flags() const { return static_cast<WORD>(invoke); }  // INVOKEKIND values are the DISPATCH_ flags
  bool IsPut() const { return invoke == INVOKE_PROPERTYPUT || invoke == INVOKE_PROPERTYPUTREF; }
  std::string Label() const {
    const char* kind = invoke == INVOKE_FUNC ? "" : invoke == INVOKE_PROPERTYGET ? " get" : IsPut() ? " put" : "";
    return Narrow(name) + kind + (invoke == INVOKE_PROPERTYPUTREF ? "ref" : "");
  }
};

Kind InterfaceKind(ITypeInfo* info);
std::vector<Member> MembersOf(IDispatch* object);
ComPtr<ITypeInfo> VtableHalf(IDispatch* object);

// --- one Invoke and what came of it --------------------------------------------------

struct Request {
  DISPID id = DISPID_UNKNOWN;
  WORD flags = DISPATCH_METHOD;
  std::vector<VARIANT> args;  // natural order; shallow copies of values owned elsewhere
  std::vector<DISPID> named;  // names of the last named.size() arguments; a put adds its own
  IID riid = IID_NULL;
  bool noParams = false, noResult = false, noException = false, noArgErr = false;
  bool badNamedCount = false, nullArgs = false, nullNamed = false;
};

struct Outcome {
  HRESULT hr = E_FAIL;
  HRESULT scode = S_OK;  // what DISP_E_EXCEPTION carries
  std::wstring source, description;
  std::pair<std::wstring, std::wstring> left;  // the error info the thread holds afterwards
  UINT argErr = 0xBAD;
  VARIANT result;
  Outcome() {
    VariantInit(&result);
    V_VT(&result) = VT_I4;  // a member without a result leaves it alone
    V_I4(&result) = 0x5EED;
  }
  Outcome(const Outcome&) = delete;
  ~Outcome() { VariantClear(&result); }
};

using Invoker = std::function<HRESULT(DISPID, REFIID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)>;

// The way the component's Invoke takes when it serves nothing from its tables:
// its own checks, then the type library's Invoke.
Invoker TypeLibraryWay(IDispatch* object);
void Perform(IDispatch* object, const Request& r, Outcome& out, const Invoker& invoke = nullptr);
// A value written out so that equal values read the same.
std::string Describe(const VARIANT& v);
// Everything a caller can see of a call's end.
std::string Summary(const Outcome& o);
// The results a careless call may end in: success, the standard refusals of
// IDispatch and of the system's argument coercion, or an exception; an
// exception the component raised carries its description.
::testing::AssertionResult Defined(const Outcome& o);

// --- the sweep of one object -------------------------------------------------------

struct Target {
  std::string name;
  ComPtr<IDispatch> object;
  ComPtr<IDispatch> twin;  // in the same state, called through the type library alone
  // Runs before each call, for both (for instance: a reply for a read to find).
  std::function<void(const Member&)> prepare = [](const Member&) {};
  // Runs after each call (for instance: reopen what CloseDev closed).
  std::function<void()> restore = [] {};
};

// Sweeps every member of the target; returns how many calls it made.
int Sweep(Target& target, const Objects& objects);

}  // namespace sweep
