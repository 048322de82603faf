// The preload layer of panelsim-run: loaded into a program with LD_PRELOAD, it makes the
// program see the virtual panel under the root named by PANELSIM_ROOT. The C library's calls
// that take a path reach it redirected (preloadpaths.h); the register device's open and
// ioctl reach the daemon (preloaddevice.h).
//
// glibc calls its own internals, not these symbols, from inside fopen, opendir, realpath
// and friends, so each of those is wrapped itself rather than relying on open or stat.
//
// Every wrapper leaves errno exactly as the real call left it.
#include <dirent.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <sys/types.h>
#include <unistd.h>
#include <utime.h>

#include <cerrno>
#include <type_traits>
#include <utility>

#include "preloaddevice.h"
#include "preloadpaths.h"
#include "preloadreal.h"

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

using namespace panelsim::preload;

// The set of argument positions that hold paths, for the calls below.
constexpr unsigned pathAt(unsigned position) {
    return 1u << position;
}
constexpr unsigned NO_PATH = 0;

// An argument as the real function gets it: a path mapped, anything else as it is.
template <bool IS_PATH, typename Argument>
auto pass(Argument argument) {
    if constexpr (IS_PATH) {
        return MappedPath(argument);
    } else {
        return argument;
    }
}

template <unsigned PATHS, typename Function, typename... Arguments, size_t... POSITIONS>
auto callMapped(Function real, std::index_sequence<POSITIONS...>, Arguments... arguments) {
    return real(pass<(PATHS & pathAt(POSITIONS)) != 0>(arguments)...);
}

// Calls the real function with the paths at PATHS mapped. A C library without the function
// makes the call fail with ENOSYS: -1, or a null pointer.
template <unsigned PATHS, typename Function, typename... Arguments>
auto redirect(Function real, Arguments... arguments) {
    using Result = decltype(real(arguments...));
    if (real == nullptr) {
        errno = ENOSYS;
        if constexpr (std::is_pointer_v<Result>) {
            return static_cast<Result>(nullptr);
        } else {
            return static_cast<Result>(-1);
        }
    }
    return callMapped<PATHS>(real, std::index_sequence_for<Arguments...>{}, arguments...);
}

// The argument at POSITION.
template <size_t POSITION, typename First, typename... Rest>
auto argumentAt(First first, Rest... rest) {
    if constexpr (POSITION == 0) {
        return first;
    } else {
        return argumentAt<POSITION - 1>(rest...);
    }
}

// An open call: the device's path connects to the daemon, any other is redirected. The open
// flags follow the path in every form of open.
template <unsigned PATHS, typename Function, typename... Arguments>
int openOrConnect(Function real, Arguments... arguments) {
    constexpr size_t PATH_POSITION = __builtin_ctz(PATHS);
    if (isDevicePath(argumentAt<PATH_POSITION>(arguments...))) {
        return openDevice(argumentAt<PATH_POSITION + 1>(arguments...));
    }
    return redirect<PATHS>(real, arguments...);
}

// A call that resolves a path: the result names the path as the program knows it.
template <unsigned PATHS, typename Function, typename... Arguments>
char* resolveUnmapped(Function real, Arguments... arguments) {
    char* result = redirect<PATHS>(real, arguments...);
    unmapResolved(result);
    return result;
}

// The mode argument of an open call, present only when the flags create a file.
mode_t modeArgument(int flags, va_list& arguments) {
    if ((flags & O_CREAT) == 0 && (flags & O_TMPFILE) != O_TMPFILE)
        return 0;
    return static_cast<mode_t>(va_arg(arguments, int));
}

using DirentFilter = int (*)(const struct dirent*);
using DirentCompare = int (*)(const struct dirent**, const struct dirent**);
using Dirent64Filter = int (*)(const struct dirent64*);
using Dirent64Compare = int (*)(const struct dirent64**, const struct dirent64**);

}  // namespace

// The library is built with hidden symbols (its own helpers must not meet a program's names);
// only the wrappers are seen from outside.
#define EXPORTED extern "C" __attribute__((visibility("default")))

// WRAPPER_n(how, paths, result, name, types of the n parameters) defines the C library's
// name, passing its arguments to how<paths> with the real name.
#define WRAPPER_1(how, paths, result, name, t0)     \
    EXPORTED result name(t0 a0) {                   \
        return how<paths>(REAL_FUNCTION(name), a0); \
    }
#define WRAPPER_2(how, paths, result, name, t0, t1)     \
    EXPORTED result name(t0 a0, t1 a1) {                \
        return how<paths>(REAL_FUNCTION(name), a0, a1); \
    }
#define WRAPPER_3(how, paths, result, name, t0, t1, t2)     \
    EXPORTED result name(t0 a0, t1 a1, t2 a2) {             \
        return how<paths>(REAL_FUNCTION(name), a0, a1, a2); \
    }
