#include "trace/core/shared_turn.h"

#include <thread>

namespace velcorin::trace {
namespace {

static_assert(std::atomic_ref<std::uint64_t>::is_always_lock_free, "the word is shared between processes");

constexpr std::uint64_t kHolderBits = 0xFFFFFFFFu;
// A holder appends one line: yielding this often outlasts it, unless it was preempted.
constexpr int kYields = 64;
constexpr auto kNap = std::chrono::milliseconds(1);

std::uint32_t Holder(std::uint64_t word) { return static_cast<std::uint32_t>(word & kHolderBits); }
std::uint64_t Taken(std::uint64_t word, std::uint32_t taker) { return ((word >> 32) + 1) << 32 | taker; }

}  // namespace

SharedTurn::SharedTurn(std::uint64_t& word, std::uint32_t self, Clock::duration patience)
    : word_(word), self_(self), patience_(patience) {}

void SharedTurn::lock() {
  std::uint64_t seen = word_.load();
  if (Holder(seen) == 0 && TryTake(seen)) return;
  WaitAndTake(seen);
}

void SharedTurn::unlock() {
  std::uint64_t expected = held_;
  word_.compare_exchange_strong(expected, held_ & ~kHolderBits);
}

// On failure `seen` is what the word holds instead.
bool SharedTurn::TryTake(std::uint64_t& seen) {
  const std::uint64_t next = Taken(seen, self_);
  if (!word_.compare_exchange_strong(seen, next)) return false;
  held_ = next;
  return true;
}

// Until the turn is free, or one and the same turn has lasted past patience.
void SharedTurn::WaitAndTake(std::uint64_t seen) {
  auto seenSince = Clock::now();
  for (int round = 0;; ++round) {
    if (Holder(seen) == 0 || Clock::now() - seenSince >= patience_) {
      if (TryTake(seen)) return;
      seenSince = Clock::now();
      continue;
    }
    if (round < kYields)
      std::this_thread::yield();
    else
      std::this_thread::sleep_for(kNap);
    if (const std::uint64_t now = word_.load(); now != seen) {
      seen = now;
      seenSince = Clock::now();
    }
  }
}

}  // namespace velcorin::trace
