// The one thread that executes hardware tasks, in the order the task queue hands them out.
#pragma once

#include <QMutex>
#include <QThread>

#include "taskqueue.h"

namespace keylight {

class WorkerThread : public QThread {
public:
    // queue and lock belong to the owning FPGA object, which outlives the thread. lock is held
    // while a task executes; the font reload takes it too.
    WorkerThread(TaskQueue& queue, QMutex& lock);

protected:
    // Executes each task that the queue hands out under lock, until the queue is stopped.
    void run() override;

private:
    TaskQueue& _queue;
    QMutex& _lock;
};

}  // namespace keylight
