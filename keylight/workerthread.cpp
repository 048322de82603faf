#include "workerthread.h"

#include <QMutexLocker>

#include <memory>

#include "panel.h"

namespace keylight {

WorkerThread::WorkerThread(TaskQueue& queue, QMutex& lock) : _queue(queue), _lock(lock) {}

void WorkerThread::run() {
    // The tasks' button LED commands are issued here, and their pauses sleep here.
    led_pause_thread_prepare();
    while (std::unique_ptr<FPGATask> task = _queue.take()) {
        QMutexLocker locker(&_lock);
        task->execute();
    }
}

}  // namespace keylight
