// The identity query over an instrument whose answers come from the fuzz
// input: each exchange takes one byte (odd: fails) and then up to 40 reply
// bytes. When the input runs out, every further exchange fails.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/runtime_error.h"
#include "device/core/identity.h"
#include "wire/report.h"

using namespace velcorin;

namespace {

class FuzzedPort : public PacketPort {
 public:
  FuzzedPort(const std::uint8_t* data, std::size_t size) : data_(data), left_(size) {}
  std::size_t exchanges = 0;

  bool Query(PacketFields& packet) override {
    ++exchanges;
    if (left_ == 0 || (Take(1)[0] & 1) != 0) return false;
    ReplyReport reply{};
    const std::size_t count = std::min(left_, reply.size());
    std::copy_n(Take(count), count, reply.begin());
    ApplyReplyReport(reply, packet, Latin1DecodeBytes);
    return true;
  }

 private:
  const std::uint8_t* Take(std::size_t count) {
    const std::uint8_t* at = data_;
    data_ += count;
    left_ -= count;
    return at;
  }
  const std::uint8_t* data_;
  std::size_t left_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedPort port(data, size);
  Identity id;
  try {
    const bool ok = QueryDeviceInfo(port, id);
    if (!ok && (id.modelNumber || port.exchanges != 6)) std::abort();
    if (ok && (!id.channelNames || id.channelNames->size() != static_cast<std::size_t>(*id.channelCount))) std::abort();
  } catch (const RuntimeError& e) {
    if (id.channelNames || !id.firmwareVersion) std::abort();
    if (e.number == kErrSubscript && !(id.channelCount && *id.channelCount < 0)) std::abort();
  }
  // Input of n bytes answers at most n exchanges; three failures end the walk.
  if (port.exchanges > 6 + size + 3) std::abort();
  return 0;
}
