#pragma once

#include <cstdint>

namespace keylight {

// The FPGA's 32-bit register window as the vacuum display writer sees it: one store at a time,
// addressed by byte offset from the window's base.
class RegisterWindow {
public:
    virtual ~RegisterWindow() = default;
    // Stores value in the 32-bit register at byteOffset (a multiple of 4).
    virtual void store(std::uint32_t byteOffset, std::uint32_t value) = 0;
};

}  // namespace keylight
