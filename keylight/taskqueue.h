// The hardware tasks waiting for the worker thread, one lane per poster.
//
// The panel's own tasks (blink ticks, the start-up blackout) go before everything else: there
// are few of them and a blinking LED must not lag behind a flood. The connections' lanes take
// turns, one task each, so a connection that floods delays another connection's work by at
// most one task of its own; within a lane tasks keep their posting order.
//
// Not thread-safe: the owner guards every call with one lock.
#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <memory>

#include "fpgatask.h"

namespace keylight {

class TaskQueue {
public:
    // The poster of the work that no connection asked for.
    static constexpr int kPanel = 0;

    // budget: the cost at which the connections that add to the queue are held back.
    explicit TaskQueue(size_t budget);

    // Appends task to poster's lane; cost is what it holds in bytes, counted until it is taken.
    void push(int poster, std::unique_ptr<FPGATask> task, size_t cost);
    // The next task by the rule above, or null when nothing waits.
    std::unique_ptr<FPGATask> takeNext();
    // Whether poster may add work: while the waiting tasks cost less than the budget, or while
    // none of them is poster's (a quiet connection is never held back by another's flood).
    bool accepts(int poster) const;
    // True once each time the cost has fallen to half the budget after reaching the budget:
    // the connections held back meanwhile may be read again.
    bool drainedAfterFull();
    // Destroys every waiting task unexecuted.
    void clear();

private:
    struct Entry {
        std::unique_ptr<FPGATask> task;
        size_t cost;
    };
    using Lane = std::deque<Entry>;

    std::unique_ptr<FPGATask> takeFrom(Lane& lane);

    Lane _panel;
    std::map<int, Lane> _connections;  // only lanes that hold tasks
    int _lastServed = kPanel;          // the connection whose task was taken last
    size_t _budget;
    size_t _cost = 0;
    bool _reachedBudget = false;
};

}  // namespace keylight
