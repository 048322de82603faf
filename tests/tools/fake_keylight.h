// A stand-in for keylight on a free loopback port: it records every byte that each connection
// sends and, when told to, answers query frames the way keylight does.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class FakeKeylight {
public:
    enum class Answers { Queries, None, Garbage };

    explicit FakeKeylight(Answers answers = Answers::Queries);
    ~FakeKeylight();
    FakeKeylight(const FakeKeylight&) = delete;
    FakeKeylight& operator=(const FakeKeylight&) = delete;

    uint16_t port() const { return _port; }

    // Waits until `count` connections have been closed by their clients, then returns the
    // bytes each of them sent, in order of acceptance.
    std::vector<std::vector<uint8_t>> connections(size_t count);

private:
    void serve();
    void serve_connection(int fd);

    Answers _answers;
    int _listener = -1;
    int _wake[2] = {-1, -1};
    uint16_t _port = 0;
    std::mutex _mutex;
    std::condition_variable _closed;
    std::vector<std::vector<uint8_t>> _finished;
    std::thread _thread;
};
