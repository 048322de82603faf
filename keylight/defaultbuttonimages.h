// The pictures that the image store holds before any client uploads one: ids 0 to 22.
#pragma once

#include <array>

#include "buttonimage.h"

namespace keylight {

constexpr int DEFAULT_IMAGE_COUNT = 23;

// Picture i is a frame around the 36 x 24 button with the number i shown inside as five
// square marks, a filled mark for a set bit, most significant bit left.
const std::array<ButtonImage::Bytes, DEFAULT_IMAGE_COUNT>& defaultButtonImages();

}  // namespace keylight
