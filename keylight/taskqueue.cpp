#include "taskqueue.h"

#include <utility>

namespace keylight {

TaskQueue::TaskQueue(size_t budget) : _budget(budget) {}

void TaskQueue::push(int poster, std::unique_ptr<FPGATask> task, size_t cost) {
    Lane& lane = poster == kPanel ? _panel : _connections[poster];
    lane.push_back({std::move(task), cost});
    _cost += cost;
    _reachedBudget = _reachedBudget || _cost >= _budget;
}

std::unique_ptr<FPGATask> TaskQueue::takeNext() {
    if (!_panel.empty()) {
        return takeFrom(_panel);
    }
    if (_connections.empty()) {
        return nullptr;
    }
    auto next = _connections.upper_bound(_lastServed);
    if (next == _connections.end()) {
        next = _connections.begin();
    }
    _lastServed = next->first;
    std::unique_ptr<FPGATask> task = takeFrom(next->second);
    if (next->second.empty()) {
        _connections.erase(next);
    }
    return task;
}

bool TaskQueue::accepts(int poster) const {
    if (_cost < _budget) {
        return true;
    }
    return poster == kPanel ? _panel.empty() : _connections.count(poster) == 0;
}

bool TaskQueue::drainedAfterFull() {
    if (!_reachedBudget || _cost > _budget / 2) {
        return false;
    }
    _reachedBudget = false;
    return true;
}

void TaskQueue::clear() {
    _panel.clear();
    _connections.clear();
    _cost = 0;
    _reachedBudget = false;
}

std::unique_ptr<FPGATask> TaskQueue::takeFrom(Lane& lane) {
    Entry entry = std::move(lane.front());
    lane.pop_front();
    _cost -= entry.cost;
    return std::move(entry.task);
}

}  // namespace keylight
