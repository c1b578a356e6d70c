#include "discovery/filter_tokens.h"

#include <cmath>

#include "common/collection_ref.h"
#include "common/owners.h"
#include "common/runtime_error.h"

namespace velcorin {

namespace {

constexpr double kTwoTo63 = 9223372036854775808.0;

std::optional<std::int64_t> ExactInteger(const VARIANT& v) {
  switch (V_VT(&v)) {
    case VT_I1: return V_I1(&v);
    case VT_UI1: return V_UI1(&v);
    case VT_I2: return V_I2(&v);
    case VT_UI2: return V_UI2(&v);
    case VT_I4: return V_I4(&v);
    case VT_UI4: return V_UI4(&v);
    case VT_INT: return V_INT(&v);
    case VT_UINT: return V_UINT(&v);
    case VT_I8: return V_I8(&v);
    case VT_UI8:
      if (V_UI8(&v) > static_cast<ULONGLONG>(INT64_MAX)) Raise(kErrOverflow);
      return static_cast<std::int64_t>(V_UI8(&v));
    default: return std::nullopt;
  }
}

// Half to even, as CLng rounds.
std::int64_t WholeNumberOf(double value) {
  if (!std::isfinite(value)) Raise(kErrOverflow);
  double whole = std::floor(value);
  const double fraction = value - whole;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
  if (whole < -kTwoTo63 || whole >= kTwoTo63) Raise(kErrOverflow);
  return static_cast<std::int64_t>(whole);
}

std::int64_t WholeNumberOf(CY value) {
  constexpr std::int64_t kScale = 10000;
  std::int64_t whole = value.int64 / kScale;
  const std::int64_t rest = value.int64 % kScale;  // same sign as the value
  const std::int64_t twice = 2 * (rest < 0 ? -rest : rest);
  if (twice > kScale || (twice == kScale && whole % 2 != 0)) whole += rest < 0 ? -1 : 1;
  return whole;
}

// Through a double: exact wherever a fraction can still change the class.
std::int64_t WholeNumberOf(const DECIMAL& value) {
  double number = 0;
  if (FAILED(VarR8FromDec(const_cast<DECIMAL*>(&value), &number))) Raise(kErrOverflow);
  return WholeNumberOf(number);
}

std::optional<double> NumberInText(BSTR text) {
  double value = 0;
  if (FAILED(VarR8FromStr(text ? text : const_cast<BSTR>(L""), LOCALE_USER_DEFAULT, 0, &value))) return std::nullopt;
  return value;
}

// Scalars VarCmp compares with a number by value or by its fixed rule.
bool IsComparableScalar(VARTYPE type) {
  switch (type) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_BOOL:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_DECIMAL:
    case VT_BSTR: return true;
    default: return false;
  }
}

}  // namespace

std::optional<std::int64_t> TokenWholeNumber(const VARIANT& token) {
  if (auto exact = ExactInteger(token)) return exact;
  switch (V_VT(&token)) {
    case VT_EMPTY: return 0;
    case VT_BOOL: return V_BOOL(&token);  // True is -1
    case VT_R4: return WholeNumberOf(static_cast<double>(V_R4(&token)));
    case VT_R8: return WholeNumberOf(V_R8(&token));
    case VT_CY: return WholeNumberOf(V_CY(&token));
    case VT_DECIMAL: return WholeNumberOf(V_DECIMAL(&token));
    case VT_BSTR: {
      const auto number = NumberInText(V_BSTR(&token));
      if (!number) return std::nullopt;
      return WholeNumberOf(*number);
    }
    default: return std::nullopt;
  }
}

bool TokenEquals(std::int32_t productId, const VARIANT& token) {
  // Beyond the signed range a UI8 is simply a different number here.
  if (V_VT(&token) == VT_UI8) return productId >= 0 && V_UI8(&token) == static_cast<ULONGLONG>(productId);
  if (auto exact = ExactInteger(token)) return *exact == productId;
  if (!IsComparableScalar(V_VT(&token))) return false;
  const Variant id(static_cast<long>(productId));
  return VarCmp(id.as_input(), AsInput(token), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ;
}

bool IsInCollection(std::int32_t productId, const CollectionRef& tokens) {
  bool found = false;
  tokens.ForEach([&](const VARIANT& token) {
    found = TokenEquals(productId, token);
    return !found;
  });
  return found;
}

}  // namespace velcorin
