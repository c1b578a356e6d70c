// Moving a caller's Packet to and from the plain fields the reports are made
// of. The caller's object is reached through _Packet only after asking for it,
// so an object of another class is refused instead of being called blindly.
#pragma once

#include "Velcorin_h.h"
#include "common/com_object.h"
#include "wire/packet_fields.h"

namespace velcorin {

// Error 91 for a null packet, 13 for an object that is not a Packet.
ComPtr<_Packet> AsPacket(_Packet* pkt);
PacketFields ReadPacket(_Packet* pkt);
// Assigns all six properties in the reply's order.
void StorePacket(_Packet* pkt, const PacketFields& fields);

}  // namespace velcorin
