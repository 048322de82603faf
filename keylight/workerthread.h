// The one thread that executes hardware tasks, in the order the task queue hands them out.
#pragma once

#include <QThread>

#include "taskqueue.h"

namespace keylight {

class WorkerThread : public QThread {
public:
    // queue outlives the thread.
    explicit WorkerThread(TaskQueue& queue);

protected:
    // Executes each task that the queue hands out, until the queue is stopped.
    void run() override;

private:
    TaskQueue& _queue;
};

}  // namespace keylight
