// panelsim-run ROOT PROGRAM [ARGS...]: runs PROGRAM against the virtual panel under ROOT.
//
// The program replaces this process, so its exit status (or the signal that ended it) is
// the launcher's own. The preload library reaches it through LD_PRELOAD, the root through
// PANELSIM_ROOT; children of the program inherit both.
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char kPreloadName[] = "libpanelsim_preload.so";

bool isFile(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The preload library next to this program, else where the build tree put it.
std::string preloadLibrary() {
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        std::string path(self, static_cast<size_t>(length));
        path = path.substr(0, path.rfind('/') + 1) + kPreloadName;
        if (isFile(path)) return path;
    }
    return PANELSIM_PRELOAD_BUILD_PATH;
}

// The root as an absolute path, so that it still holds after the program changes folder.
std::string absoluteRoot(const char* root) {
    char resolved[PATH_MAX];
    if (::realpath(root, resolved) != nullptr) return resolved;
    if (root[0] == '/') return root;
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return root;
    return std::string(cwd) + "/" + root;
}

void prependToList(const char* variable, const std::string& item, char separator) {
    const char* old = ::getenv(variable);
    std::string value = item;
    if (old != nullptr && *old != '\0') value += separator + std::string(old);
    ::setenv(variable, value.c_str(), 1);
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 3) {
        std::fputs("usage: panelsim-run ROOT PROGRAM [ARGS...]\n", stderr);
        return 2;
    }
    const std::string preload = preloadLibrary();
    if (preload.find_first_of(" :") != std::string::npos) {
        std::fprintf(stderr, "panelsim-run: the preload library's path may not hold spaces or colons: %s\n",
                     preload.c_str());
        return 2;
    }
    ::setenv("PANELSIM_ROOT", absoluteRoot(argv[1]).c_str(), 1);
    prependToList("LD_PRELOAD", preload, ':');
#ifdef PANELSIM_UNDER_ASAN
    // The preload library comes before the sanitizer runtime in the program's list of
    // libraries; the runtime works there, but would refuse to start without this.
    prependToList("ASAN_OPTIONS", "verify_asan_link_order=0", ':');
#endif
    ::execvp(argv[2], argv + 2);
    std::fprintf(stderr, "panelsim-run: cannot run %s: %s\n", argv[2], std::strerror(errno));
    return 127;
}