#define WRAPPER_4(how, paths, result, name, t0, t1, t2, t3)     \
    EXPORTED result name(t0 a0, t1 a1, t2 a2, t3 a3) {          \
        return how<paths>(REAL_FUNCTION(name), a0, a1, a2, a3); \
    }
#define WRAPPER_5(how, paths, result, name, t0, t1, t2, t3, t4)     \
    EXPORTED result name(t0 a0, t1 a1, t2 a2, t3 a3, t4 a4) {       \
        return how<paths>(REAL_FUNCTION(name), a0, a1, a2, a3, a4); \
    }
// The open calls that take a mode after the flags when they create a file.
#define OPEN_WRAPPER_2(name)                                                \
    EXPORTED int name(const char* a0, int a1, ...) {                        \
        va_list more;                                                       \
        va_start(more, a1);                                                 \
        const mode_t mode = modeArgument(a1, more);                         \
        va_end(more);                                                       \
        return openOrConnect<pathAt(0)>(REAL_FUNCTION(name), a0, a1, mode); \
    }
#define OPEN_WRAPPER_3(name)                                                    \
    EXPORTED int name(int a0, const char* a1, int a2, ...) {                    \
        va_list more;                                                           \
        va_start(more, a2);                                                     \
        const mode_t mode = modeArgument(a2, more);                             \
        va_end(more);                                                           \
        return openOrConnect<pathAt(1)>(REAL_FUNCTION(name), a0, a1, a2, mode); \
    }

// clang-format off
// Opening.
OPEN_WRAPPER_2(open)
OPEN_WRAPPER_2(open64)
OPEN_WRAPPER_3(openat)
OPEN_WRAPPER_3(openat64)
WRAPPER_2(openOrConnect, pathAt(0), int, __open_2, const char*, int)
WRAPPER_2(openOrConnect, pathAt(0), int, __open64_2, const char*, int)
WRAPPER_3(openOrConnect, pathAt(1), int, __openat_2, int, const char*, int)
WRAPPER_3(openOrConnect, pathAt(1), int, __openat64_2, int, const char*, int)
WRAPPER_2(redirect, pathAt(0), int, creat, const char*, mode_t)
WRAPPER_2(redirect, pathAt(0), int, creat64, const char*, mode_t)
WRAPPER_2(redirect, pathAt(0), FILE*, fopen, const char*, const char*)
WRAPPER_2(redirect, pathAt(0), FILE*, fopen64, const char*, const char*)
WRAPPER_3(redirect, pathAt(0), FILE*, freopen, const char*, const char*, FILE*)
WRAPPER_3(redirect, pathAt(0), FILE*, freopen64, const char*, const char*, FILE*)
WRAPPER_1(redirect, pathAt(0), DIR*, opendir, const char*)
WRAPPER_4(redirect, pathAt(0), int, scandir, const char*, struct dirent***, DirentFilter, DirentCompare)
WRAPPER_4(redirect, pathAt(0), int, scandir64, const char*, struct dirent64***, Dirent64Filter, Dirent64Compare)

// File status.
WRAPPER_2(redirect, pathAt(0), int, stat, const char*, struct stat*)
WRAPPER_2(redirect, pathAt(0), int, stat64, const char*, struct stat64*)
WRAPPER_2(redirect, pathAt(0), int, lstat, const char*, struct stat*)
WRAPPER_2(redirect, pathAt(0), int, lstat64, const char*, struct stat64*)
WRAPPER_4(redirect, pathAt(1), int, fstatat, int, const char*, struct stat*, int)
WRAPPER_4(redirect, pathAt(1), int, fstatat64, int, const char*, struct stat64*, int)
WRAPPER_3(redirect, pathAt(1), int, __xstat, int, const char*, struct stat*)
WRAPPER_3(redirect, pathAt(1), int, __xstat64, int, const char*, struct stat64*)
WRAPPER_3(redirect, pathAt(1), int, __lxstat, int, const char*, struct stat*)
WRAPPER_3(redirect, pathAt(1), int, __lxstat64, int, const char*, struct stat64*)
WRAPPER_5(redirect, pathAt(2), int, __fxstatat, int, int, const char*, struct stat*, int)
WRAPPER_5(redirect, pathAt(2), int, __fxstatat64, int, int, const char*, struct stat64*, int)
WRAPPER_5(redirect, pathAt(1), int, statx, int, const char*, int, unsigned int, struct statx*)
WRAPPER_2(redirect, pathAt(0), int, statfs, const char*, struct statfs*)
WRAPPER_2(redirect, pathAt(0), int, statfs64, const char*, struct statfs64*)
WRAPPER_2(redirect, pathAt(0), int, statvfs, const char*, struct statvfs*)
WRAPPER_2(redirect, pathAt(0), int, statvfs64, const char*, struct statvfs64*)
WRAPPER_2(redirect, pathAt(0), int, access, const char*, int)
WRAPPER_2(redirect, pathAt(0), int, euidaccess, const char*, int)
WRAPPER_2(redirect, pathAt(0), int, eaccess, const char*, int)
WRAPPER_4(redirect, pathAt(1), int, faccessat, int, const char*, int, int)
WRAPPER_3(redirect, pathAt(0), ssize_t, readlink, const char*, char*, size_t)
WRAPPER_4(redirect, pathAt(0), ssize_t, __readlink_chk, const char*, char*, size_t, size_t)
WRAPPER_4(redirect, pathAt(1), ssize_t, readlinkat, int, const char*, char*, size_t)
WRAPPER_2(resolveUnmapped, pathAt(0), char*, realpath, const char*, char*)
WRAPPER_3(resolveUnmapped, pathAt(0), char*, __realpath_chk, const char*, char*, size_t)
WRAPPER_1(resolveUnmapped, pathAt(0), char*, canonicalize_file_name, const char*)

