// The type library's names of op types, op codes and end codes, for people
// reading a trace. The table is generated from the interface description.
#pragma once

#include <cstdint>
#include <string>

namespace velcorin::trace {

enum class CodeKind { OpType, OpCode, EndCode };

// The enumeration name of `value`, or the number itself when it has none.
std::string CodeName(CodeKind kind, std::int32_t value);

}  // namespace velcorin::trace
