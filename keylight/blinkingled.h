// The LED of a blinking button as the blink timer drives it.
//
// Each phase shown replaces the one still waiting for the worker, so that however far the
// worker lags (a device that stops answering), one task per blinking LED waits. The first
// task is posted when the blinking starts, in the order of the poster's other work, with no
// phase yet: the first phase then shows after everything its connection queued before the
// blink request, never before it.
#pragma once

#include <memory>

namespace keylight {

class FPGA;

class BlinkingLed {
public:
    // Posts the first task for button LED ledIndex through fpga, for the current poster.
    BlinkingLed(FPGA* fpga, int ledIndex);
    // Withdraws the phase still waiting, if any: a steady state or a new blink request that
    // follows is not undone by a phase of this blinking that the worker reaches later.
    ~BlinkingLed();

    BlinkingLed(const BlinkingLed&) = delete;
    BlinkingLed& operator=(const BlinkingLed&) = delete;

    // State 1 lit, anything else dark: into the waiting task, or a new task for the panel.
    void show(int state);

    // Shared by this object and the task that waits for the worker.
    class Slot;

private:
    void post();

    FPGA* _fpga;
    int _index;
    std::shared_ptr<Slot> _slot;
};

}  // namespace keylight
