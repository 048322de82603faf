// The one thread that executes hardware tasks, taken from the queue's lanes in turn.
#pragma once

#include <QMutex>
#include <QSemaphore>
#include <QThread>

#include <atomic>
#include <functional>

#include "taskqueue.h"

namespace keylight {

class WorkerThread : public QThread {
public:
    // Everything points into the owning FPGA object, which outlives the thread. queueLock
    // guards queue; pending counts queued tasks plus one unit to stop. drained is called on
    // this thread, outside both locks, whenever the queue has drained after reaching its budget.
    WorkerThread(QMutex* lock, QMutex* queueLock, QSemaphore* pending, TaskQueue* queue,
                 const std::atomic<bool>* running, std::function<void()> drained);

protected:
    // Takes one task per unit of pending and executes it under lock, until a unit arrives
    // with running false; the tasks still queued then stay with their owner.
    void run() override;

private:
    QMutex* _lock;
    QMutex* _queueLock;
    QSemaphore* _pending;
    TaskQueue* _queue;
    const std::atomic<bool>* _running;
    std::function<void()> _drained;
};

}  // namespace keylight
