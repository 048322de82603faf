#pragma once

#include "registerwindow.h"

namespace keylight {

// Stores straight into a memory-mapped register window that its creator mapped and keeps.
class MappedRegisterWindow : public RegisterWindow {
public:
    explicit MappedRegisterWindow(volatile std::uint32_t* base);
    void store(std::uint32_t byteOffset, std::uint32_t value) override;

private:
    volatile std::uint32_t* _base;
};

}  // namespace keylight
