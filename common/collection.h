// Collections: our own implementation of the automation runtime's `_Collection`
// (handed to callers who cannot create the runtime's), and the calls the
// component makes on any caller's collection, whatever its implementation.
#pragma once

#include <windows.h>
// windows.h first: the OLE headers rely on its types.
#include <oleauto.h>

#include <functional>

#include "Velcorin_h.h"
#include "common/com_object.h"
#include "common/raii.h"

namespace velcorin {

// A new, empty collection of ours.
ComPtr<_Collection> NewCollection();

// A self-creating collection property: a read with nothing stored creates,
// stores and returns an empty collection, so the property never reads as null.
HRESULT GetSelfCreating(ComPtr<_Collection>& field, _Collection** out);
HRESULT PutReference(ComPtr<_Collection>& field, _Collection* value);

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
