#include "settftintensitytask.h"

#include "panel.h"

namespace keylight {

SetTFTIntensityTask::SetTFTIntensityTask(int percent) : _percent(percent) {}

void SetTFTIntensityTask::execute() {
    tft_intensity(_percent);
}

}  // namespace keylight
