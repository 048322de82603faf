// TFT controller access through the FPGA's index/data register pairs.
#include "panel.h"
#include "panel_internal.h"
#include "registers.h"

#include <cstdio>

int screen_mask(int screenId) {
    switch (screenId) {
    case 0:
        return 1;
    case 1:
        return 2;
    case 2:
        return 4;
    case SCREEN_ALL:
        return SCREEN_MASK_ALL;
    default:
        log_printf(log_priority::err, "Invalid screen ID %d.\n", screenId);
        return -1;
    }
}

namespace {

uint32_t index_register(int mask) {
    return REG_TFT_INDEX_BASE + 2u * static_cast<uint32_t>(mask);
}
uint32_t data_register(int mask) {
    return REG_TFT_DATA_BASE + 2u * static_cast<uint32_t>(mask);
}

}  // namespace

int tft_index(int mask, int number) {
    return reg_write_high(index_register(mask), static_cast<uint8_t>(number & 0xFF));
}

int tft_data(int mask, uint16_t value) {
    return reg_write(data_register(mask), value);
}

int tft_pixels(int mask, uint16_t* words, uint32_t count) {
    return fpga_write(fpga_fd, data_register(mask), words, count & 0xFFFF);
}

int tft_register(int mask, int number, uint16_t value) {
    tft_index(mask, TFT_INDEX_PREFIX);
    tft_index(mask, number);
    return tft_data(mask, value);
}

void start_pixel_transfer(int mask) {
    tft_register(mask, TFT_REG_ADDRESS_SET, 0);
    tft_index(mask, TFT_INDEX_PREFIX);
    tft_index(mask, TFT_REG_MEMORY_WRITE);
}

void tft_full_window() {
    tft_register(SCREEN_MASK_ALL, TFT_REG_WINDOW_COLUMNS, TFT_WINDOW_ALL_COLUMNS);
    tft_register(SCREEN_MASK_ALL, TFT_REG_WINDOW_ROWS, TFT_WINDOW_ALL_ROWS);
}
