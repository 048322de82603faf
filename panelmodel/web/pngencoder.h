// PNG encoding of screen pictures.
#pragma once

#include <string>
#include <vector>

#include "fpgamodel.h"

namespace panelsim {

// The pictures side by side, left to right, as one 8-bit RGB PNG file (RGB565 channels widened
// by bit replication). Empty when libpng fails or there is no picture.
std::string encodePng(const std::vector<Picture>& pictures);

inline std::string encodePng(const Picture& picture) {
    return encodePng(std::vector<Picture>{picture});
}

}  // namespace panelsim
