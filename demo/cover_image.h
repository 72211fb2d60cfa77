#pragma once
// Cover pictures for the demo books: small PNG images made in memory, no image library needed.

#include <cstdint>
#include <string>

namespace tovani::demo {

/// A `width` x `height` RGB PNG: a solid background of the colour derived from `seed`, with a
/// darker band across the upper third like a title plate. Same seed, same bytes.
std::string cover_png(std::uint32_t seed, int width = 90, int height = 120);

} // namespace tovani::demo
