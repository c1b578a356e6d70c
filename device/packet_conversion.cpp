#include "device/packet_conversion.h"

#include "common/error_info.h"
#include "common/owners.h"

namespace velcorin {

// The portable core's codes are the library's constants.
#define VELCORIN_SAME_AS_LIBRARY(name, value) \
  static_assert(codes::name == (value) && codes::name == ::name, #name " differs from the type library");
VELCORIN_PACKET_CODES(VELCORIN_SAME_AS_LIBRARY)
#undef VELCORIN_SAME_AS_LIBRARY

ComPtr<_Packet> AsPacket(_Packet* pkt) {
  if (!pkt) Raise(kErrObjectNotSet);
  ComPtr<_Packet> packet;
  if (FAILED(pkt->QueryInterface(IID_PPV_ARGS(&packet)))) Raise(kErrTypeMismatch);
  return packet;
}

PacketFields ReadPacket(_Packet* pkt) {
  ComPtr<_Packet> packet = AsPacket(pkt);
  PacketFields fields;
  long value = 0;
  ThrowIfFailed(packet->get_DevType(&value)), fields.devType = value;
  ThrowIfFailed(packet->get_Channel(&value)), fields.channel = value;
  OpTypeEnum opType{};
  ThrowIfFailed(packet->get_OpType(&opType)), fields.opType = opType;
  OpCodeBaseEnum opCode{};
  ThrowIfFailed(packet->get_OpCode(&opCode)), fields.opCode = opCode;
  Bstr data;
  ThrowIfFailed(packet->get_Data(data.put()));
  fields.data.assign(reinterpret_cast<const char16_t*>(data.view().data()), data.length());
  return fields;
}

void StorePacket(_Packet* pkt, const PacketFields& fields) {
  ThrowIfFailed(pkt->put_DevType(fields.devType));
  ThrowIfFailed(pkt->put_Channel(fields.channel));
  ThrowIfFailed(pkt->put_OpType(static_cast<OpTypeEnum>(fields.opType)));
  ThrowIfFailed(pkt->put_OpCode(static_cast<OpCodeBaseEnum>(fields.opCode)));
  ThrowIfFailed(pkt->put_EndCode(static_cast<EndCodeBaseEnum>(fields.endCode)));
  Bstr data(std::wstring_view(reinterpret_cast<const wchar_t*>(fields.data.data()), fields.data.size()));
  ThrowIfFailed(pkt->put_Data(data.get()));
}

}  // namespace velcorin
