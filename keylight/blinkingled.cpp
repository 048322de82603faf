#include "blinkingled.h"

#include <atomic>
#include <climits>
#include <optional>
#include <utility>

#include "fpga.h"
#include "fpgatask.h"
#include "panel.h"

namespace keylight {

// The phase a task waiting for the worker is to show. Only the event-loop thread moves it
// away from NO_TASK (it posts a task then), only the worker moves it to NO_TASK (its task is
// executing), so a phase is either in a waiting task or gives rise to a new one, never lost.
class BlinkingLed::Slot {
public:
    static constexpr int NO_TASK = INT_MIN;
    static constexpr int NO_PHASE = INT_MIN + 1;

    // Puts state into the waiting task; false when none waits, and then a task must be posted
    // to show it.
    bool replace(int state) {
        int current = _phase.load();
        while (current != NO_TASK) {
            if (_phase.compare_exchange_weak(current, state)) {
                return true;
            }
        }
        _phase.store(state);
        return false;
    }

    void withdraw() { _phase.store(NO_PHASE); }

    // The phase to show, for the task that executes now; none once withdrawn.
    std::optional<int> take() {
        const int phase = _phase.exchange(NO_TASK);
        if (phase == NO_TASK || phase == NO_PHASE) {
            return std::nullopt;
        }
        return phase;
    }

private:
    std::atomic<int> _phase{NO_PHASE};
};

namespace {

class BlinkPhaseTask : public FPGATask {
public:
    BlinkPhaseTask(int index, std::shared_ptr<BlinkingLed::Slot> slot)
        : _index(index), _slot(std::move(slot)) {}

    void execute() override {
        if (const std::optional<int> state = _slot->take()) {
            led_button_state(_index, *state);
        }
    }

private:
    int _index;
    std::shared_ptr<BlinkingLed::Slot> _slot;
};

}  // namespace

BlinkingLed::BlinkingLed(FPGA* fpga, int ledIndex)
    : _fpga(fpga), _index(ledIndex), _slot(std::make_shared<Slot>()) {
    post();
}

BlinkingLed::~BlinkingLed() {
    _slot->withdraw();
}

void BlinkingLed::show(int state) {
    if (!_slot->replace(state)) {
        post();
    }
}

void BlinkingLed::post() {
    _fpga->post(std::make_unique<BlinkPhaseTask>(_index, _slot), sizeof(BlinkPhaseTask));
}

}  // namespace keylight
