#include "workerthread.h"

#include <QMutexLocker>

#include <memory>
#include <utility>

namespace keylight {

WorkerThread::WorkerThread(QMutex* lock, QMutex* queueLock, QSemaphore* pending,
                           TaskQueue* queue, const std::atomic<bool>* running,
                           std::function<void()> drained)
    : _lock(lock),
      _queueLock(queueLock),
      _pending(pending),
      _queue(queue),
      _running(running),
      _drained(std::move(drained)) {}

void WorkerThread::run() {
    for (;;) {
        _pending->acquire();
        std::unique_ptr<FPGATask> task;
        bool drained = false;
        {
            // The stop flag is read under the queue lock and nothing of this object is touched
            // after it: the owner's clean-up, which takes the same lock, is thereby ordered
            // after everything this thread did.
            QMutexLocker locker(_queueLock);
            if (!_running->load()) {
                return;
            }
            task = _queue->takeNext();
            drained = _queue->drainedAfterFull();
        }
        if (drained) {
            _drained();
        }
        if (task) {
            QMutexLocker locker(_lock);
            task->execute();
        }
    }
}

}  // namespace keylight
