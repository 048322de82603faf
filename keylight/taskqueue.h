// The hardware tasks waiting for the worker thread, one lane per poster, and their hand-over
// from the threads that post them to the one thread that takes them.
//
// The panel's own tasks (blink phases, the start-up blackout) go before everything else: there
// are few of them (one waiting phase per blinking LED, see BlinkingLed) and a blinking LED must
// not lag behind a flood. A blink's first task goes in the lane of the connection that asked
// for it, so that the blink does not overtake that connection's earlier work. The connections'
// lanes take turns, one task each, so a connection that floods delays another connection's work by
// at most one task of its own; within a lane tasks keep their posting order.
#pragma once

#include <QMutex>
#include <QSemaphore>

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>

#include "fpgatask.h"

namespace keylight {

class TaskQueue {
public:
    // The poster of the work that no connection asked for.
    static constexpr int PANEL_POSTER = 0;

    // budget: the cost at which the connections that add to the queue are held back.
    // limit: the cost, above budget, at which every connection is held back, also one that
    // has no task waiting.
    // drained: called by take(), on the taking thread and outside the queue's lock, each time
    // the cost has fallen to half the budget after reaching it; the connections held back
    // meanwhile may then be read again.
    // resumed: called by take() in the same way when the task taken before has finished after
    // stallBegins() reported a stall, with how long the taker went without finishing a task.
    TaskQueue(size_t budget, size_t limit, std::function<void()> drained,
              std::function<void(std::chrono::milliseconds)> resumed);
    // Destroys every task still waiting, unexecuted.
    ~TaskQueue();

    TaskQueue(const TaskQueue&) = delete;
    TaskQueue& operator=(const TaskQueue&) = delete;

    // Appends task to poster's lane and returns at once; cost is what the task holds in bytes,
    // counted until it is taken. Any thread.
    void post(int poster, std::unique_ptr<FPGATask> task, size_t cost);
    // Waits for a task and hands over the next one by the rule above; null once stop() has
    // been called, and the tasks still waiting then stay here. One thread only, which calling
    // it again says it has finished the task taken before.
    std::unique_ptr<FPGATask> take();
    // Makes the waiting or the next take() return null.
    void stop();
    // Whether poster may add work: while the waiting tasks cost less than the budget, or while
    // none of them is poster's (a quiet connection is not held back by another's flood) and
    // they cost less than the limit (nor do many connections at once go beyond it).
    bool accepts(int poster) const;
    // Tasks waiting or in progress. Any thread.
    size_t unfinished() const;
    // How long the taker has had tasks waiting or in progress without finishing one, at least
    // 1 ms then; zero while it is idle. Any thread.
    std::chrono::milliseconds stalledFor() const;
    // True once per stall, the first time it is asked while the taker has been stalled for
    // at least limit; take() reports the stall's end to resumed. Any thread.
    bool stallBegins(std::chrono::milliseconds limit);
    // What the waiting tasks cost together. Any thread.
    size_t cost() const;

private:
    struct Entry {
        std::unique_ptr<FPGATask> task;
        size_t cost;
    };
    using Lane = std::deque<Entry>;

    using Clock = std::chrono::steady_clock;

    // These run under _lock.
    std::unique_ptr<FPGATask> takeNext();
    std::unique_ptr<FPGATask> takeFrom(Lane& lane);
    bool drainedAfterFull();
    bool idle() const;
    std::chrono::milliseconds stalledForLocked(Clock::time_point now) const;

    mutable QMutex _lock;   // guards everything below but pending
    QSemaphore pending{0};  // one unit per waiting task, and one from stop()
    bool running = true;
    Lane _panel;
    std::map<int, Lane> _connections;  // only lanes that hold tasks
    int _last_served = PANEL_POSTER;   // the connection whose task was taken last
    size_t _budget;
    size_t _limit;
    size_t _cost = 0;
    bool _reached_budget = false;
    std::function<void()> _drained;
    bool _in_progress = false;       // the taker has a task it has not finished
    Clock::time_point _progress_at;  // when the taker last finished a task or got work
    bool _stall_reported = false;
    std::function<void(std::chrono::milliseconds)> _resumed;
};

}  // namespace keylight
