// Packet: the command and reply record exchanged with an instrument.
#pragma once

#include "Velcorin_h.h"
#include "common/com_object.h"
#include "common/properties.h"

namespace velcorin {

class Packet final : public DispatchObject<_Packet> {
 public:
  STDMETHODIMP get_DevType(long* v) override { return GetStored(devType_, v); }
  STDMETHODIMP put_DevType(long v) override { return PutStored(devType_, v); }
  STDMETHODIMP get_Channel(long* v) override { return GetStored(channel_, v); }
  STDMETHODIMP put_Channel(long v) override { return PutStored(channel_, v); }
  STDMETHODIMP get_OpType(OpTypeEnum* v) override { return GetStored(opType_, v); }
  STDMETHODIMP put_OpType(OpTypeEnum v) override { return PutStored(opType_, v); }
  STDMETHODIMP get_OpCode(OpCodeBaseEnum* v) override { return GetStored(opCode_, v); }
  STDMETHODIMP put_OpCode(OpCodeBaseEnum v) override { return PutStored(opCode_, v); }
  STDMETHODIMP get_EndCode(EndCodeBaseEnum* v) override { return GetStored(endCode_, v); }
  STDMETHODIMP put_EndCode(EndCodeBaseEnum v) override { return PutStored(endCode_, v); }
  STDMETHODIMP get_Data(BSTR* v) override { return GetStored(data_, v); }
  STDMETHODIMP put_Data(BSTR v) override { return PutStored(data_, v); }

 private:
  long devType_ = 0;
  long channel_ = 0;
  OpTypeEnum opType_ = TypeRead;
  OpCodeBaseEnum opCode_ = CmdModel;
  EndCodeBaseEnum endCode_ = ErrOk;
  Bstr data_{L""};
};

}  // namespace velcorin
