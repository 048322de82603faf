#pragma once

#include "registerwindow.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace keylight {

// Records every store in order instead of touching hardware, for the vacuum writer's tests.
// Safe to store from one thread and read from another.
class RecordingRegisterWindow : public RegisterWindow {
public:
    struct Store {
        std::uint32_t byteOffset;
        std::uint32_t value;
        bool operator==(const Store& other) const {
            return byteOffset == other.byteOffset && value == other.value;
        }
    };

    void store(std::uint32_t byteOffset, std::uint32_t value) override;

    // The stores so far, oldest first.
    std::vector<Store> stores() const;
    // Blocks until at least count stores were made; false when guard passed first.
    bool waitForStores(std::size_t count, std::chrono::milliseconds guard) const;

private:
    mutable std::mutex _mutex;
    mutable std::condition_variable _stored;
    std::vector<Store> _stores;
};

}  // namespace keylight
