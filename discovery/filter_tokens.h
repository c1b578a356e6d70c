// How a filter's tokens are read: the automation platform's variant rules for
// what is a number, what it is as a whole number, and what equals what.
#pragma once

#include <windows.h>
// windows.h first: the OLE headers rely on its types.
#include <oleauto.h>

#include <cstdint>
#include <optional>

namespace velcorin {

class CollectionRef;

// A class filter's view of a token, as the runtime's IsNumeric and CLng see it:
// numbers of every type, Booleans (True is -1) and Empty (0) are numeric, and
// so is text that converts to a number in the user's locale (" 12 ", "&H10",
// "1e3", "4,660"). Null, dates, error values, objects and arrays are not.
// Nothing when the token is not numeric; otherwise its value rounded half to
// even. A numeric value beyond the signed 64-bit range (NaN and infinities
// included) is run-time error 6.
std::optional<std::int64_t> TokenWholeNumber(const VARIANT& token);

// Automation variant equality of a ProductID and a token: integers of any
// width compare exactly, other scalars through VarCmp (so 4660.0, 4660@ and
// the date 4660 equal 4660, Empty equals 0, a string never equals a number).
// A token VarCmp cannot compare (objects, arrays, error values) equals nothing.
bool TokenEquals(std::int32_t productId, const VARIANT& token);

// True at the first token that equals productId.
bool IsInCollection(std::int32_t productId, const CollectionRef& tokens);

}  // namespace velcorin
