#include "msft_file.h"

#include <algorithm>
#include <utility>

namespace velcorin::tlb {
namespace {

constexpr std::int32_t kSignature = 0x5446534D;  // "MSFT"
constexpr std::size_t kHeaderSize = 0x54;
constexpr std::size_t kVarFlagsAt = 0x14;
constexpr std::size_t kNamesLocaleAt = 0x0C;
constexpr std::size_t kLibraryLocaleAt = 0x10;
constexpr std::size_t kLibFlagsAt = 0x1C;
constexpr std::size_t kTypeCountAt = 0x20;
constexpr std::int32_t kHelpDllFlag = 0x100;
constexpr std::size_t kSegmentSize = 16;
constexpr std::size_t kNameSegment = 7;

constexpr std::size_t kTypeRecordSize = 0x64;
constexpr std::size_t kMemOffsetAt = 0x04;
constexpr std::size_t kElementCountAt = 0x18;
constexpr std::size_t kVtableSizeAt = 0x4E;
constexpr std::size_t kInstanceSizeAt = 0x50;

constexpr std::size_t kRecordFkccicAt = 0x10;
constexpr std::size_t kRecordVtableOffsetAt = 0x0C;
constexpr std::size_t kRecordArgCountAt = 0x14;
constexpr std::size_t kParameterInfoSize = 12;
constexpr std::size_t kParameterNameAt = 4;
constexpr std::size_t kNameIntroSize = 12;
constexpr std::size_t kNameLengthAt = 8;

std::size_t AsOffset(std::int32_t value) {
  if (value < 0) throw MsftError("negative offset in type library");
  return static_cast<std::size_t>(value);
}

}  // namespace

MsftFile::MsftFile(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {
  require(0, kHeaderSize);
  if (i32(0) != kSignature) throw MsftError("not an MSFT type library");
  typeCount_ = AsOffset(i32(kTypeCountAt));
  std::size_t segments = kHeaderSize + ((i32(kVarFlagsAt) & kHelpDllFlag) ? 4 : 0);
  segments += typeCount_ * 4;
  require(segments, kSegmentSize * (kNameSegment + 1));
  typeTable_ = AsOffset(i32(segments));
  nameTable_ = AsOffset(i32(segments + kSegmentSize * kNameSegment));
  require(typeTable_, typeCount_ * kTypeRecordSize);
}

std::int32_t MsftFile::libraryFlags() const { return i32(kLibFlagsAt); }
std::int32_t MsftFile::namesLocale() const { return i32(kNamesLocaleAt); }
std::int32_t MsftFile::libraryLocale() const { return i32(kLibraryLocaleAt); }

std::uint16_t MsftFile::vtableSize(std::size_t type) const {
  return static_cast<std::uint16_t>(i16(typeRecord(type) + kVtableSizeAt));
}

void MsftFile::setVtableSize(std::size_t type, std::uint16_t size) { put16(typeRecord(type) + kVtableSizeAt, size); }

int MsftFile::typeKind(std::size_t type) const { return i32(typeRecord(type)) & 0xF; }

std::int32_t MsftFile::instanceSize(std::size_t type) const { return i32(typeRecord(type) + kInstanceSizeAt); }

void MsftFile::setInstanceSize(std::size_t type, std::int32_t size) { put32(typeRecord(type) + kInstanceSizeAt, size); }

std::vector<StoredFunction> MsftFile::functions(std::size_t type) const {
  const Layout layout = memberLayout(type);
  std::vector<StoredFunction> result;
  for (std::size_t f = 0; f < layout.functionCount; ++f) {
    const std::size_t record = functionRecord(layout, f);
    StoredFunction fn{i32(layout.memidsBegin + 4 * f),
                      (i32(record + kRecordFkccicAt) >> 3) & 0xF,
                      static_cast<std::int16_t>(i16(record + kRecordVtableOffsetAt) & ~1),
                      {}};
    const auto argCount = static_cast<std::size_t>(std::max<std::int16_t>(0, i16(record + kRecordArgCountAt)));
    for (std::size_t p = 0; p < argCount; ++p) {
      const std::int32_t nameOffset = i32(parameterInfo(record, p) + kParameterNameAt);
      std::optional<std::u16string> name;
      if (nameOffset != -1) name = readName(nameOffset);
      fn.params.push_back({nameOffset, std::move(name)});
    }
    result.push_back(std::move(fn));
  }
  return result;
}

void MsftFile::setParameterNameOffset(std::size_t type, std::size_t function, std::size_t param,
                                      std::int32_t nameOffset) {
  const Layout layout = memberLayout(type);
  if (function >= layout.functionCount) throw MsftError("no such function");
  const std::size_t record = functionRecord(layout, function);
  if (param >= static_cast<std::size_t>(std::max<std::int16_t>(0, i16(record + kRecordArgCountAt))))
    throw MsftError("no such parameter");
  readName(nameOffset);  // refuses an offset that names nothing
  put32(parameterInfo(record, param) + kParameterNameAt, nameOffset);
}

std::optional<std::int32_t> MsftFile::findParameterName(const std::u16string& name) const {
  for (std::size_t t = 0; t < typeCount_; ++t)
    for (const auto& fn : functions(t))
      for (const auto& p : fn.params)
        if (p.name == name) return p.nameOffset;
  return std::nullopt;
}

std::size_t MsftFile::typeRecord(std::size_t type) const {
  if (type >= typeCount_) throw MsftError("no such type");
  return typeTable_ + type * kTypeRecordSize;
}

MsftFile::Layout MsftFile::memberLayout(std::size_t type) const {
  const std::size_t base = typeRecord(type);
  const std::size_t functionCount = static_cast<std::uint32_t>(i32(base + kElementCountAt)) & 0xFFFF;
  if (functionCount == 0) return {0, 0, 0};
  const std::size_t block = AsOffset(i32(base + kMemOffsetAt));
  const std::size_t recordsLength = AsOffset(i32(block));
  const Layout layout{block + 4, block + 4 + recordsLength, functionCount};
  require(layout.recordsBegin, recordsLength);
  require(layout.memidsBegin, functionCount * 4);
  return layout;
}

std::size_t MsftFile::functionRecord(const Layout& layout, std::size_t function) const {
  std::size_t record = layout.recordsBegin;
  for (std::size_t f = 0; f < function; ++f) {
    const std::size_t length = static_cast<std::uint32_t>(i32(record)) & 0xFFFF;
    if (length == 0) throw MsftError("empty member record");
    record += length;
  }
  if (record >= layout.memidsBegin) throw MsftError("member record past its block");
  return record;
}

std::size_t MsftFile::parameterInfo(std::size_t record, std::size_t param) const {
  const std::size_t length = static_cast<std::uint32_t>(i32(record)) & 0xFFFF;
  const auto argCount = static_cast<std::size_t>(std::max<std::int16_t>(0, i16(record + kRecordArgCountAt)));
  if (argCount * kParameterInfoSize > length) throw MsftError("parameters overrun their record");
  return record + length - (argCount - param) * kParameterInfoSize;
}

std::u16string MsftFile::readName(std::int32_t nameOffset) const {
  const std::size_t intro = nameTable_ + AsOffset(nameOffset);
  require(intro, kNameIntroSize);
  const std::size_t length = static_cast<std::uint32_t>(i32(intro + kNameLengthAt)) & 0xFF;
  require(intro + kNameIntroSize, length);
  std::u16string name;
  for (std::size_t i = 0; i < length; ++i) name.push_back(bytes_[intro + kNameIntroSize + i]);
  return name;
}

std::int32_t MsftFile::i32(std::size_t at) const {
  require(at, 4);
  const std::uint32_t v =
      bytes_[at] | (bytes_[at + 1] << 8) | (bytes_[at + 2] << 16) | (static_cast<std::uint32_t>(bytes_[at + 3]) << 24);
  return static_cast<std::int32_t>(v);
}

std::int16_t MsftFile::i16(std::size_t at) const {
  require(at, 2);
  return static_cast<std::int16_t>(bytes_[at] | (bytes_[at + 1] << 8));
}

void MsftFile::put16(std::size_t at, std::uint16_t value) {
  require(at, 2);
  bytes_[at] = static_cast<std::uint8_t>(value);
  bytes_[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void MsftFile::put32(std::size_t at, std::int32_t value) {
  require(at, 4);
  const auto v = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) bytes_[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void MsftFile::require(std::size_t at, std::size_t size) const {
  if (at > bytes_.size() || size > bytes_.size() - at) throw MsftError("type library truncated");
}

}  // namespace velcorin::tlb
