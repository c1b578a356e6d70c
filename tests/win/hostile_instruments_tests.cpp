// OpenDev, QueryDev and EnumDevices against instruments that misbehave: silent,
// late, babbling random bytes, unplugged halfway, with absurd channel counts or
// malformed numbers. Each must end in its defined outcome, within the time limit's
// bounds, without crashing. Lines starting "[ figure ]" are the measured times.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <future>
#include <optional>
#include <set>
#include <ostream>
#include <string>
#include <vector>

#include "com_test_util.h"
#include "hostile_lab.h"
#include "sim/sim_client.h"
#include "simulation/core/config.h"
#include "simulation/core/responder.h"
#include "wait_for.h"

namespace {

constexpr HRESULT kErr(long n) { return static_cast<HRESULT>(0x800A0000u + n); }
constexpr int kIdentityCommands = 6;

// A packet's six fields; the four numbers of its header and EndCode as the wire has them.
struct Fields {
  long devType = 0, channel = 0, opType = 0, opCode = 0, endCode = 0;
  std::wstring data;
  bool operator==(const Fields&) const = default;
};

void PrintTo(const Fields& f, std::ostream* out) {
  *out << f.devType << ' ' << f.channel << ' ' << f.opType << ' ' << f.opCode << ' ' << f.endCode << " [" << std::hex;
  for (wchar_t c : f.data) *out << ' ' << static_cast<unsigned>(c);
  *out << std::dec << " ]";
}

Fields FieldsOf(_Packet* packet) {
  Fields f;
  OpTypeEnum opType{};
  OpCodeBaseEnum opCode{};
  EndCodeBaseEnum endCode{};
  packet->get_DevType(&f.devType);
  packet->get_Channel(&f.channel);
  packet->get_OpType(&opType);
  packet->get_OpCode(&opCode);
  packet->get_EndCode(&endCode);
  f.opType = opType, f.opCode = opCode, f.endCode = endCode;
  Bstr data;
  packet->get_Data(data.put());
  f.data = data.view();
  return f;
}

long Int32At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  std::int32_t value = 0;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

// What the component makes of a reply block: zero-filled to 40 bytes, Data in the ANSI code page.
Fields FieldsOfReply(std::vector<std::uint8_t> block) {
  block.resize(velcorin::kReplyReportSize, 0);
  Fields f{Int32At(block, 0), Int32At(block, 4), Int32At(block, 8), Int32At(block, 12), Int32At(block, 16), {}};
  wchar_t data[velcorin::kReportDataSize] = {};
  MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(block.data() + 20), velcorin::kReportDataSize, data,
                      velcorin::kReportDataSize);
  f.data.assign(data, velcorin::kReportDataSize);
  return f;
}

ComPtr<_DevInfo> InfoOf(_Device* device) {
  ComPtr<_DevInfo> info;
  device->get_DeviceInfo(&info);
  return info;
}

ComPtr<_Device> NewDevice() { return CreateByProgId<_Device>(L"Velcorin.Device"); }

using Serials = std::vector<std::string>;

// --- no reply at all -----------------------------------------------------------

TEST(NoReply, OpenDevWaitsOutSixReadsAndFails) {
  Lab lab(Plans{{"HOSN0001", "silent = yes"}});
  auto device = NewDevice();
  const OpenOutcome open = lab.Open(device.Get(), "HOSN0001");
  EXPECT_EQ(open.hr, S_OK);
  EXPECT_FALSE(open.opened);
  EXPECT_FALSE(IsOpen(device.Get()));
  // All six are sent, each waited out; the simulator may log the last a moment after the read gave up.
  EXPECT_TRUE(WaitFor([&] { return lab.sim.RequestsOf("HOSN0001").size() >= 6u; }, 2000));
  EXPECT_EQ(lab.sim.RequestsOf("HOSN0001").size(), 6u);
  EXPECT_GE(open.seconds, kIdentityCommands * kLimit - 0.2);
  EXPECT_LT(open.seconds, kIdentityCommands * kLimit + kSlack);
  EXPECT_FALSE(ChannelNames(InfoOf(device.Get()).Get()));  // the fresh default record
  Figure("OpenDev, silent instrument", open.seconds);
}

