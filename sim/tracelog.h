// The daemon's trace: every model line appended to ROOT/trace.log, flushed per line, and the
// most recent lines kept in memory for the live page.
#pragma once

#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

namespace panelsim {

class TraceLog {
public:
    static constexpr size_t KEPT_LINES = 1000;

    TraceLog() = default;
    ~TraceLog();
    TraceLog(const TraceLog&) = delete;
    TraceLog& operator=(const TraceLog&) = delete;

    // Opens path for appending; false (errno set) when it cannot be opened.
    bool open(const std::string& path);
    void append(const std::string& line);
    // The last count lines (at most KEPT_LINES), oldest first, each ending in a line end.
    std::string tail(size_t count) const;

private:
    mutable std::mutex _mutex;
    std::FILE* _file = nullptr;
    std::deque<std::string> _recent;
};

}  // namespace panelsim
