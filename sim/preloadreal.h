// The C library's own definitions of the calls the preload layer wraps. Code of the layer
// that needs one of them calls it through REAL_FUNCTION: calling it by name would reach the
// layer's own wrapper, which may look at the very state the caller is changing.
#pragma once

#include <dlfcn.h>

#include <cerrno>

namespace panelsim::preload {

// The next definition of name after this library, or nullptr; errno as it was.
template <typename Function>
Function resolve(const char* name) {
    const int saved = errno;
    void* symbol = dlsym(RTLD_NEXT, name);
    errno = saved;
    return reinterpret_cast<Function>(symbol);
}

}  // namespace panelsim::preload

// The C library's definition of name (looked up once), or nullptr.
#define REAL_FUNCTION(name)                                                              \
    ([] {                                                                                \
        static const auto real = ::panelsim::preload::resolve<decltype(&::name)>(#name); \
        return real;                                                                     \
    }())
