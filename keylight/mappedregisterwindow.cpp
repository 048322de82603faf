#include "mappedregisterwindow.h"

namespace keylight {

MappedRegisterWindow::MappedRegisterWindow(volatile std::uint32_t* base) : _base(base) {}

void MappedRegisterWindow::store(std::uint32_t byteOffset, std::uint32_t value) {
    _base[byteOffset / sizeof(std::uint32_t)] = value;
}

}  // namespace keylight
