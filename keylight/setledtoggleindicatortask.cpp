#include "setledtoggleindicatortask.h"

#include "panel.h"

namespace keylight {

SetLEDToggleIndicatorTask::SetLEDToggleIndicatorTask(int index, int state)
    : _index(index), _state(state) {}

void SetLEDToggleIndicatorTask::execute() {
    led_toggle_indicator(_index, _state);
}

}  // namespace keylight
