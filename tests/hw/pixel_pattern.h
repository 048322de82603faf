// The colours of the generated test pictures (tests/hw/testdata.cmake writes the same).
#pragma once

#include <cstdint>

struct pattern_colour {
    int r, g, b;
};

inline pattern_colour pattern_at(int x, int y) {
    return {(x * 40 + 10) % 256, (y * 50 + 5) % 256, ((x * 7 + y * 13) * 3) % 256};
}

inline uint16_t pattern_565(int x, int y) {
    const pattern_colour c = pattern_at(x, y);
    return static_cast<uint16_t>(((c.r >> 3) << 11) | ((c.g >> 2) << 5) | (c.b >> 3));
}
