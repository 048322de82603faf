#include "setledbuttonstatetask.h"

#include "panel.h"

namespace keylight {

SetLEDButtonStateTask::SetLEDButtonStateTask(int ledIndex, int state)
    : _led_index(ledIndex), _state(state) {}

void SetLEDButtonStateTask::execute() {
    led_button_state(_led_index, _state);
}

}  // namespace keylight
