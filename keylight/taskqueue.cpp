#include "taskqueue.h"

#include <QMutexLocker>

#include <algorithm>
#include <utility>

namespace keylight {

TaskQueue::TaskQueue(size_t budget, size_t limit, std::function<void()> drained,
                     std::function<void(std::chrono::milliseconds)> resumed)
    : _budget(budget), _limit(limit), _drained(std::move(drained)), _resumed(std::move(resumed)) {}

TaskQueue::~TaskQueue() {
    // Taken after the taker has stopped, the lock orders everything it did before this.
    QMutexLocker locker(&_lock);
    _panel.clear();
    _connections.clear();
}

void TaskQueue::post(int poster, std::unique_ptr<FPGATask> task, size_t cost) {
    {
        QMutexLocker locker(&_lock);
        if (idle()) {
            _progress_at = Clock::now();
        }
        Lane& lane = poster == PANEL_POSTER ? _panel : _connections[poster];
        lane.push_back({std::move(task), cost});
        _cost += cost;
        _reached_budget = _reached_budget || _cost >= _budget;
    }
    pending.release();
}

std::unique_ptr<FPGATask> TaskQueue::take() {
    std::chrono::milliseconds stall{0};
    bool resumed = false;
    {
        QMutexLocker locker(&_lock);
        if (_in_progress) {
            const Clock::time_point now = Clock::now();
            resumed = std::exchange(_stall_reported, false);
            stall = stalledForLocked(now);
            _in_progress = false;
            _progress_at = now;
        }
    }
    if (resumed) {
        _resumed(stall);
    }
    pending.acquire();
    std::unique_ptr<FPGATask> task;
    bool drained = false;
    {
        // The stop flag is read under the lock that the destructor takes, and the taker
        // touches nothing of the queue after a null task: its end is ordered before the
        // tasks left behind are destroyed.
        QMutexLocker locker(&_lock);
        if (!running) {
            return nullptr;
        }
        task = takeNext();
        _in_progress = task != nullptr;
        drained = drainedAfterFull();
    }
    if (drained) {
        _drained();
    }
    return task;
}

void TaskQueue::stop() {
    {
        QMutexLocker locker(&_lock);
        running = false;
    }
    pending.release();
}

bool TaskQueue::accepts(int poster) const {
    QMutexLocker locker(&_lock);
    if (_cost < _budget) {
        return true;
    }
    if (_cost >= _limit) {
        return false;
    }
    return poster == PANEL_POSTER ? _panel.empty() : _connections.count(poster) == 0;
}

size_t TaskQueue::unfinished() const {
    QMutexLocker locker(&_lock);
    size_t tasks = _panel.size() + (_in_progress ? 1 : 0);
    for (const auto& [poster, lane] : _connections) {
        tasks += lane.size();
    }
    return tasks;
}

std::chrono::milliseconds TaskQueue::stalledFor() const {
    QMutexLocker locker(&_lock);
    return stalledForLocked(Clock::now());
}

bool TaskQueue::stallBegins(std::chrono::milliseconds limit) {
    QMutexLocker locker(&_lock);
    if (_stall_reported || stalledForLocked(Clock::now()) < limit) {
        return false;
    }
    _stall_reported = true;
    return true;
}

bool TaskQueue::idle() const {
    return !_in_progress && _panel.empty() && _connections.empty();
}

std::chrono::milliseconds TaskQueue::stalledForLocked(Clock::time_point now) const {
    if (idle()) {
        return std::chrono::milliseconds{0};
    }
    // Not zero while busy, even just after the last progress: zero means idle.
    return std::max(std::chrono::milliseconds{1},
                    std::chrono::duration_cast<std::chrono::milliseconds>(now - _progress_at));
}

size_t TaskQueue::cost() const {
    QMutexLocker locker(&_lock);
    return _cost;
}

std::unique_ptr<FPGATask> TaskQueue::takeNext() {
    if (!_panel.empty()) {
        return takeFrom(_panel);
    }
    if (_connections.empty()) {
        return nullptr;
    }
    auto next = _connections.upper_bound(_last_served);
    if (next == _connections.end()) {
        next = _connections.begin();
    }
    _last_served = next->first;
    std::unique_ptr<FPGATask> task = takeFrom(next->second);
    if (next->second.empty()) {
        _connections.erase(next);
    }
    return task;
}

std::unique_ptr<FPGATask> TaskQueue::takeFrom(Lane& lane) {
    Entry entry = std::move(lane.front());
    lane.pop_front();
    _cost -= entry.cost;
    return std::move(entry.task);
}

bool TaskQueue::drainedAfterFull() {
    if (!_reached_budget || _cost > _budget / 2) {
        return false;
    }
    _reached_budget = false;
    return true;
}

}  // namespace keylight