// Watching.
WRAPPER_3(redirect, pathAt(1), int, inotify_add_watch, int, const char*, uint32_t)

// Changing the tree (QSettings and QSaveFile write a temporary file, then rename). A
// symbolic link's contents are stored as given; only where the link is made is redirected.
WRAPPER_2(redirect, pathAt(0), int, mkdir, const char*, mode_t)
WRAPPER_3(redirect, pathAt(1), int, mkdirat, int, const char*, mode_t)
WRAPPER_1(redirect, pathAt(0), int, rmdir, const char*)
WRAPPER_1(redirect, pathAt(0), int, unlink, const char*)
WRAPPER_3(redirect, pathAt(1), int, unlinkat, int, const char*, int)
WRAPPER_1(redirect, pathAt(0), int, remove, const char*)
WRAPPER_2(redirect, pathAt(0) | pathAt(1), int, rename, const char*, const char*)
WRAPPER_4(redirect, pathAt(1) | pathAt(3), int, renameat, int, const char*, int, const char*)
WRAPPER_5(redirect, pathAt(1) | pathAt(3), int, renameat2, int, const char*, int, const char*, unsigned int)
WRAPPER_2(redirect, pathAt(0) | pathAt(1), int, link, const char*, const char*)
WRAPPER_5(redirect, pathAt(1) | pathAt(3), int, linkat, int, const char*, int, const char*, int)
WRAPPER_2(redirect, pathAt(1), int, symlink, const char*, const char*)
WRAPPER_3(redirect, pathAt(2), int, symlinkat, const char*, int, const char*)
WRAPPER_2(redirect, pathAt(0), int, chmod, const char*, mode_t)
WRAPPER_4(redirect, pathAt(1), int, fchmodat, int, const char*, mode_t, int)
WRAPPER_3(redirect, pathAt(0), int, chown, const char*, uid_t, gid_t)
WRAPPER_3(redirect, pathAt(0), int, lchown, const char*, uid_t, gid_t)
WRAPPER_5(redirect, pathAt(1), int, fchownat, int, const char*, uid_t, gid_t, int)
WRAPPER_2(redirect, pathAt(0), int, truncate, const char*, off_t)
WRAPPER_2(redirect, pathAt(0), int, truncate64, const char*, off64_t)
WRAPPER_2(redirect, pathAt(0), int, utime, const char*, const struct utimbuf*)
WRAPPER_2(redirect, pathAt(0), int, utimes, const char*, const struct timeval*)
WRAPPER_2(redirect, pathAt(0), int, lutimes, const char*, const struct timeval*)
WRAPPER_4(redirect, pathAt(1), int, utimensat, int, const char*, const struct timespec*, int)
WRAPPER_1(redirect, pathAt(0), int, chdir, const char*)
// clang-format on

// ---- The device descriptor ---------------------------------------------------------------

EXPORTED int ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (isDevice(fd))
        return deviceIoctl(fd, request, argument);
    return redirect<NO_PATH>(REAL_FUNCTION(ioctl), fd, request, argument);
}

EXPORTED int close(int fd) {
    forgetDevice(fd);
    return redirect<NO_PATH>(REAL_FUNCTION(close), fd);
}

EXPORTED int dup2(int oldfd, int newfd) {
    const int result = redirect<NO_PATH>(REAL_FUNCTION(dup2), oldfd, newfd);
    if (result >= 0 && oldfd != newfd)
        forgetDevice(newfd);
    return result;
}

EXPORTED int dup3(int oldfd, int newfd, int flags) {
    const int result = redirect<NO_PATH>(REAL_FUNCTION(dup3), oldfd, newfd, flags);
    if (result >= 0)
        forgetDevice(newfd);
    return result;
}
