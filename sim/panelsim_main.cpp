// panelsim ROOT [--http HOST:PORT] [--init]: the virtual panel daemon.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "daemon.h"
#include "httpapi.h"
#include "httpserve.h"

namespace {

int usage() {
    std::fputs("usage: panelsim ROOT [--http HOST:PORT] [--init]\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    panelsim::DaemonOptions options;
    options.pagePath = PANELSIM_PAGE_FILE;
    options.defaults = {PANELSIM_SETTINGS_DIR, PANELSIM_FONT_DIR};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--init") {
            options.layDefaults = true;
        } else if (arg == "--http") {
            if (++i == argc ||
                !panelsim::parseHostPort(argv[i], options.httpHost, options.httpPort))
                return usage();
        } else if (!arg.empty() && arg[0] != '-' && options.root.empty()) {
            options.root = arg;
        } else {
            return usage();
        }
    }
    if (options.root.empty())
        return usage();
    while (options.root.size() > 1 && options.root.back() == '/')
        options.root.pop_back();

    panelsim::blockStopSignals();
    return panelsim::runDaemon(options);
}
