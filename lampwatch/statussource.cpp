#include "statussource.h"

#include "panel.h"

#include <cerrno>
#include <memory>

namespace lampwatch {

StatusSource hardwareStatusSource() {
    auto started = std::make_shared<bool>(false);
    return StatusSource{[started] {
                            if (*started)
                                return panel_device_open() == 0 ? 0 : errno;
                            *started = true;
                            panel_open();
                            return fpga_fd < 0 ? errno : 0;
                        },
                        [] { return status_bits_get(); }};
}

}  // namespace lampwatch
