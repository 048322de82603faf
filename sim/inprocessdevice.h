// Routes the hardware library's device seam to an FpgaModel in the same process, for tests.
// While an InProcessDevice lives, opening "/dev/fpga-reg" opens a connection of the model;
// any other path fails with ENOENT. The destructor restores the real system calls.
#pragma once

#include "fpgamodel.h"

namespace panelsim {

class InProcessDevice {
public:
    explicit InProcessDevice(FpgaModel& model);
    ~InProcessDevice();
    InProcessDevice(const InProcessDevice&) = delete;
    InProcessDevice& operator=(const InProcessDevice&) = delete;
};

}  // namespace panelsim
