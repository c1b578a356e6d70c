#include <gtest/gtest.h>

#include "discovery/core/device_class.h"
#include "discovery/core/filter_decision.h"

namespace velcorin {
namespace {

struct Filter {
  std::int32_t action;  // 1 excludes
  bool byClass;
  std::vector<std::int64_t> tokens;
};

bool Listed(const std::vector<Filter>& filters, std::int32_t productId) {
  ListingDecision decision(filters.empty());
  for (const auto& f : filters) {
    if (decision.Decided()) break;
    bool matches = f.byClass ? ClassSetContains(ClassSetOf(f.tokens), ClassOf(productId))
                             : std::count(f.tokens.begin(), f.tokens.end(), productId) > 0;
    decision.Apply(f.action, matches);
  }
  return decision.Listed();
}

TEST(FilterDecision, FirstMatchDecides) {
  const Filter excludeId{1, false, {0x1201}}, includeClass{0, true, {0x1200}};
  const std::tuple<std::vector<Filter>, std::int32_t, bool> cases[] = {
      {{}, 0x4242, true},
      {{{0, true, {0x1234}}}, 0x12FF, true},
      {{{0, true, {0x1234}}}, 0x1300, false},
      {{excludeId, includeClass}, 0x1201, false},
      {{excludeId, includeClass}, 0x1202, true},
      {{excludeId, includeClass}, 0x1300, false},
      {{includeClass, excludeId}, 0x1201, true},
      {{{1, true, {0x0100}}}, 0x4200, false},  // only excludes list nothing
      {{{0, true, {}}}, 0x0000, false},        // no numeric tokens
      {{{7, false, {0x0105}}}, 0x0105, true},  // any other action includes
      {{{0, true, {0xF000}}}, -4095, true},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& [filters, productId, listed] = cases[i];
    EXPECT_EQ(Listed(filters, productId), listed) << "case " << i;
  }
}

TEST(FilterDecision, DecidedFilterIgnoresLaterOnes) {
  ListingDecision decision(false);
  decision.Apply(0, false);
  EXPECT_FALSE(decision.Decided());
  decision.Apply(1, true);
  decision.Apply(0, true);
  EXPECT_TRUE(decision.Decided());
  EXPECT_FALSE(decision.Listed());
  EXPECT_EQ(ClassSetOf(std::vector<std::int64_t>{61441, 0x1'0000'0105LL}), (std::vector<std::int16_t>{-4096, 0x0100}));
}

}  // namespace
}  // namespace velcorin
