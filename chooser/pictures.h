// The seven 16 x 16 pictures of the chooser's tree, kept as character maps.
#pragma once

#include <array>
#include <cstdint>

namespace velcorin {

inline constexpr int kPictureSize = 16;
inline constexpr int kPictureCount = 7;

// Pixels of this colour are transparent: RGB 192, 192, 192 as 0xRRGGBB.
inline constexpr std::uint32_t kPictureMask = 0xC0C0C0;

using PicturePixels = std::array<std::uint32_t, kPictureSize * kPictureSize>;

// Picture `index` (1-based, as the tree numbers them), row by row from the
// top, each pixel 0xRRGGBB. An index outside 1..7 gives a fully transparent picture.
PicturePixels PictureOf(int index);

}  // namespace velcorin
