#include "workerthread.h"

#include <QMutexLocker>

#include <memory>

namespace keylight {

WorkerThread::WorkerThread(TaskQueue& queue, QMutex& lock) : _queue(queue), _lock(lock) {}

void WorkerThread::run() {
    while (std::unique_ptr<FPGATask> task = _queue.take()) {
        QMutexLocker locker(&_lock);
        task->execute();
    }
}

}  // namespace keylight
