#include "tracelog.h"

namespace panelsim {

TraceLog::~TraceLog() {
    if (_file != nullptr)
        std::fclose(_file);
}

bool TraceLog::open(const std::string& path) {
    _file = std::fopen(path.c_str(), "ae");
    return _file != nullptr;
}

void TraceLog::append(const std::string& line) {
    std::lock_guard<std::mutex> lock(_mutex);
    if (_file != nullptr) {
        std::fputs(line.c_str(), _file);
        std::fputc('\n', _file);
        // Readers (tests, tail -f) see each access as soon as it executed.
        std::fflush(_file);
    }
    _recent.push_back(line);
    if (_recent.size() > KEPT_LINES)
        _recent.pop_front();
}

std::string TraceLog::tail(size_t count) const {
    std::lock_guard<std::mutex> lock(_mutex);
    std::string text;
    const size_t skip = _recent.size() > count ? _recent.size() - count : 0;
    for (size_t i = skip; i < _recent.size(); ++i) {
        text += _recent[i];
        text += '\n';
    }
    return text;
}

}  // namespace panelsim
