#include "setledstatusindicatortask.h"

#include "panel.h"

namespace keylight {

SetLEDStatusIndicatorTask::SetLEDStatusIndicatorTask(int ledIndex, int state)
    : _ledIndex(ledIndex), _state(state) {}

void SetLEDStatusIndicatorTask::execute() {
    led_status_indicator(_ledIndex, _state);
}

}  // namespace keylight
