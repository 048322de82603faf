// Diagnostic lines, with the priority prefix that journald reads when the stream is its own.
#include <sys/stat.h>
#include <unistd.h>

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

bool is_journal(FILE* stream) {
    return stream == stdout ? stdout_journal : stream == stderr && stderr_journal;
}

// On the journal's stream every text ends its own line, and each of its lines carries the
// prefix: journald would join a text without its line end to whatever the process writes
// next, at that line's priority, and the stream's buffer would keep it from the journal until
// then, or for good if the process is killed first. A line end that closes the text ends its
// last line; line_end then adds an empty line, as puts does. All of it leaves in one write.
void write_journal(FILE* stream, log_priority priority, const char* text, size_t length,
                   bool line_end) {
    const char prefix[] = {'<', static_cast<char>('0' + static_cast<int>(priority)), '>'};
    std::string lines;
    lines.reserve(length + sizeof prefix + 1);
    size_t start = 0;
    for (;;) {
        const void* found = std::memchr(text + start, '\n', length - start);
        if (found == nullptr) {
            if (start < length || line_end) {
                lines.append(prefix, sizeof prefix);
                lines.append(text + start, length - start);
                lines += '\n';
            }
            break;
        }
        const size_t stop = static_cast<size_t>(static_cast<const char*>(found) - text);
        lines.append(prefix, sizeof prefix);
        lines.append(text + start, stop - start);
        lines += '\n';
        start = stop + 1;
    }
    flockfile(stream);
    std::fwrite(lines.data(), 1, lines.size(), stream);
    std::fflush(stream);
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
        write_journal(stdout, priority, small, static_cast<size_t>(length), false);
    } else {
        std::string text(static_cast<size_t>(length) + 1, '\0');
        std::vsnprintf(&text[0], text.size(), format, again);
        write_journal(stdout, priority, text.data(), static_cast<size_t>(length), false);
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
    write_journal(stdout, priority, text, std::strlen(text), true);
    return 0;
}

void log_line(FILE* stream, log_priority priority, const char* text, size_t length) {
    if (!log_kept(priority)) {
        return;
    }
    if (is_journal(stream)) {
        write_journal(stream, priority, text, length, true);
        return;
    }
    // One fwrite, so that an unbuffered stream passes the line on in one piece.
    std::string line(text, length);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stream);
}

bool log_is_journal(FILE* stream) {
    return is_journal(stream);
}
