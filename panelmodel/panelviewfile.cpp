#include "panelviewfile.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

namespace panelsim {

namespace {

constexpr mode_t FILE_MODE = 0644;
constexpr auto READ_PATIENCE = std::chrono::milliseconds(100);

// The fields of PanelViewFile ahead of its counter.
struct Header {
    char magic[sizeof PANEL_VIEW_MAGIC];
    uint32_t version;
    uint32_t size;
};
static_assert(sizeof(Header) == offsetof(PanelViewFile, sequence));
static_assert(offsetof(Header, version) == offsetof(PanelViewFile, version));
static_assert(offsetof(Header, size) == offsetof(PanelViewFile, size));

// The header's verdict on a file of exactly sizeof(PanelViewFile) bytes.
PanelViewRead checkHeader(const char* magic, uint32_t version, uint32_t size) {
    if (std::memcmp(magic, PANEL_VIEW_MAGIC, sizeof PANEL_VIEW_MAGIC) != 0)
        return PanelViewRead::Foreign;
    if (version != PANEL_VIEW_VERSION)
        return PanelViewRead::OtherVersion;
    if (size != sizeof(PanelViewFile))
        return PanelViewRead::CutShort;
    return PanelViewRead::Ok;
}

// A file shorter than the magic cannot say whose it is: a picture cut short is the likely case.
PanelViewRead checkSize(int fd, off_t size) {
    if (size == static_cast<off_t>(sizeof(PanelViewFile)))
        return PanelViewRead::Ok;
    char magic[sizeof PANEL_VIEW_MAGIC];
    if (size >= static_cast<off_t>(sizeof magic) &&
        pread(fd, magic, sizeof magic, 0) == static_cast<ssize_t>(sizeof magic) &&
        std::memcmp(magic, PANEL_VIEW_MAGIC, sizeof magic) != 0)
        return PanelViewRead::Foreign;
    return PanelViewRead::CutShort;
}

void* mapFile(int fd, int protection) {
    void* address = mmap(nullptr, sizeof(PanelViewFile), protection, MAP_SHARED, fd, 0);
    return address == MAP_FAILED ? nullptr : address;
}

std::string systemError(const std::string& what, const std::string& path) {
    return what + " \"" + path + "\": " + std::strerror(errno);
}

}  // namespace

std::string panelViewReadMessage(PanelViewRead result, const std::string& path) {
    const std::string name = "\"" + path + "\"";
    switch (result) {
    case PanelViewRead::Ok:
        return name + " holds a picture of the panel";
    case PanelViewRead::Missing:
        return name + " does not exist: keylight writes it when RUNTIME_DIRECTORY is set";
    case PanelViewRead::Unreadable:
        return name + " cannot be opened and mapped for reading (permissions, or no file)";
    case PanelViewRead::CutShort:
        return name + " is cut short or of another size: it is no whole picture of the panel";
    case PanelViewRead::Foreign:
        return name + " is no picture of the panel";
    case PanelViewRead::OtherVersion:
        return name + " is a picture of another layout version (this program reads version " +
               std::to_string(PANEL_VIEW_VERSION) + ")";
    case PanelViewRead::Busy:
        return name + " stays in the middle of an update: its writer stopped while writing";
    }
    return name;
}

PanelViewReader::PanelViewReader(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        _result = errno == ENOENT ? PanelViewRead::Missing : PanelViewRead::Unreadable;
        return;
    }
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        _result = PanelViewRead::Unreadable;
    } else {
        _result = checkSize(fd, status.st_size);
    }
    if (_result == PanelViewRead::Ok) {
        void* address = mapFile(fd, PROT_READ);
        if (address == nullptr) {
            _result = PanelViewRead::Unreadable;
        } else {
            _file = static_cast<const PanelViewFile*>(address);
            _result = checkHeader(_file->magic, _file->version, _file->size);
        }
    }
    ::close(fd);
}

PanelViewReader::~PanelViewReader() {
    if (_file != nullptr)
        munmap(const_cast<PanelViewFile*>(_file), sizeof(PanelViewFile));
}

PanelViewReader::PanelViewReader(PanelViewReader&& other) noexcept
    : _file(std::exchange(other._file, nullptr)),
      _result(std::exchange(other._result, PanelViewRead::Missing)) {}

PanelViewReader& PanelViewReader::operator=(PanelViewReader&& other) noexcept {
    std::swap(_file, other._file);
    std::swap(_result, other._result);
    return *this;
}

PanelViewRead PanelViewReader::read(PanelViewState& state) const {
    if (_result != PanelViewRead::Ok)
        return _result;
    const auto give_up = std::chrono::steady_clock::now() + READ_PATIENCE;
    do {
        const uint32_t before = _file->sequence.load(std::memory_order_acquire);
        if ((before & 1) == 0) {
            std::memcpy(static_cast<void*>(&state), &_file->state, sizeof state);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (_file->sequence.load(std::memory_order_relaxed) == before)
                return PanelViewRead::Ok;
        }
        sched_yield();
    } while (std::chrono::steady_clock::now() < give_up);
    return PanelViewRead::Busy;
}

std::unique_ptr<PanelViewWriter> PanelViewWriter::open(const std::string& path,
                                                       std::string& error) {
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    bool had_picture = false;
    if (fd >= 0) {
        struct stat status;
        if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
            checkSize(fd, status.st_size) == PanelViewRead::Ok) {
            Header header;
            had_picture =
                pread(fd, &header, sizeof header, 0) == static_cast<ssize_t>(sizeof header) &&
                checkHeader(header.magic, header.version, header.size) == PanelViewRead::Ok;
        }
        if (!had_picture) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0) {
        // Made under another name and renamed into place whole: readers of the file it
        // replaces keep their mapping, and none ever sees a header without its state.
        const std::string temporary = path + ".new";
        ::unlink(temporary.c_str());
        fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, FILE_MODE);
        if (fd < 0) {
            error = systemError("cannot create the picture of the panel", temporary);
            return nullptr;
        }
        Header header{};
        std::memcpy(header.magic, PANEL_VIEW_MAGIC, sizeof header.magic);
        header.version = PANEL_VIEW_VERSION;
        header.size = sizeof(PanelViewFile);
        if (fchmod(fd, FILE_MODE) != 0 || ftruncate(fd, sizeof(PanelViewFile)) != 0 ||
            pwrite(fd, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header) ||
            ::rename(temporary.c_str(), path.c_str()) != 0) {
            error = systemError("cannot write the picture of the panel", temporary);
            ::close(fd);
            ::unlink(temporary.c_str());
            return nullptr;
        }
    }
    void* address = mapFile(fd, PROT_READ | PROT_WRITE);
    ::close(fd);
    if (address == nullptr) {
        error = systemError("cannot map the picture of the panel", path);
        return nullptr;
    }
    auto* file = static_cast<PanelViewFile*>(address);
    const uint32_t sequence = file->sequence.load(std::memory_order_relaxed);
    if (sequence & 1)
        file->sequence.store(sequence + 1, std::memory_order_release);
    return std::unique_ptr<PanelViewWriter>(new PanelViewWriter(file, had_picture));
}

PanelViewWriter::PanelViewWriter(PanelViewFile* file, bool had_picture)
    : _file(file), _had_picture(had_picture) {}

PanelViewWriter::~PanelViewWriter() {
    munmap(_file, sizeof(PanelViewFile));
}

}  // namespace panelsim
