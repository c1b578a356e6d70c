#include "discovery/core/filter_decision.h"

#include <algorithm>

#include "discovery/core/device_class.h"

namespace velcorin {

void ListingDecision::Apply(std::int32_t action, bool matches) {
  if (decided_ || !matches) return;
  if (action == kExcludeDevs) {
    included_ = false;
  } else {
    matched_ = true;
  }
  decided_ = true;
}

std::vector<std::int16_t> ClassSetOf(std::span<const std::int64_t> tokenWholeNumbers) {
  std::vector<std::int16_t> classes;
  classes.reserve(tokenWholeNumbers.size());
  for (auto value : tokenWholeNumbers) classes.push_back(ClassOfWholeNumber(value));
  return classes;
}

bool ClassSetContains(std::span<const std::int16_t> classSet, std::int16_t deviceClass) {
  return std::find(classSet.begin(), classSet.end(), deviceClass) != classSet.end();
}

}  // namespace velcorin
