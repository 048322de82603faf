#include "setledstatusindicatortask.h"

#include "panel.h"

namespace keylight {

SetLEDStatusIndicatorTask::SetLEDStatusIndicatorTask(int ledIndex, int state)
    : _led_index(ledIndex), _state(state) {}

void SetLEDStatusIndicatorTask::execute() {
    led_status_indicator(_led_index, _state);
}

}  // namespace keylight
