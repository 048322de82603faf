#include "httpserve.h"

#include <httplib.h>
#include <signal.h>

#include <chrono>
#include <cstdio>

namespace panelsim {

namespace {

sigset_t stopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    return signals;
}

}  // namespace

void blockStopSignals() {
    const sigset_t signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

void waitForStopSignal() {
    const sigset_t signals = stopSignals();
    int signalNumber = 0;
    while (sigwait(&signals, &signalNumber) != 0) {
    }
}

int bindHttp(httplib::Server& http, const char* program, const std::string& host, int port) {
    int bound = port;
    if (port == 0) {
        bound = http.bind_to_any_port(host);
    } else if (!http.bind_to_port(host, port)) {
        bound = -1;
    }
    if (bound < 0) {
        std::fprintf(stderr, "%s: cannot listen on %s:%d\n", program, host.c_str(), port);
    }
    return bound;
}

std::thread runHttp(httplib::Server& http) {
    std::thread loop([&http] { http.listen_after_bind(); });
    while (!http.is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return loop;
}

}  // namespace panelsim
