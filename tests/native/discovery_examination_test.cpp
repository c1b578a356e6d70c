#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "discovery/core/examination_queue.h"

namespace velcorin {
namespace {

// What one instrument's examination found: its number, or 0 for one that is skipped.
using Outcome = int;

struct Examination {
  std::vector<Outcome> outcomes;
  std::vector<int> examinations;  // per instrument
  int reports = 0;
  int mostAtOnce = 0;
};

// `examine` stands in for an instrument: it may take its time, find nothing or throw.
Examination Examine(std::size_t instruments, const std::function<Outcome(std::size_t)>& examine) {
  ExaminationQueue<Outcome> queue(instruments);
  std::vector<std::atomic<int>> examined(instruments);
  std::atomic<int> reports{0}, atOnce{0}, mostAtOnce{0};
  auto counted = [&](std::size_t index) {
    const int now = ++atOnce;
    for (int most = mostAtOnce; now > most && !mostAtOnce.compare_exchange_weak(most, now);) {
    }
    ++examined[index];
    struct Leave {
      std::atomic<int>& n;
      ~Leave() { --n; }
    } leave{atOnce};
    return examine(index);
  };
  std::vector<std::thread> examiners;
  for (std::size_t i = 0; i < ExaminerCount(instruments); ++i)
    examiners.emplace_back([&] { RunExaminer(queue, counted, [&] { ++reports; }); });
  for (auto& examiner : examiners) examiner.join();
  EXPECT_TRUE(queue.Complete());
  Examination run{queue.TakeOutcomes(), {}, reports, mostAtOnce};
  for (const auto& n : examined) run.examinations.push_back(n);
  return run;
}

// A random third slow, some of them silent (nothing found) and one that fails
// outright: the outcomes are those of one instrument after another.
TEST(ExaminationQueue, SixtyFourInstrumentsSomeSlowOrSilentKeepTheListingOrder) {
  constexpr std::size_t kInstruments = 64;
  std::mt19937 random(18);
  std::vector<int> delayMs(kInstruments, 0);
  std::vector<Outcome> sequential(kInstruments);
  for (std::size_t i = 0; i < kInstruments; ++i) {
    const bool slow = random() % 3 == 0, silent = slow && random() % 2 == 0;
    delayMs[i] = slow ? static_cast<int>(random() % 40) : 0;
    sequential[i] = silent || i == 17 ? 0 : static_cast<Outcome>(i + 1);
  }
  const Examination run = Examine(kInstruments, [&](std::size_t i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs[i]));
    if (i == 17) throw std::runtime_error("the instrument went away");
    return sequential[i];
  });
  EXPECT_EQ(run.outcomes, sequential);
  EXPECT_EQ(run.examinations, std::vector<int>(kInstruments, 1));
  EXPECT_EQ(run.reports, 1);
  EXPECT_LE(run.mostAtOnce, static_cast<int>(kMaxConcurrentExaminations));
  EXPECT_GT(run.mostAtOnce, 1);
}

TEST(ExaminationQueue, FewerInstrumentsThanExaminersAndNone) {
  EXPECT_EQ(ExaminerCount(0), 0u);
  EXPECT_EQ(ExaminerCount(3), 3u);
  EXPECT_EQ(ExaminerCount(100), kMaxConcurrentExaminations);
  const Examination three = Examine(3, [](std::size_t i) { return static_cast<Outcome>(10 * i); });
  EXPECT_EQ(three.outcomes, (std::vector<Outcome>{0, 10, 20}));
  EXPECT_EQ(three.reports, 1);
  EXPECT_TRUE(ExaminationQueue<Outcome>(0).Complete());
}

// What is in flight finishes; nothing more is handed out, and no examiner
// reports a completion the caller no longer waits for.
TEST(ExaminationQueue, AnAbandonedEnumerationHandsOutNothingAndReportsNothing) {
  ExaminationQueue<Outcome> queue(4);
  const auto first = queue.Take(), second = queue.Take();
  ASSERT_TRUE(first && second);
  EXPECT_FALSE(queue.Finish(*first, 1));
  queue.Abandon();
  EXPECT_FALSE(queue.Take());
  EXPECT_FALSE(queue.Finish(*second, 2));
  EXPECT_FALSE(queue.Complete());
}

}  // namespace
}  // namespace velcorin
