// The run-time errors the component raises: the automation runtime's numbers.
// Portable code throws them; the COM boundary turns them into 0x800A0000 + number
// with error info.
#pragma once

#include <cstdint>
#include <string>

namespace velcorin {

enum ErrorNumber : std::int32_t {
  kErrInvalidCall = 5,
  kErrOverflow = 6,
  kErrSubscript = 9,
  kErrTypeMismatch = 13,
  kErrObjectNotSet = 91,
  kErrNoSuchMember = 438,
  kErrDuplicateKey = 457,
};

struct RuntimeError {
  std::int32_t number;
  std::u16string description;  // empty: the standard text
};

[[noreturn]] inline void Raise(std::int32_t number) { throw RuntimeError{number, {}}; }

// The runtime's standard text for each number the component raises.
inline const char16_t* StandardDescription(std::int32_t number) {
  switch (number) {
    case kErrInvalidCall: return u"Invalid procedure call or argument";
    case kErrOverflow: return u"Overflow";
    case kErrSubscript: return u"Subscript out of range";
    case kErrTypeMismatch: return u"Type mismatch";
    case kErrObjectNotSet: return u"Object variable or With block variable not set";
    case kErrNoSuchMember: return u"Object doesn't support this property or method";
    case kErrDuplicateKey: return u"This key is already associated with an element of this collection";
    default: return u"Application-defined or object-defined error";
  }
}

}  // namespace velcorin
