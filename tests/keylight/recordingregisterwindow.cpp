#include "recordingregisterwindow.h"

namespace keylight {

void RecordingRegisterWindow::store(std::uint32_t byteOffset, std::uint32_t value) {
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _stores.push_back({byteOffset, value});
    }
    _stored.notify_all();
}

std::vector<RecordingRegisterWindow::Store> RecordingRegisterWindow::stores() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _stores;
}

bool RecordingRegisterWindow::waitForStores(std::size_t count,
                                            std::chrono::milliseconds guard) const {
    std::unique_lock<std::mutex> lock(_mutex);
    return _stored.wait_for(lock, guard, [&] { return _stores.size() >= count; });
}

}  // namespace keylight
