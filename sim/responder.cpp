#include "sim/responder.h"

#include <algorithm>
#include <string>

#include "trace/core/replay_book.h"

namespace velcorin::sim {
namespace {

enum OpType : std::int32_t { kTypeRead = 1, kTypeWrite = 2 };
enum OpCode : std::int32_t {
  kCmdModel = 0,
  kCmdSerial = 1,
  kCmdFwVer = 2,
  kCmdDevType = 3,
  kCmdChanCt = 4,
  kCmdDevDesc = 6,
  kCmdPasswd = 14,
  kCmdRevert = 15,
};
enum EndCode : std::int32_t { kErrOk = 0, kErrChannel = 2, kErrOpType = 3 };

struct Header {
  std::int32_t devType, channel, opType, opCode;
};

std::int32_t LoadInt32(const std::uint8_t* bytes) {
  const std::uint32_t value = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
  return static_cast<std::int32_t>(value);
}

void StoreInt32(std::uint8_t* bytes, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

Header ReadHeader(const std::array<std::uint8_t, kRequestSize>& request) {
  return {LoadInt32(&request[0]), LoadInt32(&request[4]), LoadInt32(&request[8]), LoadInt32(&request[12])};
}

bool IsIdentityCommand(std::int32_t opCode) {
  return (opCode >= kCmdModel && opCode <= kCmdChanCt) || opCode == kCmdDevDesc;
}

// The reply echoes the request's header; only EndCode and Data are the instrument's own.
Reply MakeReply(const Header& header, std::int32_t endCode) {
  Reply reply;
  StoreInt32(&reply.bytes[0], header.devType);
  StoreInt32(&reply.bytes[4], header.channel);
  StoreInt32(&reply.bytes[8], header.opType);
  StoreInt32(&reply.bytes[12], header.opCode);
  StoreInt32(&reply.bytes[16], endCode);
  return reply;
}

void PutText(Reply& reply, const std::string& text, Padding padding) {
  const std::uint8_t fill = padding == Padding::Spaces ? ' ' : 0;
  for (std::size_t i = 0; i < kDataSize; ++i) {
    reply.bytes[kReplyDataOffset + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : fill;
  }
}

std::string RequestText(const std::array<std::uint8_t, kRequestSize>& request) {
  const auto* data = &request[kRequestDataOffset];
  const auto* end = std::find(data, data + kDataSize, std::uint8_t{0});
  return std::string(data, end);
}

}  // namespace

void Responder::StartConnection() {
  transfers_ = 0;
  randomState_ = config_.randomSeed;
}

Reply Responder::Answer(std::span<const std::uint8_t> request) {
  if (config_.replay) return Replay(request);
  std::array<std::uint8_t, kRequestSize> full{};
  std::copy_n(request.begin(), std::min(request.size(), kRequestSize), full.begin());
  ++transfers_;

  if (config_.unplugAfter == transfers_) return Reply{ReplyKind::Unplug};
  if (config_.silent || IsUnansweredChannelQuery(full)) return Reply{ReplyKind::None};
  if (config_.failTransfers.contains(transfers_)) {
    return Reply{config_.failMode == FailMode::NoReply ? ReplyKind::None : ReplyKind::Empty};
  }
  Reply reply = IsRandomTransfer() ? RandomReply() : Execute(full);
  if (config_.delayTransfers.empty() || config_.delayTransfers.contains(transfers_)) {
    reply.delayMs = config_.delayMs;
  }
  return reply;
}

Reply Responder::Replay(std::span<const std::uint8_t> request) const {
  const auto recorded = config_.replay->Answer(request);
  if (!recorded) {
    Reply silence{ReplyKind::None};
    silence.unrecorded = true;
    return silence;
  }
  switch (recorded->kind) {
    case trace::RecordedReply::Kind::Report: return Reply{ReplyKind::Report, recorded->bytes};
    case trace::RecordedReply::Kind::Empty: return Reply{ReplyKind::Empty};
    case trace::RecordedReply::Kind::None: break;
  }
  return Reply{ReplyKind::None};
}

bool Responder::IsUnansweredChannelQuery(const std::array<std::uint8_t, kRequestSize>& request) const {
  const Header header = ReadHeader(request);
  return !config_.answerChannels && header.opCode == kCmdDevDesc && header.channel != 0;
}

bool Responder::IsRandomTransfer() const {
  return config_.randomReplies && (config_.randomTransfers.empty() || config_.randomTransfers.contains(transfers_));
}

// splitmix64: the same sequence from the same seed with any compiler and library.
std::uint64_t Responder::NextRandom() {
  std::uint64_t z = (randomState_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

Reply Responder::RandomReply() {
  Reply reply;
  if (config_.randomSizes) reply.bytes.resize(NextRandom() % (kMaxRandomReplySize + 1));
  for (auto& byte : reply.bytes) byte = static_cast<std::uint8_t>(NextRandom());
  if (reply.bytes.empty()) reply.kind = ReplyKind::Empty;
  return reply;
}

Reply Responder::Execute(const std::array<std::uint8_t, kRequestSize>& request) {
  const Header header = ReadHeader(request);
  if (IsIdentityCommand(header.opCode)) {
    if (header.opType != kTypeRead) return MakeReply(header, kErrOpType);
    std::string text;
    switch (header.opCode) {
      case kCmdModel: text = config_.model; break;
      case kCmdSerial: text = config_.serial; break;
      case kCmdFwVer: text = config_.firmware; break;
      case kCmdDevType: text = config_.devTypeText.value_or(std::to_string(config_.typeCode)); break;
      case kCmdChanCt: text = config_.chanCtText.value_or(std::to_string(config_.channelCount)); break;
      default:
        if (header.channel < 0 || header.channel > config_.channelCount) return MakeReply(header, kErrChannel);
        text = header.channel == 0 ? config_.description : config_.ChannelName(header.channel);
    }
    Reply reply = MakeReply(header, kErrOk);
    PutText(reply, text, config_.padding);
    return reply;
  }
  if (header.opCode == kCmdPasswd || header.opCode == kCmdRevert) {
    if (header.opType != kTypeWrite) return MakeReply(header, kErrOpType);
    if (header.opCode == kCmdRevert) {
      calMode_ = false;
      return MakeReply(header, kErrOk);
    }
    if (RequestText(request) != config_.password) return MakeReply(header, config_.wrongPasswordCode);
    calMode_ = true;
    return MakeReply(header, kErrOk);
  }
  // Anything else is accepted and its argument handed back.
  Reply reply = MakeReply(header, kErrOk);
  std::copy_n(&request[kRequestDataOffset], kDataSize, &reply.bytes[kReplyDataOffset]);
  return reply;
}

}  // namespace velcorin::sim
