#include "preloadpaths.h"

#include <pthread.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace panelsim::preload {

namespace {

constexpr const char ROOT_VARIABLE[] = "PANELSIM_ROOT";
constexpr const char* REDIRECTED[] = {"/etc/tesserax", "/opt/tesserax"};

char g_root[PATH_MAX];
size_t g_rootLength = 0;
pthread_once_t g_rootOnce = PTHREAD_ONCE_INIT;

void readRoot() {
    const char* root = getenv(ROOT_VARIABLE);
    if (root == nullptr || root[0] != '/')
        return;
    size_t length = strlen(root);
    while (length > 1 && root[length - 1] == '/')
        --length;
    if (length >= sizeof g_root / 2)
        return;
    memcpy(g_root, root, length);
    g_root[length] = '\0';
    g_rootLength = length;
}

// Length of the redirected prefix path begins with ("/etc/tesserax" followed by the end or
// a slash), or 0.
size_t redirectedPrefix(const char* path) {
    for (const char* prefix : REDIRECTED) {
        const size_t length = strlen(prefix);
        if (strncmp(path, prefix, length) == 0 && (path[length] == '\0' || path[length] == '/'))
            return length;
    }
    return 0;
}

}  // namespace

bool haveRoot() {
    const int saved = errno;
    pthread_once(&g_rootOnce, readRoot);
    errno = saved;
    return g_rootLength != 0;
}

const char* rootPath() {
    return haveRoot() ? g_root : "";
}

MappedPath::MappedPath(const char* original) : _path(original) {
    if (original == nullptr || !haveRoot() || redirectedPrefix(original) == 0)
        return;
    const size_t length = strlen(original);
    // Longer paths fail in the real call with ENAMETOOLONG either way.
    if (length >= PATH_MAX)
        return;
    memcpy(_buffer, g_root, g_rootLength);
    memcpy(_buffer + g_rootLength, original, length + 1);
    _path = _buffer;
}

void unmapResolved(char* resolved) {
    if (resolved == nullptr || !haveRoot())
        return;
    if (strncmp(resolved, g_root, g_rootLength) != 0)
        return;
    char* rest = resolved + g_rootLength;
    if (redirectedPrefix(rest) == 0)
        return;
    memmove(resolved, rest, strlen(rest) + 1);
}

}  // namespace panelsim::preload
