// The one thread that executes hardware tasks, in the order they were queued.
#pragma once

#include <QMutex>
#include <QSemaphore>
#include <QThread>

#include <atomic>
#include <deque>
#include <memory>

#include "fpgatask.h"

namespace keylight {

class WorkerThread : public QThread {
public:
    using TaskQueue = std::deque<std::unique_ptr<FPGATask>>;

    // Everything points into the owning FPGA object, which outlives the thread. queueLock
    // guards both ends of queue; pending counts queued tasks plus one unit to stop.
    WorkerThread(QMutex* lock, QMutex* queueLock, QSemaphore* pending, TaskQueue* queue,
                 const std::atomic<bool>* running);

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
};

}  // namespace keylight
