#include "daemon.h"

#include <httplib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "devicelistener.h"
#include "fpgamodel.h"
#include "httpapi.h"
#include "httpserve.h"
#include "simroutes.h"
#include "tracelog.h"

namespace panelsim {

namespace {

// mkdir -p for the few folders the programs expect under ROOT.
bool makeDirectories(const std::string& path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
            std::fprintf(stderr, "panelsim: cannot create %s: %s\n", prefix.c_str(),
                         std::strerror(errno));
            return false;
        }
        if (slash == std::string::npos)
            return true;
    }
}

// The page file is read at every request, so that it can be edited while the daemon runs;
// without it the page built into the program serves.
std::string page(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return builtInPage();
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

}  // namespace

int runDaemon(const DaemonOptions& options) {
    for (const char* folder : {"/dev", "/etc/tesserax", "/opt/tesserax/fonts"}) {
        if (!makeDirectories(options.root + folder))
            return 1;
    }
    std::string error;
    if (options.layDefaults && !layDefaults(options.root, options.defaults, error)) {
        std::fprintf(stderr, "panelsim: %s\n", error.c_str());
        return 1;
    }
    TraceLog trace;
    const std::string tracePath = options.root + "/trace.log";
    if (!trace.open(tracePath)) {
        std::fprintf(stderr, "panelsim: cannot open %s: %s\n", tracePath.c_str(),
                     std::strerror(errno));
        return 1;
    }
    FpgaModel model([&trace](const std::string& line) { trace.append(line); });

    DeviceListener device(model);
    if (!device.listen(options.root + "/dev/fpga-reg", error)) {
        std::fprintf(stderr, "panelsim: %s\n", error.c_str());
        return 1;
    }

    httplib::Server http;
    const LiveBoard board(model);
    HttpApi api(board, [&options] { return page(options.pagePath); });
    api.install(http);
    installSimRoutes(http, model, trace);
    const int port = bindHttp(http, "panelsim", options.httpHost, options.httpPort);
    if (port < 0) {
        return 1;
    }

    std::thread deviceThread([&device] { device.run(); });
    std::thread httpThread = runHttp(http);
    std::printf("panelsim: ready http://%s:%d/\n", urlHost(options.httpHost).c_str(), port);
    std::fflush(stdout);

    waitForStopSignal();
    http.stop();
    device.stop();
    httpThread.join();
    deviceThread.join();
    return 0;
}

}  // namespace panelsim
