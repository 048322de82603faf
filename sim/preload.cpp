// The preload layer of panelsim-run: loaded into a program with LD_PRELOAD, it makes the
// program see the virtual panel under the root named by PANELSIM_ROOT.
//
//   - "/etc/tesserax" and "/opt/tesserax", and every path below them, mean the same path
//     under the root, for every way Qt, FreeType and the C library reach files;
//   - opening "/dev/fpga-reg" connects to the daemon's socket ROOT/dev/fpga-reg (no daemon:
//     -1 with ENOENT, as for a missing device), and each ioctl on that descriptor is sent to
//     the daemon (devicewire.h) and answered by it.
//
// glibc calls its own internals, not these symbols, from inside fopen, opendir, realpath
// and friends, so each of those is wrapped itself rather than relying on open or stat.
// Without PANELSIM_ROOT (or with a relative one) nothing is redirected.
//
// Every wrapper leaves errno exactly as the real call left it.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>
#include <utime.h>

#include <cerrno>
#include <climits>
#include <type_traits>

#include "devicewire.h"
#include "fpga_request.h"

// Still exported by glibc for programs built before 2.33; not declared by its headers.
extern "C" {
int __xstat(int version, const char* path, struct stat* buf);
int __xstat64(int version, const char* path, struct stat64* buf);
int __lxstat(int version, const char* path, struct stat* buf);
int __lxstat64(int version, const char* path, struct stat64* buf);
int __fxstatat(int version, int dirfd, const char* path, struct stat* buf, int flags);
int __fxstatat64(int version, int dirfd, const char* path, struct stat64* buf, int flags);
int __open_2(const char* path, int flags);
int __open64_2(const char* path, int flags);
int __openat_2(int dirfd, const char* path, int flags);
int __openat64_2(int dirfd, const char* path, int flags);
ssize_t __readlink_chk(const char* path, char* buf, size_t len, size_t buflen);
char* __realpath_chk(const char* path, char* resolved, size_t resolvedlen);
}

namespace {

constexpr const char kRootVariable[] = "PANELSIM_ROOT";
constexpr const char kDevicePath[] = "/dev/fpga-reg";
constexpr const char* kRedirected[] = {"/etc/tesserax", "/opt/tesserax"};

// ---- The root ----------------------------------------------------------------------------

char g_root[PATH_MAX];
size_t g_rootLength = 0;
pthread_once_t g_rootOnce = PTHREAD_ONCE_INIT;

void readRoot() {
    const char* root = getenv(kRootVariable);
    if (root == nullptr || root[0] != '/') return;
    size_t length = strlen(root);
    while (length > 1 && root[length - 1] == '/') --length;
    if (length >= sizeof g_root / 2) return;
    memcpy(g_root, root, length);
    g_root[length] = '\0';
    g_rootLength = length;
}

bool haveRoot() {
    const int saved = errno;
    pthread_once(&g_rootOnce, readRoot);
    errno = saved;
    return g_rootLength != 0;
}

// Length of the redirected prefix path begins with ("/etc/tesserax" followed by the end or
// a slash), or 0.
size_t redirectedPrefix(const char* path) {
    for (const char* prefix : kRedirected) {
        const size_t length = strlen(prefix);
        if (strncmp(path, prefix, length) == 0 && (path[length] == '\0' || path[length] == '/')) return length;
    }
    return 0;
}

// A path as the program means it: buffer holds ROOT + path when it is redirected.
struct MappedPath {
    char buffer[PATH_MAX * 2];
    const char* path;

