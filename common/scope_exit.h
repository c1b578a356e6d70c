// Scope guards: a function run when a scope ends, however it ends, unless
// dismissed first; a variable set for the rest of a scope.
#pragma once

#include <utility>

namespace velcorin {

template <class Action>
class ScopeExit {
 public:
  explicit ScopeExit(Action action) : action_(std::move(action)) {}
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  ~ScopeExit() {
    if (armed_) action_();
  }
  void Dismiss() { armed_ = false; }

 private:
  Action action_;
  bool armed_ = true;
};

// Sets `target` to `value` until the scope ends, then gives it back its
// earlier value.
template <class T>
class ScopedValue {
 public:
  ScopedValue(T& target, T value) : target_(target), earlier_(std::exchange(target, std::move(value))) {}
  ScopedValue(const ScopedValue&) = delete;
  ScopedValue& operator=(const ScopedValue&) = delete;
  ~ScopedValue() { target_ = std::move(earlier_); }

 private:
  T& target_;
  T earlier_;
};

}  // namespace velcorin
