#include "tracelog.h"

namespace panelsim {

TraceLog::~TraceLog() {
    if (file_ != nullptr) std::fclose(file_);
}

bool TraceLog::open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "ae");
    return file_ != nullptr;
}

void TraceLog::append(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ != nullptr) {
        std::fputs(line.c_str(), file_);
        std::fputc('\n', file_);
        // Readers (tests, tail -f) see each access as soon as it executed.
        std::fflush(file_);
    }
    recent_.push_back(line);
    if (recent_.size() > kKeptLines) recent_.pop_front();
}

std::string TraceLog::tail(size_t count) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text;
    const size_t skip = recent_.size() > count ? recent_.size() - count : 0;
    for (size_t i = skip; i < recent_.size(); ++i) {
        text += recent_[i];
        text += '\n';
    }
    return text;
}

}  // namespace panelsim
