#include "common/slot_call.h"

namespace velcorin {

namespace {

using Word = std::uintptr_t;
using Call0 = HRESULT(STDMETHODCALLTYPE*)(void*);
using Call1 = HRESULT(STDMETHODCALLTYPE*)(void*, Word);
using Call2 = HRESULT(STDMETHODCALLTYPE*)(void*, Word, Word);
using Call3 = HRESULT(STDMETHODCALLTYPE*)(void*, Word, Word, Word);
using Call4 = HRESULT(STDMETHODCALLTYPE*)(void*, Word, Word, Word, Word);

template <class Fn>
Fn SlotOf(void* object, unsigned slot) {
  void* const* vtable = *static_cast<void* const* const*>(object);
  return reinterpret_cast<Fn>(vtable[slot]);
}

}  // namespace

HRESULT CallSlot(void* object, unsigned slot, const Word* a, unsigned count) {
  switch (count) {
    case 0: return SlotOf<Call0>(object, slot)(object);
    case 1: return SlotOf<Call1>(object, slot)(object, a[0]);
    case 2: return SlotOf<Call2>(object, slot)(object, a[0], a[1]);
    case 3: return SlotOf<Call3>(object, slot)(object, a[0], a[1], a[2]);
    case 4: return SlotOf<Call4>(object, slot)(object, a[0], a[1], a[2], a[3]);
    default: return E_INVALIDARG;
  }
}

}  // namespace velcorin
