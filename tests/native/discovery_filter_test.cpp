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

bool Matches(const Filter& filter, std::int32_t productId) {
  return filter.byClass ? ClassSetContains(ClassSetOf(filter.tokens), ClassOf(productId))
                        : std::count(filter.tokens.begin(), filter.tokens.end(), productId) > 0;
}

// Also counts the filters looked at: none after the one that decides.
bool Listed(const std::vector<Filter>& filters, std::int32_t productId, std::size_t* judged = nullptr) {
  std::size_t seen = 0;
  const bool listed = DecideListing(filters.empty(), [&](const auto& judge) {
    for (const Filter& filter : filters)
      if (++seen, !judge(filter.action, Matches(filter, productId))) return;
  });
  if (judged) *judged = seen;
  return listed;
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
  const Filter excludeAll{1, true, {0x1200}}, never{0, false, {}};
  std::size_t judged = 0;
  EXPECT_FALSE(Listed({never, excludeAll, never}, 0x1201, &judged));
  EXPECT_EQ(judged, 2u);
  EXPECT_EQ(ClassSetOf(std::vector<std::int64_t>{61441, 0x1'0000'0105LL}), (std::vector<std::int16_t>{-4096, 0x0100}));
}

}  // namespace
}  // namespace velcorin
