// Whether a device is listed, given how each of the caller's filters judged it.
// The Windows side does the variant work (numeric tokens, whole-number values,
// id comparison) and feeds the plain results in here.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace velcorin {

constexpr std::int32_t kExcludeDevs = 1;  // any other FilterAction includes

// The first matching filter decides; no match leaves the device out; an empty
// filter list lists everything. Feed filters in order until Decided(), so that
// filters after the deciding one are never evaluated (their errors included).
class ListingDecision {
 public:
  explicit ListingDecision(bool filterListEmpty) : matched_(filterListEmpty) {}

  bool Decided() const { return decided_; }
  void Apply(std::int32_t action, bool matches);
  bool Listed() const { return included_ && matched_; }

 private:
  bool included_ = true;
  bool matched_;
  bool decided_ = false;
};

// The decision over the caller's filters: `visitFilters(judge)` walks them in
// order, calling judge(action, matches) for each, and stops once judge returns
// false, before it looks at the next filter.
template <typename VisitFilters>
bool DecideListing(bool filterListEmpty, VisitFilters&& visitFilters) {
  ListingDecision decision(filterListEmpty);
  visitFilters([&decision](std::int32_t action, bool matches) {
    decision.Apply(action, matches);
    return !decision.Decided();
  });
  return decision.Listed();
}

// The class set of a class filter: the class of each numeric token's whole-number value.
std::vector<std::int16_t> ClassSetOf(std::span<const std::int64_t> tokenWholeNumbers);

bool ClassSetContains(std::span<const std::int16_t> classSet, std::int16_t deviceClass);

}  // namespace velcorin
