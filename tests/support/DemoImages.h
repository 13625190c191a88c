// Pictures for synthetic caches: small valid PNG and GIF files with a
// pattern, so that the demo and the screenshots show real images.
#pragma once

#include <cstdint>
#include <string>

namespace oriel::test {

// A width x height RGBA PNG: a colour gradient from `seed` with rings, and
// an alpha channel that fades toward the corners (to show blending).
std::string MakePatternPng(uint32_t width, uint32_t height, uint32_t seed);

// A width x height GIF89a with a 256-colour palette from `seed`, its
// pixels stored as LZW literals (valid for every decoder, not compact).
std::string MakePatternGif(uint16_t width, uint16_t height, uint32_t seed);

// A baseline JPEG of blocksWide x blocksHigh 8-pixel tiles, each tile one
// colour of a gradient from `seed` (only the DC term of each block is
// coded, so the encoder stays small and exact).
std::string MakeMosaicJpeg(uint16_t blocksWide, uint16_t blocksHigh, uint32_t seed);

// The colour MakeMosaicJpeg gives the tile in block column bx, row by.
uint32_t MosaicTileRgb(uint16_t bx, uint16_t by, uint16_t blocksWide, uint16_t blocksHigh, uint32_t seed);

} // namespace oriel::test
