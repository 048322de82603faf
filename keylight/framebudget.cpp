#include "framebudget.h"

#include <algorithm>
#include <iterator>

#include "clientkeylight.h"
#include "fpga.h"

namespace keylight {

FrameBudget::FrameBudget(const FPGA* fpga, size_t budget) : _fpga(fpga), _budget(budget) {
    _waiting_check.setInterval(WAITING_CHECK_MS);
    connect(&_waiting_check, &QTimer::timeout, this, &FrameBudget::checkWaiting);
}

void FrameBudget::request(ClientKeylight* client, size_t bytes) {
    _waiting.push_back({client, bytes});
    grantOldest();
    // Looking at every waiting frame on each request would cost a pass over all of them per
    // connection; the others are looked at by the timer.
    if (_reserve_holder == nullptr && !_waiting.empty() && _waiting.back().client == client &&
        client->waitingFrameArrived(bytes)) {
        grantReserve(std::prev(_waiting.end()));
    }
    checkWhileWaiting();
}

void FrameBudget::release(ClientKeylight* client) {
    if (client == _reserve_holder) {
        _reserve_holder = nullptr;
    } else if (const auto grant = _grants.find(client); grant != _grants.end()) {
        _granted -= grant->second;
        _grants.erase(grant);
    } else {
        _waiting.erase(std::remove_if(_waiting.begin(), _waiting.end(),
                                      [client](const Request& r) { return r.client == client; }),
                       _waiting.end());
    }
    grantOldest();
    checkWhileWaiting();
}

// Every waiting connection is looked at, also while the reserve is out: one whose peer has
// gone is not read, and only this look finds that it has gone.
void FrameBudget::checkWaiting() {
    grantOldest();
    auto arrived = _waiting.end();
    for (auto waiting = _waiting.begin(); waiting != _waiting.end(); ++waiting) {
        if (waiting->client->waitingFrameArrived(waiting->bytes) && arrived == _waiting.end()) {
            arrived = waiting;
        }
    }
    if (_reserve_holder == nullptr && arrived != _waiting.end()) {
        grantReserve(arrived);
    }
    checkWhileWaiting();
}

// Only the oldest request is granted out of the budget, so a large frame is not passed over
// for ever by smaller ones.
void FrameBudget::grantOldest() {
    while (!_waiting.empty() && _waiting.front().bytes <= room()) {
        const Request next = _waiting.front();
        _waiting.pop_front();
        _grants[next.client] = next.bytes;
        _granted += next.bytes;
        next.client->frameGranted(next.bytes);
    }
}

void FrameBudget::grantReserve(std::deque<Request>::iterator request) {
    const Request next = *request;
    _waiting.erase(request);
    _reserve_holder = next.client;
    next.client->frameGranted(next.bytes);
}

void FrameBudget::checkWhileWaiting() {
    if (_waiting.empty()) {
        _waiting_check.stop();
    } else if (!_waiting_check.isActive()) {
        _waiting_check.start();
    }
}

size_t FrameBudget::room() const {
    const size_t queued = _fpga != nullptr ? std::max(_fpga->queuedBytes(), FPGA::QUEUE_BUDGET) : 0;
    const size_t taken = queued + _granted;
    return taken < _budget ? _budget - taken : 0;
}

}  // namespace keylight
