// Case-insensitive lookup of member names, for name-to-DISPID translation
// without a walk over the type information.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velcorin {

// Names made of ASCII letters, digits and '_' only, compared without regard
// to case. Any other character makes a name unknown here: the platform's own
// comparison, which follows the user's locale, then has the last word.
class NameTable {
 public:
  // A name the table cannot hold (another character) is not added.
  bool Add(std::u16string_view name, std::int32_t value) {
    std::u16string folded;
    if (!Fold(name, folded)) return false;
    entries_.push_back({std::move(folded), value});
    Rehash();
    return true;
  }

  // Reads a zero-terminated name; never past its terminator.
  std::optional<std::int32_t> Find(const char16_t* name) const {
    if (slots_.empty() || !name) return std::nullopt;
    std::uint32_t hash = kHashSeed;
    std::size_t length = 0;
    for (; name[length]; ++length) {
      const char16_t c = name[length];
      if (!IsNameChar(c)) return std::nullopt;
      hash = Mix(hash, Lower(c));
    }
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
      const std::int32_t index = slots_[at];
      if (index < 0) return std::nullopt;
      const Entry& e = entries_[static_cast<std::size_t>(index)];
      if (e.folded.size() == length && SameFolded(e.folded, name)) return e.value;
    }
  }

  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    std::u16string folded;
    std::int32_t value;
  };
  static constexpr std::uint32_t kHashSeed = 2166136261u;

  static bool IsNameChar(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
  }
  static char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }
  static std::uint32_t Mix(std::uint32_t hash, char16_t c) { return (hash ^ c) * 16777619u; }
  static std::uint32_t Hash(std::u16string_view folded) {
    std::uint32_t hash = kHashSeed;
    for (char16_t c : folded) hash = Mix(hash, c);
    return hash;
  }
  static bool Fold(std::u16string_view name, std::u16string& folded) {
    if (name.empty()) return false;
    for (char16_t c : name) {
      if (!IsNameChar(c)) return false;
      folded += Lower(c);
    }
    return true;
  }
  static bool SameFolded(const std::u16string& folded, const char16_t* name) {
    for (std::size_t i = 0; i < folded.size(); ++i)
      if (folded[i] != Lower(name[i])) return false;
    return true;
  }

  // Open addressing, at most half full, so that a miss ends at an empty slot soon.
  void Rehash() {
    std::size_t capacity = 8;
    while (capacity < entries_.size() * 2) capacity *= 2;
    slots_.assign(capacity, -1);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      std::size_t at = Hash(entries_[i].folded) & (capacity - 1);
      while (slots_[at] >= 0) at = (at + 1) & (capacity - 1);
      slots_[at] = static_cast<std::int32_t>(i);
    }
  }

  std::vector<Entry> entries_;
  std::vector<std::int32_t> slots_;
};

}  // namespace velcorin
