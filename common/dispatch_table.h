// Late binding from tables built once per interface from the type library:
// names to DISPIDs, and members of the common shapes called straight through
// the vtable. Whatever a table does not serve goes, untouched, the type
// library's way (TypeLibInvoke, DispGetIDsOfNames), which also decides every
// refusal: a member declined here has not been called and no argument has
// been touched.
//
// The path of a late-bound call, e.g. Packet.Channel:
//   DispatchObject::GetIDsOfNames   com_object.h: refuses another riid, null names
//     DispatchTable::GetIDsOfNames  the name, then each parameter name, in a NameTable
//                                   (core/name_table.h): one pass, one probe
//       falls back to DispGetIDsOfNames for a name not held (another character,
//       another member) and for more than eight names
//   DispatchObject::Invoke          refuses another riid and a malformed DISPPARAMS
//                                   (type_library_invoke.h), clears the error info
//     DispatchTable::Invoke         the member the flags ask for (Find); if its shape
//                                   was described (Describe) and the call is plain
//                                   (positional; a put named as a put), each argument is
//                                   converted (Argument) and the slot called (slot_call.h)
//       falls back to TypeLibInvoke (type_library_invoke.h) for any other member or call,
//       and for an argument that would not convert here exactly as there; it checks
//       object arguments, then calls ITypeInfo::Invoke on the vtable half (module.h)
// The tables and the type information come from the DLL's own library (module.h),
// read through common/type_info.h.
#pragma once

#include <windows.h>
// windows.h first: the OLE headers rely on its types.
#include <oaidl.h>

#include <cstdint>
#include <vector>

#include "common/core/name_table.h"

namespace velcorin {

class DispatchTable {
 public:
  // Never fails: a table that cannot be built serves nothing itself.
  explicit DispatchTable(REFIID iid) noexcept;
  DispatchTable(const DispatchTable&) = delete;
  DispatchTable& operator=(const DispatchTable&) = delete;

  // names and ids are not null, nor is any name.
  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) const noexcept;
  // `object` is the interface pointer the table was built for; params is well formed.
  HRESULT Invoke(void* object, DISPID id, WORD flags, DISPPARAMS& params, VARIANT* result, EXCEPINFO* exception,
                 UINT* badArgument) const noexcept;

  struct Param {
    VARTYPE vt = VT_EMPTY;  // what the argument becomes: VT_I4, VT_BSTR, VT_DISPATCH, ...
    IID iid{};              // for an object: the interface the parameter takes
  };
  struct Member {
    DISPID id = DISPID_UNKNOWN;
    WORD invokeKind = 0;
    unsigned slot = 0;
    bool direct = false;        // of a shape called here; otherwise the type library's way
    std::vector<Param> params;  // those a caller passes, in order
    VARTYPE result = VT_EMPTY;  // the retval's type; VT_EMPTY without one
  };
  struct NamedMember {
    DISPID id = DISPID_UNKNOWN;
    NameTable params;  // parameter names the platform accepts after the member's name
  };

 private:
  void Build();
  void AddNames(ITypeInfo* dispatch, ITypeInfo* declaring);
  const Member* Find(DISPID id, WORD flags) const;
  HRESULT CallDirect(const Member& member, void* object, const DISPPARAMS& params, VARIANT* result,
                     EXCEPINFO* exception) const;
  HRESULT SlowGetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) const;

  IID iid_;
  std::vector<Member> members_;  // in the type information's order: the first that fits a call is its target
  NameTable names_;              // name -> index in named_
  std::vector<NamedMember> named_;
};

}  // namespace velcorin
