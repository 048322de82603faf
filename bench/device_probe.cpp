// The CPU of one device round trip as keylight's worker makes it: a register read through
// the hardware library, run by bench_load under panelsim-run against its board. Prints one
// line, the CPU time per read in microseconds of the whole process.
//
//   device_probe back-to-back COUNT   # reads one after the other: the round trip alone
//   device_probe handed COUNT         # one read a millisecond, each handed by a thread that
//                                     # wakes for it to a thread that sleeps until then
#include <time.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "panel.h"
#include "registers.h"

namespace {

double processCpuMicroseconds() {
    timespec used{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return static_cast<double>(used.tv_sec) * 1e6 + static_cast<double>(used.tv_nsec) / 1e3;
}

void readBackToBack(int fd, int count) {
    for (int i = 0; i < count; ++i) {
        fpga_read(fd, REG_STATUS);
    }
}

// The shape of a message one by one in keylight: the event loop wakes, hands the request to
// the worker, which wakes and makes it.
void readHanded(int fd, int count) {
    std::mutex lock;
    std::condition_variable posted;
    int waiting = 0;
    std::thread worker([&] {
        for (int done = 0; done < count; ++done) {
            {
                std::unique_lock<std::mutex> held(lock);
                posted.wait(held, [&] { return waiting > 0; });
                --waiting;
            }
            fpga_read(fd, REG_STATUS);
        }
    });
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(i));
        {
            std::lock_guard<std::mutex> held(lock);
            ++waiting;
        }
        posted.notify_one();
    }
    worker.join();
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc == 3 ? std::atoi(argv[2]) : 0;
    const bool handed = argc == 3 && std::strcmp(argv[1], "handed") == 0;
    if (count <= 0 || (!handed && std::strcmp(argv[1], "back-to-back") != 0)) {
        std::fprintf(stderr, "usage: device_probe back-to-back|handed COUNT\n");
        return 2;
    }
    const int fd = fpga_open(nullptr);
    if (fd < 0) {
        std::perror("device_probe: /dev/fpga-reg");
        return 1;
    }
    fpga_read(fd, REG_STATUS);
    const double before = processCpuMicroseconds();
    if (handed) {
        readHanded(fd, count);
    } else {
        readBackToBack(fd, count);
    }
    std::printf("%.2f\n", (processCpuMicroseconds() - before) / count);
    return 0;
}
