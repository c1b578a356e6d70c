// A caller's collection that answers IDispatch but not _Collection: one from
// another apartment (where no marshaller serves that interface) or a script's
// own class. Its Count, Item, Add and Remove are called by name.
#pragma once

#include <windows.h>
// windows.h first: the OLE headers rely on its types.
#include <oleauto.h>

#include "Velcorin_h.h"
#include "common/com_object.h"

namespace velcorin {

// The object as a _Collection: itself when it answers that interface, else a
// stand-in that drives it through IDispatch. Null when it is neither: no
// IDispatch, or no Count.
ComPtr<_Collection> AsCollection(IUnknown* object);

}  // namespace velcorin
