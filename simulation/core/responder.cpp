#include "simulation/core/responder.h"

#include <algorithm>
#include <string>

#include "wire/codes.h"
#include "simulation/core/replay_book.h"

namespace velcorin::sim {
namespace {

using namespace codes;

struct Header {
  std::int32_t devType, channel, opType, opCode;
};

Header ReadHeader(const CommandReport& request) {
  return {LoadInt32(&request[0]), LoadInt32(&request[4]), LoadInt32(&request[8]), LoadInt32(&request[kOpCodeOffset])};
}

bool IsIdentityCommand(std::int32_t opCode) {
  return (opCode >= CmdModel && opCode <= CmdChanCt) || opCode == CmdDevDesc;
}

// The reply echoes the request's header; only EndCode and Data are the instrument's own.
Reply MakeReply(const Header& header, std::int32_t endCode) {
  Reply reply;
  StoreInt32(&reply.bytes[0], header.devType);
  StoreInt32(&reply.bytes[4], header.channel);
  StoreInt32(&reply.bytes[8], header.opType);
  StoreInt32(&reply.bytes[kOpCodeOffset], header.opCode);
  StoreInt32(&reply.bytes[kEndCodeOffset], endCode);
  return reply;
}

void PutText(Reply& reply, const std::string& text, Padding padding) {
  const std::uint8_t fill = padding == Padding::Spaces ? ' ' : 0;
  for (std::size_t i = 0; i < kReportDataSize; ++i) {
    reply.bytes[kReplyDataOffset + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : fill;
  }
}

std::string RequestText(const CommandReport& request) {
  const auto* data = &request[kCommandDataOffset];
  const auto* end = std::find(data, data + kReportDataSize, std::uint8_t{0});
  return std::string(data, end);
}

}  // namespace

void Responder::StartConnection() {
  transfers_ = 0;
  randomState_ = config_.randomSeed;
}

Reply Responder::Answer(std::span<const std::uint8_t> request) {
  if (config_.replay) return Replay(request);
  CommandReport full{};
  std::copy_n(request.begin(), std::min(request.size(), kCommandReportSize), full.begin());
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
    case RecordedReply::Kind::Report: return Reply{ReplyKind::Report, recorded->bytes};
    case RecordedReply::Kind::Empty: return Reply{ReplyKind::Empty};
    case RecordedReply::Kind::None: break;
  }
  return Reply{ReplyKind::None};
}

bool Responder::IsUnansweredChannelQuery(const CommandReport& request) const {
  const Header header = ReadHeader(request);
  return !config_.answerChannels && header.opCode == CmdDevDesc && header.channel != 0;
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

Reply Responder::Execute(const CommandReport& request) {
  const Header header = ReadHeader(request);
  if (IsIdentityCommand(header.opCode)) {
    if (header.opType != TypeRead) return MakeReply(header, ErrOpType);
    std::string text;
    switch (header.opCode) {
      case CmdModel: text = config_.model; break;
      case CmdSerial: text = config_.serial; break;
      case CmdFwVer: text = config_.firmware; break;
      case CmdDevType: text = config_.devTypeText.value_or(std::to_string(config_.typeCode)); break;
      case CmdChanCt: text = config_.chanCtText.value_or(std::to_string(config_.channelCount)); break;
      default:
        if (header.channel < 0 || header.channel > config_.channelCount) return MakeReply(header, ErrChannel);
        text = header.channel == 0 ? config_.description : config_.ChannelName(header.channel);
    }
    Reply reply = MakeReply(header, ErrOk);
    PutText(reply, text, config_.padding);
    return reply;
  }
  if (header.opCode == CmdPasswd || header.opCode == CmdRevert) {
    if (header.opType != TypeWrite) return MakeReply(header, ErrOpType);
    if (header.opCode == CmdRevert) {
      calMode_ = false;
      return MakeReply(header, ErrOk);
    }
    if (RequestText(request) != config_.password) return MakeReply(header, config_.wrongPasswordCode);
    calMode_ = true;
    return MakeReply(header, ErrOk);
  }
  // Anything else is accepted and its argument handed back.
  Reply reply = MakeReply(header, ErrOk);
  std::copy_n(&request[kCommandDataOffset], kReportDataSize, &reply.bytes[kReplyDataOffset]);
  return reply;
}

}  // namespace velcorin::sim
