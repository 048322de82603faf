// One push button of the panel, as the dispatcher and the blink logic see it.
#pragma once

#include <memory>

namespace keylight {

class BlinkingLed;

class IButton {
public:
    virtual ~IButton() = default;

    // Sets the button's LED to a state code (1 lit, anything else dark). Queues the change
    // for the worker thread and returns at once.
    virtual void setLEDState(int state) = 0;
    // The button's LED as the blink timer drives it while the button blinks; made when the
    // blinking starts, in the order of the work posted before it.
    virtual std::unique_ptr<BlinkingLed> startBlinking() = 0;
    virtual int id() const = 0;
    virtual bool isEnabled() const = 0;
    // Redraws whatever the button shows; no caller exists.
    virtual void refresh() = 0;
};

}  // namespace keylight
