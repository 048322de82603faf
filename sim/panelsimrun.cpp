// panelsim-run [--emulator QEMU --preload LIBRARY] ROOT PROGRAM [ARGS...]: runs PROGRAM
// against the virtual panel under ROOT.
//
// The program replaces this process, so its exit status (or the signal that ended it) is
// the launcher's own. The preload library reaches it through LD_PRELOAD, the root through
// PANELSIM_ROOT; children of the program inherit both.
//
// A program of another architecture runs under a qemu user-mode emulator with the preload
// library built for that architecture. Only the emulated program gets LD_PRELOAD (qemu's -E):
// the emulator itself is a native program and cannot load that library.
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char PRELOAD_NAME[] = "libpanelsim_preload.so";

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
        path = path.substr(0, path.rfind('/') + 1) + PRELOAD_NAME;
        if (isFile(path))
            return path;
    }
    return PANELSIM_PRELOAD_BUILD_PATH;
}

// The root as an absolute path, so that it still holds after the program changes folder.
std::string absoluteRoot(const char* root) {
    char resolved[PATH_MAX];
    if (::realpath(root, resolved) != nullptr)
        return resolved;
    if (root[0] == '/')
        return root;
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr)
        return root;
    return std::string(cwd) + "/" + root;
}

void prependToList(const char* variable, const std::string& item, char separator) {
    const char* old = ::getenv(variable);
    std::string value = item;
    if (old != nullptr && *old != '\0')
        value += separator + std::string(old);
    ::setenv(variable, value.c_str(), 1);
}

struct Options {
    const char* emulator = nullptr;
    const char* preload = nullptr;
    int first = 1;  // index of ROOT in argv
};

// The options before ROOT; false when they are malformed or ROOT and PROGRAM are missing.
bool parseOptions(int argc, char** argv, Options& options) {
    int i = 1;
    for (; i + 1 < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
        if (std::strcmp(argv[i], "--emulator") == 0) {
            options.emulator = argv[i + 1];
        } else if (std::strcmp(argv[i], "--preload") == 0) {
            options.preload = argv[i + 1];
        } else {
            return false;
        }
    }
    options.first = i;
    return argc - i >= 2 && (options.emulator == nullptr || options.preload != nullptr);
}

// PROGRAM the way execvp finds it, for an emulator that does not search PATH itself;
// empty when there is no such executable file.
std::string findProgram(const char* program) {
    if (std::strchr(program, '/') != nullptr)
        return ::access(program, X_OK) == 0 ? program : "";
    const char* path = ::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    for (size_t start = 0; start <= folders.size();) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        const std::string folder = end > start ? folders.substr(start, end - start) : ".";
        const std::string candidate = folder + "/" + program;
        if (isFile(candidate) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return "";
}

int cannotRun(const char* program, int error) {
    std::fprintf(stderr, "panelsim-run: cannot run %s: %s\n", program, std::strerror(error));
    return 127;
}

int runEmulated(const Options& options, const std::string& preload, char** argv) {
    const char* program = argv[options.first + 1];
    const std::string found = findProgram(program);
    if (found.empty())
        return cannotRun(program, ENOENT);
    const std::string variable = "LD_PRELOAD=" + preload;
    std::vector<char*> command{const_cast<char*>(options.emulator), const_cast<char*>("-E"),
                               const_cast<char*>(variable.c_str()),
                               const_cast<char*>(found.c_str())};
    for (char** arg = argv + options.first + 2; *arg != nullptr; ++arg)
        command.push_back(*arg);
    command.push_back(nullptr);
    ::execvp(options.emulator, command.data());
    return cannotRun(options.emulator, errno);
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fputs(
            "usage: panelsim-run [--emulator QEMU --preload LIBRARY] ROOT PROGRAM [ARGS...]\n",
            stderr);
        return 2;
    }
    const std::string preload = options.preload != nullptr ? options.preload : preloadLibrary();
    if (preload.find_first_of(" :") != std::string::npos) {
        std::fprintf(stderr,
                     "panelsim-run: the preload library's path may not hold spaces or colons: %s\n",
                     preload.c_str());
        return 2;
    }
    ::setenv("PANELSIM_ROOT", absoluteRoot(argv[options.first]).c_str(), 1);
    if (options.emulator != nullptr)
        return runEmulated(options, preload, argv);
    prependToList("LD_PRELOAD", preload, ':');
#ifdef PANELSIM_UNDER_ASAN
    // The preload library comes before the sanitizer runtime in the program's list of
    // libraries; the runtime works there, but would refuse to start without this.
    prependToList("ASAN_OPTIONS", "verify_asan_link_order=0", ':');
#endif
    ::execvp(argv[options.first + 1], argv + options.first + 1);
    return cannotRun(argv[options.first + 1], errno);
}
