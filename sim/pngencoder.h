// PNG encoding of a screen picture.
#pragma once

#include <string>

#include "fpgamodel.h"

namespace panelsim {

// The picture as an 8-bit RGB PNG file (RGB565 channels widened by bit replication).
// Empty when libpng fails.
std::string encodePng(const Picture& picture);

}  // namespace panelsim
