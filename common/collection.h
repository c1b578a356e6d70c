// Our own implementation of the automation runtime's `_Collection`, handed to
// callers who cannot create the runtime's. A caller's collection, whatever its
// implementation, is driven through collection_ref.h.
#pragma once

#include <windows.h>
// windows.h first: the OLE headers rely on its types.
#include <oleauto.h>

#include "Velcorin_h.h"
#include "common/com_object.h"

namespace velcorin {

// A new, empty collection of ours.
ComPtr<_Collection> NewCollection();

// A self-creating collection property: a read with nothing stored creates,
// stores and returns an empty collection, so the property never reads as null.
HRESULT GetSelfCreating(ComPtr<_Collection>& field, _Collection** out);
HRESULT PutReference(ComPtr<_Collection>& field, _Collection* value);

}  // namespace velcorin
