// Whose turn it is to append to a trace file, among all the processes that
// trace into it. The turn is one 64-bit word they share: the holder's id and a
// count of turns taken, so that one turn held too long can be told from many
// short ones. Taking a free turn and giving it back are two atomic operations
// and no call into the system; only a taker that finds it held waits.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace velcorin::trace {

class SharedTurn {
 public:
  using Clock = std::chrono::steady_clock;

  // `word`: zero, or as other SharedTurns on it left it; it must outlive this object.
  // `self`: this taker's id, not 0. `patience`: how long one turn may last before it
  // counts as abandoned (its holder died or hangs in it) and is taken over.
  SharedTurn(std::uint64_t& word, std::uint32_t self, Clock::duration patience);

  // A BasicLockable, for std::lock_guard. lock() always ends holding the turn.
  void lock();
  // Gives the turn back, unless another taker took it over meanwhile.
  void unlock();

 private:
  bool TryTake(std::uint64_t& seen);
  void WaitAndTake(std::uint64_t seen);

  std::atomic_ref<std::uint64_t> word_;
  std::uint32_t self_;
  Clock::duration patience_;
  std::uint64_t held_ = 0;  // the word's value while this taker holds the turn
};

}  // namespace velcorin::trace
