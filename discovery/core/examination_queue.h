// The examinations of one enumeration: which instrument an examiner takes
// next, and every outcome kept in the system's listing order, whatever order
// the examinations end in. Examiners run on threads of their own; the
// enumeration's caller reads the outcomes once all are in.
#pragma once

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace velcorin {

// Enough to hide silent instruments behind the others, few enough that a
// crowded bus still answers each one within its time limit.
inline constexpr std::size_t kMaxConcurrentExaminations = 8;

inline std::size_t ExaminerCount(std::size_t instruments) { return std::min(instruments, kMaxConcurrentExaminations); }

template <class Outcome>
class ExaminationQueue {
 public:
  explicit ExaminationQueue(std::size_t instruments) : outcomes_(instruments) {}
  ExaminationQueue(const ExaminationQueue&) = delete;
  ExaminationQueue& operator=(const ExaminationQueue&) = delete;

  // The next instrument in listing order; none once every one has been
  // handed out or the enumeration was abandoned.
  std::optional<std::size_t> Take() {
    const std::lock_guard lock(mutex_);
    if (abandoned_ || next_ == outcomes_.size()) return std::nullopt;
    return next_++;
  }

  // True for the outcome that completes the enumeration, so that exactly one
  // examiner reports it; never once it was abandoned.
  bool Finish(std::size_t index, Outcome outcome) {
    const std::lock_guard lock(mutex_);
    outcomes_[index] = std::move(outcome);
    return ++finished_ == outcomes_.size() && !abandoned_;
  }

  // Hands out nothing more; what is in flight still finishes, unreported.
  void Abandon() {
    const std::lock_guard lock(mutex_);
    abandoned_ = true;
  }

  bool Complete() const {
    const std::lock_guard lock(mutex_);
    return finished_ == outcomes_.size();
  }

  // Listing order; call only once Complete().
  std::vector<Outcome> TakeOutcomes() {
    const std::lock_guard lock(mutex_);
    return std::move(outcomes_);
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Outcome> outcomes_;
  std::size_t next_ = 0;
  std::size_t finished_ = 0;
  bool abandoned_ = false;
};

// One examiner: instruments one after another until none is left. An
// examination that throws counts as one that found nothing, so that the
// enumeration still completes. `reportComplete` runs on the examiner that
// finishes the last outcome.
template <class Outcome, class Examine, class Report>
void RunExaminer(ExaminationQueue<Outcome>& queue, Examine&& examine, Report&& reportComplete) {
  while (const std::optional<std::size_t> index = queue.Take()) {
    Outcome outcome{};
    try {
      outcome = examine(*index);
    } catch (...) {
      outcome = Outcome{};
    }
    if (queue.Finish(*index, std::move(outcome))) reportComplete();
  }
}

}  // namespace velcorin