TEST(NoReply, QueryDevTimesOutAndTheNextExchangeIsItsOwn) {
  Lab lab(Plans{{"HOSN0002", "fail_transfers = 9, 10"}});
  auto device = NewDevice();
  ASSERT_TRUE(lab.Open(device.Get(), "HOSN0002").opened);
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto packet = NewPacket(CmdFwVer);
    VARIANT_BOOL ok = VARIANT_TRUE;
    const auto start = Clock::now();
    EXPECT_EQ(device->QueryDev(packet.Get(), &ok), S_OK);
    const double seconds = SecondsSince(start);
    EXPECT_EQ(ok, VARIANT_FALSE);
    EXPECT_GE(seconds, kLimit - 0.1);
    EXPECT_LT(seconds, kLimit + kSlack);
    EXPECT_EQ(FieldsOf(packet.Get()).opCode, CmdFwVer);  // untouched
  }
  EXPECT_TRUE(IsOpen(device.Get()));
  auto packet = NewPacket(CmdSerial);
  VARIANT_BOOL ok = VARIANT_FALSE;
  EXPECT_EQ(device->QueryDev(packet.Get(), &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_TRUE);
  EXPECT_EQ(FieldsOf(packet.Get()).data.substr(0, 8), L"HOSN0002");
}

TEST(NoReply, EnumDevicesSkipsEachSilentInstrumentAfterSixReads) {
  Lab lab(Plans{{"HOSN0003", ""}, {"HOSN0004", "silent = yes"}, {"HOSN0005", "silent = yes"}});
  auto device = NewDevice();
  const Listing listing = lab.Enumerate(device.Get());
  EXPECT_EQ(listing.hr, S_OK);
  EXPECT_TRUE(listing.listed);
  EXPECT_EQ(listing.serials, Serials{"HOSN0003"});
  // Examined side by side: the two silent ones cost one's wait, not two.
  EXPECT_GE(listing.seconds, kIdentityCommands * kLimit - 0.2);
  EXPECT_LT(listing.seconds, kIdentityCommands * kLimit + kSlack);
  Figure("EnumDevices, one answering and two silent instruments", listing.seconds);
}

// --- replies after the time limit ------------------------------------------------

TEST(LateReply, EveryReplyLateFailsTheOpenWithinSixLimits) {
  Lab lab(Plans{{"HOSL0001", "delay_ms = 1500"}});
  auto device = NewDevice();
  const OpenOutcome open = lab.Open(device.Get(), "HOSL0001");
  EXPECT_EQ(open.hr, S_OK);
  EXPECT_FALSE(open.opened);
  EXPECT_FALSE(IsOpen(device.Get()));
  EXPECT_LT(open.seconds, kIdentityCommands * kLimit + kSlack);
}

