#include "chooser/pictures.h"

#include <string_view>

namespace velcorin {

namespace {

using CharMap = std::array<std::string_view, kPictureSize>;

struct Ink {
  char code;
  std::uint32_t rgb;
};

// '.' is the transparent background; every other character one colour.
constexpr Ink kPalette[] = {
    {'.', kPictureMask}, {'k', 0x000000}, {'w', 0xFFFFFF}, {'l', 0xD4D0C8}, {'g', 0x808080}, {'d', 0x004000},
    {'G', 0x00FF00},     {'n', 0x000080}, {'c', 0x00FFFF}, {'y', 0xFFFF00}, {'Y', 0x808000}, {'E', 0x00C000},
    {'e', 0x006000},     {'R', 0xFF0000}, {'r', 0x800000}, {'B', 0x2060FF}, {'b', 0x000090},
};

constexpr const Ink* FindInk(char code) {
  for (const Ink& ink : kPalette)
    if (ink.code == code) return &ink;
  return nullptr;
}

constexpr bool IsWellFormed(const CharMap& map) {
  for (std::string_view row : map) {
    if (row.size() != kPictureSize) return false;
    for (char code : row)
      if (!FindInk(code)) return false;
  }
  return true;
}

// 1: an oscilloscope trace (development tools, test fixtures).
constexpr CharMap kWaveform = {
    "................", "................", "gggggggggggggggg", "gkkkkkkkkkkkkkkg",
    "gkkGGkkkkkkkkGGg", "gkGkkGkkkkkkGkkg", "gkGkkkGkkkkkGkkg", "gdGdddGdddddGddg",
    "gGkkkkGkkkkGkkkg", "gkkkkkkGkkkGkkkg", "gkkkkkkGkkGkkkkg", "gkkkkkkkGGkkkkkg",
    "gkkkkkkkkkkkkkkg", "gggggggggggggggg", "................", "................",
};

// 2: a monitor on its stand (the computer).
constexpr CharMap kMonitor = {
    "................", ".kkkkkkkkkkkkkk.", ".kllllllllllllk.", ".klkkkkkkkkkklk.",
    ".klknnnnnnnnklk.", ".klknccnnnnnklk.", ".klkncnnnnnnklk.", ".klknnnnnnnnklk.",
    ".klknnnnnnnnklk.", ".klkkkkkkkkkklk.", ".kllllllllllgGk.", ".kkkkkkkkkkkkkk.",
    "......kllk......", "....kkllllkk....", "...kllllllllk...", "...kkkkkkkkkk...",
};

// 3: a closed folder (class groups).
constexpr CharMap kFolder = {
    "................", "................", "..kkkkk.........", ".kwyyyyk........",
    ".kyyyyyykkkkkkk.", ".kwwwwwwwwwwwwyk", ".kwyyyyyyyyyyyYk", ".kwyyyyyyyyyyyYk",
    ".kwyyyyyyyyyyyYk", ".kwyyyyyyyyyyyYk", ".kwyyyyyyyyyyyYk", ".kwyyyyyyyyyyyYk",
    ".kYYYYYYYYYYYYYk", ".kkkkkkkkkkkkkkk", "................", "................",
};

// 4: the folder opened.
constexpr CharMap kOpenFolder = {
    "................", "................", "..kkkkk.........", ".kwyyyyk........",
    ".kyyyyyykkkkkk..", ".kyyyyyyyyyyyk..", ".kyykkkkkkkkkkkk", ".kykwwwwwwwwwwwk",
    ".kykyyyyyyyyyyk.", ".kkwyyyyyyyyyyk.", ".kkyyyyyyyyyyk..", ".kwyyyyyyyyyyk..",
    ".kyyyyyyyyyyk...", ".kkkkkkkkkkkk...", "................", "................",
};

// 5, 6, 7: one ray burst in the family colours.
constexpr CharMap kGreenBurst = {
    ".......e........", ".......e........", "..e....E....e...", "...e...E...e....",
    "....E..E..E.....", ".....EEEEE......", ".....EwwwE......", "eeEEEEwwwEEEEee.",
    ".....EwwwE......", ".....EEEEE......", "....E..E..E.....", "...e...E...e....",
    "..e....E....e...", ".......e........", ".......e........", "................",
};

constexpr CharMap kRedBurst = {
    ".......r........", ".......r........", "..r....R....r...", "...r...R...r....",
    "....R..R..R.....", ".....RRRRR......", ".....RwwwR......", "rrRRRRwwwRRRRrr.",
    ".....RwwwR......", ".....RRRRR......", "....R..R..R.....", "...r...R...r....",
    "..r....R....r...", ".......r........", ".......r........", "................",
};

constexpr CharMap kBlueBurst = {
    ".......b........", ".......b........", "..b....B....b...", "...b...B...b....",
    "....B..B..B.....", ".....BBBBB......", ".....BwwwB......", "bbBBBBwwwBBBBbb.",
    ".....BwwwB......", ".....BBBBB......", "....B..B..B.....", "...b...B...b....",
    "..b....B....b...", ".......b........", ".......b........", "................",
};

// In the order the tree and the class catalogue number them.
constexpr const CharMap* kPictures[kPictureCount] = {&kWaveform,   &kMonitor,  &kFolder,   &kOpenFolder,
                                                     &kGreenBurst, &kRedBurst, &kBlueBurst};

constexpr bool AllWellFormed() {
  for (const CharMap* map : kPictures)
    if (!IsWellFormed(*map)) return false;
  return true;
}
static_assert(AllWellFormed(), "every picture is 16 x 16 in palette colours");

}  // namespace

PicturePixels PictureOf(int index) {
  PicturePixels pixels;
  pixels.fill(kPictureMask);
  if (index < 1 || index > kPictureCount) return pixels;
  const CharMap& map = *kPictures[index - 1];
  for (int y = 0; y < kPictureSize; ++y)
    for (int x = 0; x < kPictureSize; ++x) pixels[y * kPictureSize + x] = FindInk(map[y][x])->rgb;
  return pixels;
}

}  // namespace velcorin
