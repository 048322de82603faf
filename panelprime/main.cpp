// Brings the TFT controllers of the three button screens up, then exits.
#include <cstdio>

#include "panel.h"

int main() {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    panel_open();
    tft_controller_init();
    return 0;
}