// The channel 1 reply comes late: channel 2's read takes it, channel 3's takes channel 2's,
// and channel 3's own reply waits for the client's next read.
TEST(LateReply, ALateChannelReplyShiftsTheNamesAndIsReadNext) {
  Lab lab(Plans{{"HOSL0002", "channels = 3\nchannel3 = Laser C\ndelay_ms = 1300\ndelay_transfers = 7"}});
  auto device = NewDevice();
  const OpenOutcome open = lab.Open(device.Get(), "HOSL0002");
  ASSERT_TRUE(open.opened);
  EXPECT_LT(open.seconds, kLimit + kSlack);
  EXPECT_EQ(ChannelNames(InfoOf(device.Get()).Get()), (std::vector<std::wstring>{L"", L"Laser A", L"Laser B"}));

  auto packet = NewPacket(CmdSerial);
  VARIANT_BOOL ok = VARIANT_FALSE;
  ASSERT_EQ(device->QueryDev(packet.Get(), &ok), S_OK);
  ASSERT_EQ(ok, VARIANT_TRUE);
  Fields stale = FieldsOf(packet.Get());
  EXPECT_EQ(stale.opCode, CmdDevDesc);
  EXPECT_EQ(stale.channel, 3);
  EXPECT_EQ(stale.data.substr(0, 7), L"Laser C");
  ASSERT_EQ(device->ReadDev(packet.Get(), &ok), S_OK);  // the careful client drains
  ASSERT_EQ(ok, VARIANT_TRUE);
  EXPECT_EQ(FieldsOf(packet.Get()).data.substr(0, 8), L"HOSL0002");
  const auto start = Clock::now();
  EXPECT_EQ(device->ReadDev(packet.Get(), &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_FALSE);  // nothing more is queued
  EXPECT_LT(SecondsSince(start), kLimit + kSlack);
}

TEST(LateReply, EnumDevicesSkipsALateInstrument) {
  Lab lab(Plans{{"HOSL0003", "delay_ms = 1500"}, {"HOSL0004", ""}});
  auto device = NewDevice();
  const Listing listing = lab.Enumerate(device.Get());
  EXPECT_EQ(listing.hr, S_OK);
  EXPECT_TRUE(listing.listed);
  EXPECT_EQ(listing.serials, Serials{"HOSL0004"});
  EXPECT_LT(listing.seconds, kIdentityCommands * kLimit + kSlack);
}

// --- replies of random bytes -------------------------------------------------------

std::string TransferList(int first, int count) {
  std::string list;
  for (int i = first; i < first + count; ++i) {
    if (!list.empty()) list += ',';
    list += std::to_string(i);
  }
  return list;
}

// The instrument's own firmware, run here with the same configuration, predicts its replies.
struct Predictor {
  velcorin::sim::InstrumentConfig config;
  velcorin::sim::Responder responder{config};

  explicit Predictor(const std::string& configText) : config(velcorin::sim::ParseConfig(configText).at(0)) {}
  velcorin::sim::Reply Next() { return responder.Answer(std::vector<std::uint8_t>(velcorin::kCommandReportSize)); }
};

TEST(RandomReplies, QueryDevTakesWhateverComesBack) {
  const Plan plan{"HOSR0001", "random_replies = yes\nrandom_seed = 11\nrandom_transfers = " + TransferList(9, 100)};
  Lab lab(Plans{plan});
  Predictor predict(ConfigOf({plan}));
  auto device = NewDevice();
  ASSERT_TRUE(lab.Open(device.Get(), plan.serial).opened);
  for (int i = 0; i < 8; ++i) predict.Next();  // the identity query's exchanges
  for (int i = 0; i < 100; ++i) {
    auto packet = NewPacket(CmdModel);
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(device->QueryDev(packet.Get(), &ok), S_OK);
    ASSERT_EQ(ok, VARIANT_TRUE) << i;
    EXPECT_EQ(FieldsOf(packet.Get()), FieldsOfReply(predict.Next().bytes)) << "exchange " << i;
  }
}

// The client's end of the instrument's pipe reads bytes, not messages, as a device handle
// would: a read takes the next 1 to 40 bytes that the instrument sent, whatever their
// replies. Which count exactly cannot always be told (bytes 37-39 are no field), so every
// position that fits the packets seen so far is followed.
class SentBytes {
 public:
  void Append(const std::vector<std::uint8_t>& reply) { sent_.insert(sent_.end(), reply.begin(), reply.end()); }

  // False when no run of the unread bytes, zero-filled, gives these fields.
  bool Consume(const Fields& got) {
    std::set<std::size_t> next;
    for (std::size_t at : readUpTo_) {
      for (std::size_t n = 1; n <= velcorin::kReplyReportSize && at + n <= sent_.size(); ++n) {
        const std::vector<std::uint8_t> run(sent_.begin() + at, sent_.begin() + at + n);
        if (FieldsOfReply(run) == got) next.insert(at + n);
      }
    }
    readUpTo_ = std::move(next);
    return !readUpTo_.empty();
  }

 private:
  std::vector<std::uint8_t> sent_;
  std::set<std::size_t> readUpTo_{0};
};

// Replies of 0 to 80 bytes: each read delivers the next bytes in order, zero-filled, or
// fails and leaves the packet alone; none waits beyond the limit.
TEST(RandomReplies, EmptyShortAndOverlongRepliesAreReadInOrder) {
  const Plan plan{"HOSR0002", "random_replies = yes\nrandom_sizes = yes\nrandom_seed = 5\nrandom_transfers = " +
                                  TransferList(9, 300)};
  Lab lab(Plans{plan});
  Predictor predict(ConfigOf({plan}));
  auto device = NewDevice();
  ASSERT_TRUE(lab.Open(device.Get(), plan.serial).opened);
  for (int i = 0; i < 8; ++i) predict.Next();
  SentBytes stream;
  int failed = 0;
  for (int i = 0; i < 300; ++i) {
    stream.Append(predict.Next().bytes);
    auto packet = NewPacket(CmdModel);
    const Fields before = FieldsOf(packet.Get());
    VARIANT_BOOL ok = VARIANT_FALSE;
    const auto start = Clock::now();
    ASSERT_EQ(device->QueryDev(packet.Get(), &ok), S_OK);
    ASSERT_LT(SecondsSince(start), kLimit + kSlack) << "exchange " << i;
    if (ok == VARIANT_TRUE) {
      ASSERT_TRUE(stream.Consume(FieldsOf(packet.Get()))) << "exchange " << i << " read bytes out of order";
    } else {
      EXPECT_EQ(FieldsOf(packet.Get()), before) << "exchange " << i;
      ++failed;
    }
  }
  printf("[ figure ] %d of 300 random-size replies failed the read\n", failed);
}

TEST(RandomReplies, OpenDevAndEnumDevicesEndInADefinedOutcome) {
  std::vector<Plan> plans = {{"HOSR0100", ""}};
  for (int seed = 1; seed <= 4; ++seed) {
    plans.push_back({"HOSR010" + std::to_string(seed), "random_replies = yes\nrandom_seed = " + std::to_string(seed)});
    plans.push_back({"HOSR020" + std::to_string(seed),
                     "random_replies = yes\nrandom_sizes = yes\nrandom_seed = " + std::to_string(seed)});
  }
  // Random channel replies only: the identity is good, the names are noise.
  plans.push_back({"HOSR0300", "random_replies = yes\nrandom_transfers = 7, 8"});
  Lab lab(plans);
  Serials opened;
  for (const Plan& plan : plans) {
    auto device = NewDevice();
    OpenOutcome first = lab.Open(device.Get(), plan.serial);
    device->CloseDev();
    TakeErrorInfo();
    ASSERT_TRUE(lab.sim.WaitUntilFree(plan.serial));
    OpenOutcome second = lab.Open(device.Get(), plan.serial);
    device->CloseDev();
    TakeErrorInfo();
    ASSERT_TRUE(lab.sim.WaitUntilFree(plan.serial));
    const bool defined = (first.hr == S_OK) || first.hr == kErr(6) || first.hr == kErr(9) || first.hr == kErr(13);
    EXPECT_TRUE(defined) << plan.serial << std::hex << " hr " << first.hr;
    EXPECT_EQ(first.hr, second.hr) << plan.serial << ": the same seed, the same outcome";
    EXPECT_EQ(first.opened, second.opened) << plan.serial;
    EXPECT_LT(first.seconds, kIdentityCommands * kLimit + kSlack) << plan.serial;
    if (first.opened) opened.push_back(plan.serial);
  }
  EXPECT_NE(std::find(opened.begin(), opened.end(), "HOSR0100"), opened.end());
  EXPECT_NE(std::find(opened.begin(), opened.end(), "HOSR0300"), opened.end());
  auto device = NewDevice();
  const Listing listing = lab.Enumerate(device.Get());
  EXPECT_EQ(listing.hr, S_OK);
  EXPECT_TRUE(listing.listed);
  std::sort(opened.begin(), opened.end());
  EXPECT_EQ(listing.serials, opened);  // exactly those that open
}

// --- unplugged halfway ---------------------------------------------------------------

TEST(Unplugged, MidIdentityQueryTheOpenFailsAtOnce) {
  for (int after : {1, 3, 6}) {
    const std::string serial = "HOSU000" + std::to_string(after);
    Lab lab(Plans{{serial, "unplug_after = " + std::to_string(after)}});
    auto device = NewDevice();
    const OpenOutcome open = lab.Open(device.Get(), serial);
    EXPECT_EQ(open.hr, S_OK) << after;
    EXPECT_FALSE(open.opened) << after;
    EXPECT_FALSE(IsOpen(device.Get())) << after;
    EXPECT_LT(open.seconds, kLimit + kSlack) << after << ": a broken handle fails at once";
    // The simulator takes the interface away a moment after it drops the connection.
    EXPECT_TRUE(WaitFor([&] { return lab.sim.DevicePath(serial).empty(); })) << after;
    ASSERT_TRUE(lab.sim.Plug(serial));  // back, and it unplugs itself again
    EXPECT_FALSE(lab.Open(device.Get(), serial).opened) << after;
  }
}

TEST(Unplugged, DuringTheChannelWalkTheOpenSucceedsWithoutNames) {
  Lab lab(Plans{{"HOSU0007", "unplug_after = 7"}});
  auto device = NewDevice();
  const OpenOutcome open = lab.Open(device.Get(), "HOSU0007");
  ASSERT_TRUE(open.opened);  // the six identity commands were answered
  EXPECT_LT(open.seconds, kLimit + kSlack);
  auto info = InfoOf(device.Get());
  EXPECT_EQ(TextOf(info.Get(), &_DevInfo::get_ModelNumber), L"M-HOSU0007");
  EXPECT_EQ(ChannelNames(info.Get()), (std::vector<std::wstring>{L"", L""}));
  auto packet = NewPacket(CmdModel);
  VARIANT_BOOL ok = VARIANT_TRUE;
  const auto start = Clock::now();
  EXPECT_EQ(device->QueryDev(packet.Get(), &ok), S_OK);
  EXPECT_EQ(ok, VARIANT_FALSE);
  EXPECT_LT(SecondsSince(start), kLimit);
  EXPECT_TRUE(IsOpen(device.Get()));  // until CloseDev
  EXPECT_EQ(device->CloseDev(), S_OK);
}

TEST(Unplugged, AnInstrumentThatUnplugsItselfDropsOutOfTheEnumeration) {
  Lab lab(
      Plans{{"HOSU0010", ""}, {"HOSU0011", "unplug_after = 1"}, {"HOSU0012", "unplug_after = 4"}, {"HOSU0013", ""}});
  auto device = NewDevice();
  const Listing listing = lab.Enumerate(device.Get());
  EXPECT_EQ(listing.hr, S_OK);
  EXPECT_TRUE(listing.listed);
  EXPECT_EQ(listing.serials, (Serials{"HOSU0010", "HOSU0013"}));
  EXPECT_LT(listing.seconds, kLimit + kSlack);
  EXPECT_EQ(lab.Enumerate(device.Get()).serials, (Serials{"HOSU0010", "HOSU0013"}));
}

// A test thread unplugs the first instrument asked, and another, while they are examined.
TEST(Unplugged, UnpluggedFromOutsideWhileEnumDevicesRuns) {
  const std::vector<Plan> plans = {
      {"HOSU0020", "delay_ms = 200"}, {"HOSU0021", "delay_ms = 200"}, {"HOSU0022", "delay_ms = 200"}};
  Lab lab(plans);
  auto unplugger = std::async(std::launch::async, [&]() -> Serials {
    const auto start = Clock::now();
    while (SecondsSince(start) < 10) {
      const auto requests = lab.sim.Requests();
      if (requests.empty()) {
        Sleep(5);
        continue;
      }
      const std::string first = requests.front().serial;
      Serials untouched;
      for (const Plan& plan : plans) {
        if (plan.serial != first) untouched.push_back(plan.serial);
      }
      if (!lab.sim.Unplug(first) || !lab.sim.Unplug(untouched.back())) return {};
      return {untouched.front()};
    }
    return {};
  });
  auto device = NewDevice();
  const Listing listing = lab.Enumerate(device.Get());
  const Serials left = unplugger.get();
  ASSERT_EQ(left.size(), 1u) << "the test thread did not get to unplug";
  EXPECT_EQ(listing.hr, S_OK);
  EXPECT_TRUE(listing.listed);
  EXPECT_EQ(listing.serials, left);
  EXPECT_LT(listing.seconds, 2 * 8 * 0.2 + kSlack);
}

// --- 32767 channels ----------------------------------------------------------------

TEST(ManyChannels, ThirtyTwoThousandAnsweredChannelsAreAllAsked) {
  Lab lab(Plans{{"HOSC0001", "channels = 32767"}});
  auto device = NewDevice();
  const OpenOutcome open = lab.Open(device.Get(), "HOSC0001");
  ASSERT_TRUE(open.opened);
  Figure("OpenDev, 32767 answered channels", open.seconds);
  const auto names = ChannelNames(InfoOf(device.Get()).Get());
  ASSERT_TRUE(names);
  ASSERT_EQ(names->size(), 32767u);
  EXPECT_EQ(names->front(), L"Laser A");
  EXPECT_EQ(names->back(), L"Channel 32767");
  EXPECT_EQ(lab.sim.RequestsOf("HOSC0001").size(), 6u + 32767u);
  device->CloseDev();
  ASSERT_TRUE(lab.sim.WaitUntilFree("HOSC0001"));

  const Listing listing = lab.Enumerate(device.Get());
  EXPECT_EQ(listing.serials, Serials{"HOSC0001"});
  Figure("EnumDevices, one instrument of 32767 answered channels", listing.seconds);
}

TEST(ManyChannels, UnansweredChannelsStopAfterThreeFailures) {
  Lab lab(Plans{{"HOSC0002", "channels = 32767\nanswer_channels = no"}, {"HOSC0003", ""}});
  auto device = NewDevice();
  const OpenOutcome open = lab.Open(device.Get(), "HOSC0002");
  ASSERT_TRUE(open.opened);
  EXPECT_TRUE(WaitFor([&] { return lab.sim.RequestsOf("HOSC0002").size() >= 6u + 3u; }, 2000));
  EXPECT_EQ(lab.sim.RequestsOf("HOSC0002").size(), 6u + 3u);
  EXPECT_GE(open.seconds, 3 * kLimit - 0.1);
  EXPECT_LT(open.seconds, 3 * kLimit + kSlack);
  EXPECT_EQ(ChannelNames(InfoOf(device.Get()).Get())->size(), 32767u);
  Figure("OpenDev, 32767 channels that never answer", open.seconds);
  device->CloseDev();
  ASSERT_TRUE(lab.sim.WaitUntilFree("HOSC0002"));

  const Listing listing = lab.Enumerate(device.Get());
  EXPECT_EQ(listing.serials, (Serials{"HOSC0002", "HOSC0003"}));
  EXPECT_LT(listing.seconds, 3 * kLimit + kSlack);
  Figure("EnumDevices, 32767 channels that never answer and one good instrument", listing.seconds);
}

// Only three failures in a row end the walk: an instrument that answers every third
// channel keeps it going, one time limit per silent channel (up to 32767 of them).
TEST(ManyChannels, FailuresThatNeverRunToThreeKeepTheWalkGoing) {
  Lab lab(Plans{{"HOSC0004", "channels = 6\nchannel3 = C\nchannel6 = F\nfail_transfers = 7, 8, 10, 11"}});
  auto device = NewDevice();
  const OpenOutcome open = lab.Open(device.Get(), "HOSC0004");
  ASSERT_TRUE(open.opened);
  EXPECT_EQ(ChannelNames(InfoOf(device.Get()).Get()), (std::vector<std::wstring>{L"", L"", L"C", L"", L"", L"F"}));
  EXPECT_GE(open.seconds, 4 * kLimit - 0.1);
  EXPECT_LT(open.seconds, 4 * kLimit + kSlack);
}

// --- malformed numbers ---------------------------------------------------------------

struct NumberCase {
  const char* text;  // as the sim config quotes it
  const char* padding;
  HRESULT asType;  // OpenDev's result with this text as the type code
  long productId;
  HRESULT asCount;  // ... as the channel count
  long channelCount;
};

// Spaces around, a sign, leading zeros and a zero byte after the digits are fine; anything
// else is a type mismatch, a number beyond 32 bits an overflow. A count must be 0..32767.
const NumberCase kNumbers[] = {
    {"\"  12  \"", "spaces", S_OK, 12, S_OK, 12},
    {"+7", "spaces", S_OK, 7, S_OK, 7},
    {"-7", "spaces", S_OK, -7, kErr(9), -7},
    {"0007", "spaces", S_OK, 7, S_OK, 7},
    {"00000000000000003", "spaces", S_OK, 3, S_OK, 3},
    {"-0", "spaces", S_OK, 0, S_OK, 0},
    {"2147483647", "spaces", S_OK, 2147483647, kErr(6), 2147483647},
    {"2147483648", "spaces", kErr(6), 0, kErr(6), 0},
    {"-2147483648", "spaces", S_OK, -2147483647 - 1, kErr(9), -2147483647 - 1},
    {"-2147483649", "spaces", kErr(6), 0, kErr(6), 0},
    {"99999999999999999", "spaces", kErr(6), 0, kErr(6), 0},
    {"32768", "spaces", S_OK, 32768, kErr(6), 32768},
    {"\"5\\0xyz\"", "spaces", S_OK, 5, S_OK, 5},
    {"abc", "spaces", kErr(13), 0, kErr(13), 0},
    {"12a", "spaces", kErr(13), 0, kErr(13), 0},
    {"\"1 2\"", "spaces", kErr(13), 0, kErr(13), 0},
    {"\"\\x095\"", "spaces", kErr(13), 0, kErr(13), 0},
    {"0x10", "spaces", kErr(13), 0, kErr(13), 0},
    {"1.0", "spaces", kErr(13), 0, kErr(13), 0},
    {"+", "spaces", kErr(13), 0, kErr(13), 0},
    {"\"- 5\"", "spaces", kErr(13), 0, kErr(13), 0},
    {"\"\"", "spaces", kErr(13), 0, kErr(13), 0},
    {"\"\"", "zeros", kErr(13), 0, kErr(13), 0},
};

TEST(Numbers, AsTypeCodeAndAsChannelCount) {
  std::vector<Plan> plans;
  for (std::size_t i = 0; i < std::size(kNumbers); ++i) {
    const NumberCase& c = kNumbers[i];
    const std::string padding = std::string("\npadding = ") + c.padding;
    plans.push_back({"HOST" + std::to_string(100 + i), std::string("devtype_text = ") + c.text + padding});
    plans.push_back({"HOSK" + std::to_string(100 + i), std::string("chanct_text = ") + c.text + padding});
  }
  Lab lab(plans);
  Serials opened;
  for (std::size_t i = 0; i < std::size(kNumbers); ++i) {
    const NumberCase& c = kNumbers[i];
    for (bool asType : {true, false}) {
      const std::string serial = (asType ? "HOST" : "HOSK") + std::to_string(100 + i);
      const std::string what = serial + (asType ? " type " : " count ") + c.text + " " + c.padding;
      auto device = NewDevice();
      const OpenOutcome open = lab.Open(device.Get(), serial);
      const HRESULT expected = asType ? c.asType : c.asCount;
      EXPECT_EQ(open.hr, expected) << what;
      EXPECT_EQ(open.opened, expected == S_OK) << what;
      EXPECT_EQ(IsOpen(device.Get()), expected == S_OK) << what;
      EXPECT_EQ(TakeErrorInfo().second.empty(), expected == S_OK) << what;
      EXPECT_LT(open.seconds, kLimit + kSlack) << what;
      auto info = InfoOf(device.Get());
      EXPECT_EQ(LongOf(info.Get(), &_DevInfo::get_ProductID), asType ? c.productId : 0x3001) << what;
      EXPECT_EQ(LongOf(info.Get(), &_DevInfo::get_ChannelCount), asType ? (expected == S_OK ? 2 : 0) : c.channelCount)
          << what;
      if (expected == S_OK) {
        EXPECT_EQ(ChannelNames(info.Get())->size(), static_cast<std::size_t>(asType ? 2 : c.channelCount)) << what;
        opened.push_back(serial);
      }
      device->CloseDev();
    }
  }
  auto device = NewDevice();
  const Listing listing = lab.Enumerate(device.Get());
  EXPECT_EQ(listing.hr, S_OK);
  std::sort(opened.begin(), opened.end());
  EXPECT_EQ(listing.serials, opened);  // those that open, and no others
}

}  // namespace
