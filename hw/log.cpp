// Diagnostic lines, with the priority prefix that journald reads when the stream is its own.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "panel.h"

namespace {

const char* priority_name(log_priority priority) {
    switch (priority) {
    case log_priority::err:
        return "err";
    case log_priority::warning:
        return "warning";
    case log_priority::info:
        return "info";
    case log_priority::debug:
        break;
    }
    return "debug";
}

// systemd connects a unit's standard output and error to the journal and names that stream
// in JOURNAL_STREAM as "DEVICE:INODE" (decimal). The variable is inherited by children whose
// streams lead elsewhere (a test runner's pipe), so only a descriptor with that device and
// inode is the journal.
bool stream_is_journal(int fd) {
    const char* named = std::getenv("JOURNAL_STREAM");
    if (named == nullptr) {
        return false;
    }
    char* colon = nullptr;
    const unsigned long long device = std::strtoull(named, &colon, 10);
    if (colon == named || *colon != ':') {
        return false;
    }
    char* end = nullptr;
    const unsigned long long inode = std::strtoull(colon + 1, &end, 10);
    if (end == colon + 1 || *end != '\0') {
        return false;
    }
    // stat64: in a 32-bit program plain fstat fails on an inode number beyond 32 bits.
    struct stat64 info;
    return fstat64(fd, &info) == 0 && static_cast<unsigned long long>(info.st_dev) == device &&
           static_cast<unsigned long long>(info.st_ino) == inode;
}

// Fixed for the life of the process: systemd sets both before the program starts.
const bool stdout_journal = stream_is_journal(STDOUT_FILENO);
const bool stderr_journal = stream_is_journal(STDERR_FILENO);

// The least urgent priority written, from PANEL_LOG_LEVEL: "err", "warning", "info" or
// "debug". A unit whose journal keeps info and above (LogLevelMax=info) sets the same level
// here, so that lines nobody keeps are not even formatted. Unset or any other value: all.
log_priority level_from_environment() {
    const char* named = std::getenv("PANEL_LOG_LEVEL");
    if (named == nullptr) {
        return log_priority::debug;
    }
    for (const log_priority priority :
         {log_priority::err, log_priority::warning, log_priority::info}) {
        if (std::strcmp(named, priority_name(priority)) == 0) {
            return priority;
        }
    }
    return log_priority::debug;
}

const log_priority level_kept = level_from_environment();

// Some lines are printed in pieces, and some without their line end; a prefix in the middle
// of a line would be text to the journal, so it goes only where standard output starts one.
std::atomic<bool> stdout_at_line_start{true};

bool is_journal(FILE* stream) {
    return stream == stdout ? stdout_journal : stream == stderr && stderr_journal;
}

// Writes text (length bytes, then a line end when asked) with one fwrite, so that an
// unbuffered stream passes it on in one piece; on the journal's stream with the prefix.
void write_text(FILE* stream, bool journal, log_priority priority, const char* text, size_t length,
                bool line_end) {
    std::string line;
    line.reserve(length + 4);
    flockfile(stream);
    if (journal && (stream != stdout || stdout_at_line_start)) {
        line += '<';
        line += static_cast<char>('0' + static_cast<int>(priority));
        line += '>';
    }
    line.append(text, length);
    if (line_end) {
        line += '\n';
    }
    if (stream == stdout && !line.empty()) {
        stdout_at_line_start = line.back() == '\n';
    }
    std::fwrite(line.data(), 1, line.size(), stream);
    funlockfile(stream);
}

}  // namespace

bool log_kept(log_priority priority) {
    return static_cast<int>(priority) <= static_cast<int>(level_kept);
}

int log_printf(log_priority priority, const char* format, ...) {
    if (!log_kept(priority)) {
        return 0;
    }
    va_list arguments;
    va_start(arguments, format);
    if (!stdout_journal) {
        const int written = std::vprintf(format, arguments);
        va_end(arguments);
        return written;
    }
    char small[256];
    va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(small, sizeof small, format, arguments);
    va_end(arguments);
    if (length < 0) {
        va_end(again);
        return length;
    }
    if (static_cast<size_t>(length) < sizeof small) {
        write_text(stdout, true, priority, small, static_cast<size_t>(length), false);
    } else {
        std::string text(static_cast<size_t>(length) + 1, '\0');
        std::vsnprintf(&text[0], text.size(), format, again);
        write_text(stdout, true, priority, text.data(), static_cast<size_t>(length), false);
    }
    va_end(again);
    return length;
}

int log_puts(log_priority priority, const char* text) {
    if (!log_kept(priority)) {
        return 0;
    }
    if (!stdout_journal) {
        return std::puts(text);
    }
    write_text(stdout, true, priority, text, std::strlen(text), true);
    return 0;
}

void log_line(FILE* stream, log_priority priority, const char* text, size_t length) {
    if (!log_kept(priority)) {
        return;
    }
    write_text(stream, is_journal(stream), priority, text, length, true);
}

bool log_is_journal(FILE* stream) {
    return is_journal(stream);
}
