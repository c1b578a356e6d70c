// Case-insensitive lookup of member names, for name-to-DISPID translation
// without a walk over the type information.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velcorin {

// Each ASCII unit's lower-case form when it may stand in a name, else 0.
inline constexpr std::array<char16_t, 128> kNameFolding = [] {
  std::array<char16_t, 128> folding{};
  for (std::size_t unit = 0; unit < folding.size(); ++unit) {
    const auto c = static_cast<char16_t>(unit);
    if ((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_') folding[c] = c;
    if (c >= u'A' && c <= u'Z') folding[c] = static_cast<char16_t>(c + 32);
  }
  return folding;
}();

// Names made of ASCII letters, digits and '_' only, compared without regard
// to case. Any other character makes a name unknown here: the platform's own
// comparison, which follows the user's locale, then has the last word.
//
// A look-up folds and hashes the name in one pass and, in a table of the size
// of an interface's names, probes one slot: the table grows until every name
// it holds has a slot of its own.
class NameTable {
 public:
  // A name the table cannot hold (another character, or too long) is not added.
  bool Add(std::u16string_view name, std::int32_t value) {
    std::u16string folded;
    for (char16_t c : name) {
      const char16_t f = Folded(c);
      if (!f) return false;
      folded += f;
    }
    if (folded.empty() || folded.size() > kLongest) return false;
    const std::uint32_t hash = Hash(folded);
    entries_.push_back({std::move(folded), hash, value});
    longest_ = std::max(longest_, entries_.back().folded.size());
    Rehash();
    return true;
  }

  // Reads a zero-terminated name; never past its terminator.
  std::optional<std::int32_t> Find(const char16_t* name) const {
    if (slots_.empty() || !name) return std::nullopt;
    std::array<char16_t, kLongest> folded;
    std::uint32_t hash = kHashSeed;
    std::size_t length = 0;
    for (; name[length]; ++length) {
      const char16_t f = Folded(name[length]);
      if (!f || length == longest_) return std::nullopt;
      folded[length] = f;
      hash = Mix(hash, f);
    }
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
      const std::int32_t index = slots_[at];
      if (index < 0) return std::nullopt;
      const Entry& e = entries_[static_cast<std::size_t>(index)];
      if (e.hash == hash && e.folded.size() == length && e.folded.compare(0, length, folded.data(), length) == 0)
        return e.value;
    }
  }

  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::u16string folded;
    std::uint32_t hash;
    std::int32_t value;
  };
  static constexpr std::uint32_t kHashSeed = 2166136261u;
  static constexpr std::size_t kLongest = 256;  // names are held up to this length
  static constexpr std::size_t kSpread = 64;

  // The lower-case form of a name character; 0 for any other character.
  static char16_t Folded(char16_t c) { return c < kNameFolding.size() ? kNameFolding[c] : 0; }
  static std::uint32_t Mix(std::uint32_t hash, char16_t c) { return (hash ^ c) * 16777619u; }
  static std::uint32_t Hash(std::u16string_view folded) {
    std::uint32_t hash = kHashSeed;
    for (char16_t c : folded) hash = Mix(hash, c);
    return hash;
  }

  // Open addressing in the smallest power of two, at least twice the entries,
  // that gives each entry a slot of its own, up to kSpread times the entries;
  // past that, entries that meet share a run of slots.
  void Rehash() {
    std::size_t capacity = 8;
    while (capacity < entries_.size() * 2) capacity *= 2;
    for (; capacity < entries_.size() * kSpread; capacity *= 2)
      if (Place(capacity, true)) return;
    Place(capacity, false);
  }

  // False when `apart` is asked and two entries meet.
  bool Place(std::size_t capacity, bool apart) {
    slots_.assign(capacity, -1);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      std::size_t at = entries_[i].hash & (capacity - 1);
      if (apart && slots_[at] >= 0) return false;
      while (slots_[at] >= 0) at = (at + 1) & (capacity - 1);
      slots_[at] = static_cast<std::int32_t>(i);
    }
    return true;
  }

  std::vector<Entry> entries_;
  std::vector<std::int32_t> slots_;
  std::size_t longest_ = 0;
};

}  // namespace velcorin
