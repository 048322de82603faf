// One piece of hardware work, queued by the FPGA object and executed by its worker thread.
#pragma once

namespace keylight {

class FPGATask {
public:
    virtual ~FPGATask() = default;
    // Performs the work through the panel hardware library. Runs on the worker thread, one
    // task at a time; failures are the library's own messages.
    virtual void execute() = 0;
};

}  // namespace keylight
