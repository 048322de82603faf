#include "workerthread.h"

#include <QMutexLocker>

#include <utility>

namespace keylight {

WorkerThread::WorkerThread(QMutex* lock, QMutex* queueLock, QSemaphore* pending,
                           TaskQueue* queue, const std::atomic<bool>* running)
    : _lock(lock), _queueLock(queueLock), _pending(pending), _queue(queue), _running(running) {}

void WorkerThread::run() {
    for (;;) {
        _pending->acquire();
        std::unique_ptr<FPGATask> task;
        {
            // The stop flag is read under the queue lock and nothing of this object is touched
            // after it: the owner's clean-up, which takes the same lock, is thereby ordered
            // after everything this thread did.
            QMutexLocker locker(_queueLock);
            if (!_running->load()) {
                return;
            }
            if (_queue->empty()) {
                continue;
            }
            task = std::move(_queue->front());
            _queue->pop_front();
        }
        if (task) {
            QMutexLocker locker(_lock);
            task->execute();
        }
    }
}

}  // namespace keylight
