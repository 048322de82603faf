#include "setledbuttonstatetask.h"

#include "panel.h"

namespace keylight {

SetLEDButtonStateTask::SetLEDButtonStateTask(int ledIndex, int state)
    : _ledIndex(ledIndex), _state(state) {}

void SetLEDButtonStateTask::execute() {
    led_button_state(_ledIndex, _state);
}

}  // namespace keylight
