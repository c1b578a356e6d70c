// The calls the component makes on a caller's collection, whatever its
// implementation (the runtime's, ours, a script's own).
#pragma once

#include <windows.h>
// windows.h first: the OLE headers rely on its types.
#include <oleauto.h>

#include <functional>

#include "common/com_object.h"
#include "common/owners.h"

namespace velcorin {

// A caller's collection, used only through the runtime's DISPIDs so that any
// implementation works. A null reference is error 91.
class CollectionRef {
 public:
  explicit CollectionRef(IUnknown* collection);

  long Count() const;
  void RemoveFirst() const;
  void Add(const VARIANT& item) const;
  void Add(IDispatch* item) const;
  // Calls visit for every item in order; visit returns false to stop early.
  void ForEach(const std::function<bool(const VARIANT&)>& visit) const;

 private:
  Variant Call(DISPID member, WORD flags, VARIANT* args, UINT count) const;
  ComPtr<IDispatch> dispatch_;
};

}  // namespace velcorin
