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

} // namespace oriel::test
