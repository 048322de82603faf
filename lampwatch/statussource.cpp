#include "statussource.h"

#include "panel.h"

namespace lampwatch {

StatusSource hardwareStatusSource() {
    return StatusSource{[] { panel_open(); }, [] { return status_bits_get(); }};
}

}  // namespace lampwatch