    // Only absolute paths are redirected: a relative path of an *at call starts from a
    // descriptor that was itself opened through the redirection.
    explicit MappedPath(const char* original) : path(original) {
        if (original == nullptr || !haveRoot() || redirectedPrefix(original) == 0) return;
        const size_t length = strlen(original);
        // Longer paths fail in the real call with ENAMETOOLONG either way.
        if (length >= PATH_MAX) return;
        memcpy(buffer, g_root, g_rootLength);
        memcpy(buffer + g_rootLength, original, length + 1);
        path = buffer;
    }
    operator const char*() const { return path; }
};


// A resolved path that lies in the root's redirected folders, turned back into the name the
// program uses, in place.
void unmapResolved(char* resolved) {
    if (resolved == nullptr || !haveRoot()) return;
    if (strncmp(resolved, g_root, g_rootLength) != 0) return;
    char* rest = resolved + g_rootLength;
    if (redirectedPrefix(rest) == 0) return;
    memmove(resolved, rest, strlen(rest) + 1);
}

// ---- The real functions ------------------------------------------------------------------

template <typename Function>
Function resolve(const char* name) {
    const int saved = errno;
    void* symbol = dlsym(RTLD_NEXT, name);
    errno = saved;
    return reinterpret_cast<Function>(symbol);
}

// What a wrapper returns when its real function is missing: -1 or a null pointer.
template <typename Result>
Result failure() {
    if constexpr (std::is_pointer_v<Result>) {
        return nullptr;
    } else {
        return static_cast<Result>(-1);
    }
}
template <typename Result, typename... Arguments>
Result failureOf(Result (*)(Arguments...)) {
    return failure<Result>();
}
template <typename Result, typename... Arguments>
Result failureOf(Result (*)(Arguments..., ...)) {
    return failure<Result>();
}

// Declares real_NAME, the next definition of NAME after this library (the C library's);
// a C library without it makes the wrapper fail with ENOSYS.
#define REAL(name)                                                         \
    static const auto real_##name = resolve<decltype(&::name)>(#name);     \
    if (real_##name == nullptr) {                                          \
        errno = ENOSYS;                                                    \
        return failureOf(real_##name);                                     \
    }

// ---- The device --------------------------------------------------------------------------

constexpr int kMaxDevices = 64;
pthread_mutex_t g_deviceMutex = PTHREAD_MUTEX_INITIALIZER;
int g_devices[kMaxDevices];
int g_deviceCount = 0;

struct DeviceLock {
    DeviceLock() { pthread_mutex_lock(&g_deviceMutex); }
    ~DeviceLock() { pthread_mutex_unlock(&g_deviceMutex); }
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;
};

// Index of fd among the device descriptors, or -1; call with the lock held.
int deviceSlot(int fd) {
    for (int i = 0; i < g_deviceCount; ++i) {
        if (g_devices[i] == fd) return i;
    }
    return -1;
}

bool isDevice(int fd) {
    if (__atomic_load_n(&g_deviceCount, __ATOMIC_ACQUIRE) == 0) return false;
    DeviceLock lock;
    return deviceSlot(fd) >= 0;
}

void forgetDevice(int fd) {
    if (__atomic_load_n(&g_deviceCount, __ATOMIC_ACQUIRE) == 0) return;
    DeviceLock lock;
    const int slot = deviceSlot(fd);
    if (slot < 0) return;
    g_devices[slot] = g_devices[g_deviceCount - 1];
    __atomic_store_n(&g_deviceCount, g_deviceCount - 1, __ATOMIC_RELEASE);
}

bool isDevicePath(const char* path) { return path != nullptr && strcmp(path, kDevicePath) == 0 && haveRoot(); }

int openDevice(int flags) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const int written = snprintf(address.sun_path, sizeof address.sun_path, "%s%s", g_root, kDevicePath);
    if (written < 0 || static_cast<size_t>(written) >= sizeof address.sun_path) {
        errno = ENOENT;
        return -1;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | ((flags & O_CLOEXEC) ? SOCK_CLOEXEC : 0), 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        errno = ENOENT;  // what the program would see without the device
        return -1;
    }
    DeviceLock lock;
    if (g_deviceCount == kMaxDevices) {
        close(fd);
        errno = EMFILE;
        return -1;
    }
    g_devices[g_deviceCount] = fd;
    __atomic_store_n(&g_deviceCount, g_deviceCount + 1, __ATOMIC_RELEASE);
    return fd;
}

bool sendAll(int fd, const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t sent = send(fd, bytes, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        bytes += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

bool receiveAll(int fd, void* data, size_t size) {
    auto* bytes = static_cast<uint8_t*>(data);
    while (size > 0) {
        const ssize_t got = recv(fd, bytes, size, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

bool sendWords(int fd, const uint16_t* words, uint32_t count) {
    uint8_t chunk[4096];
    for (uint32_t done = 0; done < count;) {
        const uint32_t now = count - done < sizeof chunk / 2 ? count - done : sizeof chunk / 2;
        for (uint32_t i = 0; i < now; ++i) panelsim::wire::put16(chunk + 2 * i, words[done + i]);
        if (!sendAll(fd, chunk, now * 2)) return false;
        done += now;
    }
    return true;
}

// One request and its reply; the lock keeps the threads of a program from interleaving.
int exchange(int fd, const panelsim::wire::RequestHeader& header, const uint16_t* words,
             panelsim::wire::Reply& reply) {
    uint8_t head[panelsim::wire::kRequestHeaderSize];
    panelsim::wire::encodeRequestHeader(header, head);
    uint8_t answer[panelsim::wire::kReplySize];
    DeviceLock lock;
    if (!sendAll(fd, head, sizeof head) || (header.count > 1 && !sendWords(fd, words, header.count)) ||
        !receiveAll(fd, answer, sizeof answer)) {
        return EIO;  // the daemon went away
    }
    reply = panelsim::wire::decodeReply(answer);
    return 0;
}

int deviceIoctl(int fd, unsigned long request, void* argument) {
    const int saved = errno;
    panelsim::wire::RequestHeader header;
    header.number = static_cast<uint32_t>(request);
    auto* record = static_cast<fpga_request*>(argument);
    const bool known = request == FPGA_REQ_SHORT || request == FPGA_REQ_LONG;
    const uint16_t* words = nullptr;
    if (known) {
        if (record == nullptr) {
            errno = EFAULT;
            return -1;
        }
        header.address_word = request == FPGA_REQ_SHORT ? record->address.short_word : record->address.long_word;
        header.count = record->count;
        if (record->count == 1) header.value = record->data.value;
        if (record->count > 1) words = record->data.words;
        if (record->count > 1 && words == nullptr) {
            errno = EFAULT;
            return -1;
        }
        if (record->count > panelsim::wire::kMaxWireWords) {
            errno = EINVAL;
            return -1;
        }
    }
    // An unknown request travels with its number only; the daemon refuses it.
    panelsim::wire::Reply reply;
    const int failure = exchange(fd, header, words, reply);
    if (failure != 0) {
        errno = failure;
        return -1;
    }
    if (reply.result != 0) {
        errno = static_cast<int>(reply.error);
        return -1;
    }
    if (known && record->count == 1) record->data.value = reply.value;
    errno = saved;
    return 0;
}

bool needsMode(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

}  // namespace

// ---- Opening -----------------------------------------------------------------------------

#define MODE_ARGUMENT(flags)              \
    mode_t mode = 0;                      \
    if (needsMode(flags)) {               \
        va_list arguments;                \
        va_start(arguments, flags);       \
        mode = static_cast<mode_t>(va_arg(arguments, int)); \
        va_end(arguments);                \
    }

extern "C" int open(const char* path, int flags, ...) {
    MODE_ARGUMENT(flags)
    if (isDevicePath(path)) return openDevice(flags);
    REAL(open)
    return real_open(MappedPath(path), flags, mode);
}

extern "C" int open64(const char* path, int flags, ...) {
    MODE_ARGUMENT(flags)
    if (isDevicePath(path)) return openDevice(flags);
    REAL(open64)
    return real_open64(MappedPath(path), flags, mode);
}

extern "C" int __open_2(const char* path, int flags) {
    if (isDevicePath(path)) return openDevice(flags);
    REAL(__open_2)
    return real___open_2(MappedPath(path), flags);
}

extern "C" int __open64_2(const char* path, int flags) {
    if (isDevicePath(path)) return openDevice(flags);
    REAL(__open64_2)
    return real___open64_2(MappedPath(path), flags);
}

extern "C" int openat(int dirfd, const char* path, int flags, ...) {
    MODE_ARGUMENT(flags)
    if (isDevicePath(path)) return openDevice(flags);
    REAL(openat)
    return real_openat(dirfd, MappedPath(path), flags, mode);
}

extern "C" int openat64(int dirfd, const char* path, int flags, ...) {
    MODE_ARGUMENT(flags)
    if (isDevicePath(path)) return openDevice(flags);
    REAL(openat64)
    return real_openat64(dirfd, MappedPath(path), flags, mode);
}

extern "C" int __openat_2(int dirfd, const char* path, int flags) {
    if (isDevicePath(path)) return openDevice(flags);
    REAL(__openat_2)
    return real___openat_2(dirfd, MappedPath(path), flags);
}

extern "C" int __openat64_2(int dirfd, const char* path, int flags) {
    if (isDevicePath(path)) return openDevice(flags);
    REAL(__openat64_2)
    return real___openat64_2(dirfd, MappedPath(path), flags);
}

extern "C" int creat(const char* path, mode_t mode) {
    REAL(creat)
    return real_creat(MappedPath(path), mode);
}

extern "C" int creat64(const char* path, mode_t mode) {
    REAL(creat64)
    return real_creat64(MappedPath(path), mode);
}

extern "C" FILE* fopen(const char* path, const char* mode) {
    REAL(fopen)
    return real_fopen(MappedPath(path), mode);
}

extern "C" FILE* fopen64(const char* path, const char* mode) {
    REAL(fopen64)
    return real_fopen64(MappedPath(path), mode);
}

extern "C" FILE* freopen(const char* path, const char* mode, FILE* stream) {
    REAL(freopen)
    return real_freopen(MappedPath(path), mode, stream);
}

extern "C" FILE* freopen64(const char* path, const char* mode, FILE* stream) {
    REAL(freopen64)
    return real_freopen64(MappedPath(path), mode, stream);
}

extern "C" DIR* opendir(const char* path) {
    REAL(opendir)
    return real_opendir(MappedPath(path));
}

extern "C" int scandir(const char* path, struct dirent*** list, int (*filter)(const struct dirent*),
                       int (*compare)(const struct dirent**, const struct dirent**)) {
    REAL(scandir)
    return real_scandir(MappedPath(path), list, filter, compare);
}

extern "C" int scandir64(const char* path, struct dirent64*** list, int (*filter)(const struct dirent64*),
                         int (*compare)(const struct dirent64**, const struct dirent64**)) {
    REAL(scandir64)
    return real_scandir64(MappedPath(path), list, filter, compare);
}

// ---- The device descriptor ---------------------------------------------------------------

extern "C" int ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (isDevice(fd)) return deviceIoctl(fd, request, argument);
    REAL(ioctl)
    return real_ioctl(fd, request, argument);
}

extern "C" int close(int fd) {
    forgetDevice(fd);
    REAL(close)
    return real_close(fd);
}

extern "C" int dup2(int oldfd, int newfd) {
    REAL(dup2)
    const int result = real_dup2(oldfd, newfd);
    if (result >= 0 && oldfd != newfd) forgetDevice(newfd);
    return result;
}

extern "C" int dup3(int oldfd, int newfd, int flags) {
    REAL(dup3)
    const int result = real_dup3(oldfd, newfd, flags);
    if (result >= 0) forgetDevice(newfd);
    return result;
}

// ---- File status -------------------------------------------------------------------------

extern "C" int stat(const char* path, struct stat* buf) {
    REAL(stat)
    return real_stat(MappedPath(path), buf);
}

extern "C" int stat64(const char* path, struct stat64* buf) {
    REAL(stat64)
    return real_stat64(MappedPath(path), buf);
}

extern "C" int lstat(const char* path, struct stat* buf) {
    REAL(lstat)
    return real_lstat(MappedPath(path), buf);
}

extern "C" int lstat64(const char* path, struct stat64* buf) {
    REAL(lstat64)
    return real_lstat64(MappedPath(path), buf);
}

extern "C" int fstatat(int dirfd, const char* path, struct stat* buf, int flags) {
    REAL(fstatat)
    return real_fstatat(dirfd, MappedPath(path), buf, flags);
}

extern "C" int fstatat64(int dirfd, const char* path, struct stat64* buf, int flags) {
    REAL(fstatat64)
    return real_fstatat64(dirfd, MappedPath(path), buf, flags);
}

extern "C" int __xstat(int version, const char* path, struct stat* buf) {
    REAL(__xstat)
    return real___xstat(version, MappedPath(path), buf);
}

extern "C" int __xstat64(int version, const char* path, struct stat64* buf) {
    REAL(__xstat64)
    return real___xstat64(version, MappedPath(path), buf);
}

extern "C" int __lxstat(int version, const char* path, struct stat* buf) {
    REAL(__lxstat)
    return real___lxstat(version, MappedPath(path), buf);
}

extern "C" int __lxstat64(int version, const char* path, struct stat64* buf) {
    REAL(__lxstat64)
    return real___lxstat64(version, MappedPath(path), buf);
}

extern "C" int __fxstatat(int version, int dirfd, const char* path, struct stat* buf, int flags) {
    REAL(__fxstatat)
    return real___fxstatat(version, dirfd, MappedPath(path), buf, flags);
}

extern "C" int __fxstatat64(int version, int dirfd, const char* path, struct stat64* buf, int flags) {
    REAL(__fxstatat64)
    return real___fxstatat64(version, dirfd, MappedPath(path), buf, flags);
}

extern "C" int statx(int dirfd, const char* path, int flags, unsigned int mask, struct statx* buf) {
    REAL(statx)
    return real_statx(dirfd, MappedPath(path), flags, mask, buf);
}

extern "C" int statfs(const char* path, struct statfs* buf) {
    REAL(statfs)
    return real_statfs(MappedPath(path), buf);
}

extern "C" int statfs64(const char* path, struct statfs64* buf) {
    REAL(statfs64)
    return real_statfs64(MappedPath(path), buf);
}

extern "C" int statvfs(const char* path, struct statvfs* buf) {
    REAL(statvfs)
    return real_statvfs(MappedPath(path), buf);
}

extern "C" int statvfs64(const char* path, struct statvfs64* buf) {
    REAL(statvfs64)
    return real_statvfs64(MappedPath(path), buf);
}

extern "C" int access(const char* path, int mode) {
    REAL(access)
    return real_access(MappedPath(path), mode);
}

extern "C" int euidaccess(const char* path, int mode) {
    REAL(euidaccess)
    return real_euidaccess(MappedPath(path), mode);
}

extern "C" int eaccess(const char* path, int mode) {
    REAL(eaccess)
    return real_eaccess(MappedPath(path), mode);
}

extern "C" int faccessat(int dirfd, const char* path, int mode, int flags) {
    REAL(faccessat)
    return real_faccessat(dirfd, MappedPath(path), mode, flags);
}

extern "C" ssize_t readlink(const char* path, char* buf, size_t size) {
    REAL(readlink)
    return real_readlink(MappedPath(path), buf, size);
}

extern "C" ssize_t __readlink_chk(const char* path, char* buf, size_t size, size_t bufsize) {
    REAL(__readlink_chk)
    return real___readlink_chk(MappedPath(path), buf, size, bufsize);
}

extern "C" ssize_t readlinkat(int dirfd, const char* path, char* buf, size_t size) {
    REAL(readlinkat)
    return real_readlinkat(dirfd, MappedPath(path), buf, size);
}

extern "C" char* realpath(const char* path, char* resolved) {
    REAL(realpath)
    char* result = real_realpath(MappedPath(path), resolved);
    unmapResolved(result);
    return result;
}

extern "C" char* __realpath_chk(const char* path, char* resolved, size_t resolvedlen) {
    REAL(__realpath_chk)
    char* result = real___realpath_chk(MappedPath(path), resolved, resolvedlen);
    unmapResolved(result);
    return result;
}

extern "C" char* canonicalize_file_name(const char* path) {
    REAL(canonicalize_file_name)
    char* result = real_canonicalize_file_name(MappedPath(path));
    unmapResolved(result);
    return result;
}

// ---- Watching ----------------------------------------------------------------------------

extern "C" int inotify_add_watch(int fd, const char* path, uint32_t mask) {
    REAL(inotify_add_watch)
    return real_inotify_add_watch(fd, MappedPath(path), mask);
}

// ---- Changing the tree (QSettings and QSaveFile write a temporary file, then rename) ------

extern "C" int mkdir(const char* path, mode_t mode) {
    REAL(mkdir)
    return real_mkdir(MappedPath(path), mode);
}

extern "C" int mkdirat(int dirfd, const char* path, mode_t mode) {
    REAL(mkdirat)
    return real_mkdirat(dirfd, MappedPath(path), mode);
}

extern "C" int rmdir(const char* path) {
    REAL(rmdir)
    return real_rmdir(MappedPath(path));
}

extern "C" int unlink(const char* path) {
    REAL(unlink)
    return real_unlink(MappedPath(path));
}

extern "C" int unlinkat(int dirfd, const char* path, int flags) {
    REAL(unlinkat)
    return real_unlinkat(dirfd, MappedPath(path), flags);
}

extern "C" int remove(const char* path) {
    REAL(remove)
    return real_remove(MappedPath(path));
}

extern "C" int rename(const char* from, const char* to) {
    REAL(rename)
    return real_rename(MappedPath(from), MappedPath(to));
}

extern "C" int renameat(int fromdir, const char* from, int todir, const char* to) {
    REAL(renameat)
    return real_renameat(fromdir, MappedPath(from), todir, MappedPath(to));
}

extern "C" int renameat2(int fromdir, const char* from, int todir, const char* to, unsigned int flags) {
    REAL(renameat2)
    return real_renameat2(fromdir, MappedPath(from), todir, MappedPath(to), flags);
}

extern "C" int link(const char* from, const char* to) {
    REAL(link)
    return real_link(MappedPath(from), MappedPath(to));
}

extern "C" int linkat(int fromdir, const char* from, int todir, const char* to, int flags) {
    REAL(linkat)
    return real_linkat(fromdir, MappedPath(from), todir, MappedPath(to), flags);
}

// The link's contents are stored as given; only where the link is made is redirected.
extern "C" int symlink(const char* target, const char* path) {
    REAL(symlink)
    return real_symlink(target, MappedPath(path));
}

extern "C" int symlinkat(const char* target, int dirfd, const char* path) {
    REAL(symlinkat)
    return real_symlinkat(target, dirfd, MappedPath(path));
}

extern "C" int chmod(const char* path, mode_t mode) {
    REAL(chmod)
    return real_chmod(MappedPath(path), mode);
}

extern "C" int fchmodat(int dirfd, const char* path, mode_t mode, int flags) {
    REAL(fchmodat)
    return real_fchmodat(dirfd, MappedPath(path), mode, flags);
}

extern "C" int chown(const char* path, uid_t owner, gid_t group) {
    REAL(chown)
    return real_chown(MappedPath(path), owner, group);
}

extern "C" int lchown(const char* path, uid_t owner, gid_t group) {
    REAL(lchown)
    return real_lchown(MappedPath(path), owner, group);
}

extern "C" int fchownat(int dirfd, const char* path, uid_t owner, gid_t group, int flags) {
    REAL(fchownat)
    return real_fchownat(dirfd, MappedPath(path), owner, group, flags);
}

extern "C" int truncate(const char* path, off_t length) {
    REAL(truncate)
    return real_truncate(MappedPath(path), length);
}

extern "C" int truncate64(const char* path, off64_t length) {
    REAL(truncate64)
    return real_truncate64(MappedPath(path), length);
}

extern "C" int utime(const char* path, const struct utimbuf* times) {
    REAL(utime)
    return real_utime(MappedPath(path), times);
}

extern "C" int utimes(const char* path, const struct timeval times[2]) {
    REAL(utimes)
    return real_utimes(MappedPath(path), times);
}

extern "C" int lutimes(const char* path, const struct timeval times[2]) {
    REAL(lutimes)
    return real_lutimes(MappedPath(path), times);
}

extern "C" int utimensat(int dirfd, const char* path, const struct timespec times[2], int flags) {
    REAL(utimensat)
    return real_utimensat(dirfd, MappedPath(path), times, flags);
}

extern "C" int chdir(const char* path) {
    REAL(chdir)
    return real_chdir(MappedPath(path));
}
