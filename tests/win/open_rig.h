// One simulated instrument, with two named channels and a password, and a
// Device that opens it: what the sweeps and the outcome tables work against.
#pragma once

#include <string>

#include "com_test_util.h"
#include "sim/sim_client.h"

inline std::string OpenRigConfig(const std::string& serial) {
  return "[i]\nserial = " + serial +
         "\nmodel = LDI-3105\nfirmware = 2.01\ntype = 0x3105\nchannels = 2\n"
         "description = Careless\nchannel1 = A\nchannel2 = B\npassword = secret\n";
}

// One simulated instrument held open by a Device.
struct OpenRig {
  velcorin::sim::SimClient sim;
  std::string serial;
  Bstr path;
  ComPtr<_Device> device = CreateByProgId<_Device>(L"Velcorin.Device");

  explicit OpenRig(const std::string& s) : sim(OpenRigConfig(s)), serial(s), path(Widened(sim.DevicePath(s))) {}
  bool Open() {
    VARIANT_BOOL opened = VARIANT_FALSE;
    return SUCCEEDED(device->OpenDev(path.get(), &opened)) && opened == VARIANT_TRUE;
  }
  void EnsureOpen() {
    if (IsOpen(device.Get())) return;
    ASSERT_TRUE(sim.WaitUntilFree(serial));
    ASSERT_TRUE(Open());
  }
  bool QueryWorks() {
    auto packet = CreateByProgId<_Packet>(L"Velcorin.Packet");
    packet->put_OpCode(CmdSerial);
    VARIANT_BOOL ok = VARIANT_FALSE;
    return device->QueryDev(packet.Get(), &ok) == S_OK && ok == VARIANT_TRUE;
  }
};
