#include "workerthread.h"

#include <memory>

#include "panel.h"

namespace keylight {

WorkerThread::WorkerThread(TaskQueue& queue) : _queue(queue) {}

void WorkerThread::run() {
    // The tasks' button LED commands are issued here, and their pauses sleep here.
    led_pause_thread_prepare();
    while (std::unique_ptr<FPGATask> task = _queue.take()) {
        task->execute();
    }
}

}  // namespace keylight
