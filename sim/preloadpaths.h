// Path redirection of the preload layer: "/etc/tesserax" and "/opt/tesserax", and every path
// below them, mean the same path under the root named by PANELSIM_ROOT. Without that variable
// (or with a relative one) nothing is redirected.
//
// Nothing here changes errno.
#pragma once

#include <climits>

namespace panelsim::preload {

// True when PANELSIM_ROOT names an absolute root (read once, on the first call).
bool haveRoot();
// The root without trailing slashes; "" without one.
const char* rootPath();

// A path as the program means it: buffer holds ROOT + path when it is redirected. Only
// absolute paths are redirected: a relative path of an *at call starts from a descriptor
// that was itself opened through the redirection.
class MappedPath {
public:
    explicit MappedPath(const char* original);
    MappedPath(const MappedPath&) = delete;
    MappedPath& operator=(const MappedPath&) = delete;
    operator const char*() const { return _path; }

private:
    char _buffer[PATH_MAX * 2];
    const char* _path;
};

// A resolved path that lies in the root's redirected folders, turned back into the name the
// program uses, in place. resolved may be null.
void unmapResolved(char* resolved);

}  // namespace panelsim::preload
