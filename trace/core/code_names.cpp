#include "trace/core/code_names.h"

#include <span>
#include <string_view>

// kOpTypeNames, kOpCodeNames, kEndCodeNames, made by CMake from Velcorin.idl.
#include "trace/core/code_names_table.h"

namespace velcorin::trace {

std::string CodeName(CodeKind kind, std::int32_t value) {
  const std::span<const NamedCode> table = kind == CodeKind::OpType   ? std::span<const NamedCode>(kOpTypeNames)
                                           : kind == CodeKind::OpCode ? std::span<const NamedCode>(kOpCodeNames)
                                                                      : std::span<const NamedCode>(kEndCodeNames);
  for (const NamedCode& code : table)
    if (code.value == value) return std::string(code.name);
  return std::to_string(value);
}

}  // namespace velcorin::trace
