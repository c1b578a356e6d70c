// Reads and patches the few fields of a saved type library ("MSFT" format)
// that the type-library API cannot reach: the stored vtable size of a type
// and the name of a property put's value parameter. Portable: no <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velcorin::tlb {

struct MsftError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct StoredParameter {
  std::int32_t nameOffset;  // into the name table; -1 when unnamed
  std::optional<std::u16string> name;
};

struct StoredFunction {
  std::int32_t memid;
  int invkind;                // INVOKE_* bits
  std::int16_t vtableOffset;  // bytes; the low bit the writer sets is dropped
  std::vector<StoredParameter> params;
};

class MsftFile {
 public:
  // Throws MsftError unless the bytes hold a well-formed MSFT header.
  explicit MsftFile(std::vector<std::uint8_t> bytes);

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  std::size_t typeCount() const { return typeCount_; }
  std::int32_t libraryFlags() const;   // as stored, before any loader adds its own
  std::int32_t namesLocale() const;    // the locale of names and help text
  std::int32_t libraryLocale() const;  // what TLIBATTR reports and registration uses

  std::uint16_t vtableSize(std::size_t type) const;
  void setVtableSize(std::size_t type, std::uint16_t size);
  int typeKind(std::size_t type) const;               // TKIND_*
  std::int32_t instanceSize(std::size_t type) const;  // cbSizeInstance
  void setInstanceSize(std::size_t type, std::int32_t size);

  std::vector<StoredFunction> functions(std::size_t type) const;
  void setParameterNameOffset(std::size_t type, std::size_t function, std::size_t param, std::int32_t nameOffset);

  // The name-table offset some parameter already uses for this name.
  std::optional<std::int32_t> findParameterName(const std::u16string& name) const;

 private:
  struct Layout {
    std::size_t recordsBegin;  // first member record
    std::size_t memidsBegin;   // memid of each member, functions first
    std::size_t functionCount;
  };

  std::size_t typeRecord(std::size_t type) const;
  Layout memberLayout(std::size_t type) const;
  std::size_t functionRecord(const Layout& layout, std::size_t function) const;
  std::size_t parameterInfo(std::size_t record, std::size_t param) const;
  std::u16string readName(std::int32_t nameOffset) const;

  std::int32_t i32(std::size_t at) const;
  std::int16_t i16(std::size_t at) const;
  void put16(std::size_t at, std::uint16_t value);
  void put32(std::size_t at, std::int32_t value);
  void require(std::size_t at, std::size_t size) const;

  std::vector<std::uint8_t> bytes_;
  std::size_t typeCount_ = 0;
  std::size_t typeTable_ = 0;
  std::size_t nameTable_ = 0;
};

}  // namespace velcorin::tlb
