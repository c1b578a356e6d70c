// The shaping tool's and the contract test's checked calls: each throws
// ComFailure, naming the call, where the DLL's own helpers (common/type_info.h)
// return the HRESULT.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "common/owners.h"
#include "common/type_info.h"

namespace velcorin::tlb {

using Microsoft::WRL::ComPtr;

struct ComFailure : std::runtime_error {
  ComFailure(const std::string& what, HRESULT hr) : std::runtime_error(what + " failed: 0x" + Hex(hr)), hr(hr) {}
  HRESULT hr;

 private:
  static std::string Hex(HRESULT hr) {
    char text[9];
    const auto v = static_cast<unsigned long>(hr);
    for (int i = 0; i < 8; ++i) text[i] = "0123456789ABCDEF"[(v >> (28 - 4 * i)) & 0xF];
    text[8] = 0;
    return text;
  }
};

inline void Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) throw ComFailure(what, hr);
}

template <class T>
using Desc = TypeDescription<T>;

inline Desc<TYPEATTR> GetAttr(ITypeInfo* t) {
  Desc<TYPEATTR> attr;
  Check(DescribeType(t, attr), "GetTypeAttr");
  return attr;
}

inline Desc<FUNCDESC> GetFunc(ITypeInfo* t, UINT index) {
  Desc<FUNCDESC> func;
  Check(DescribeFunction(t, index, func), "GetFuncDesc");
  return func;
}

inline Desc<VARDESC> GetVar(ITypeInfo* t, UINT index) {
  Desc<VARDESC> var;
  Check(DescribeVariable(t, index, var), "GetVarDesc");
  return var;
}

inline std::wstring NameOf(ITypeInfo* t, MEMBERID memid = MEMBERID_NIL) {
  Bstr name;
  Check(t->GetDocumentation(memid, name.put(), nullptr, nullptr, nullptr), "GetDocumentation");
  return std::wstring(name.view());
}

inline ComPtr<ITypeInfo> RefType(ITypeInfo* t, HREFTYPE href) {
  ComPtr<ITypeInfo> ref;
  Check(t->GetRefTypeInfo(href, &ref), "GetRefTypeInfo");
  return ref;
}

// The implemented type at `index`; -1 asks a dual interface for its other half.
inline ComPtr<ITypeInfo> ImplType(ITypeInfo* t, UINT index) {
  ComPtr<ITypeInfo> type;
  Check(ImplementedType(t, index, &type), "ImplementedType");
  return type;
}

inline ComPtr<ITypeInfo> VtableHalfOf(ITypeInfo* t) {
  ComPtr<ITypeInfo> half;
  Check(VtableHalf(t, &half), "VtableHalf");
  return half;
}

inline UINT IndexInLibrary(ITypeInfo* t) {
  ComPtr<ITypeLib> lib;
  UINT index = 0;
  Check(t->GetContainingTypeLib(&lib, &index), "GetContainingTypeLib");
  return index;
}

inline std::vector<std::uint8_t> ReadFileBytes(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the type library file");
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace velcorin::tlb
