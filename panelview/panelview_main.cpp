// panelview FILE [--http ADDRESS:PORT] | FILE --png N|all OUT: keylight's picture of the panel,
// served read-only as the live page and the board's HTTP API, or written out as a PNG.
#include <httplib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "fileboard.h"
#include "httpapi.h"
#include "httpserve.h"
#include "pngencoder.h"

namespace {

const char USAGE[] =
    "usage: panelview FILE [--http ADDRESS:PORT]   serve the live page (default 127.0.0.1:8080)\n"
    "       panelview FILE --png N|all OUT         write screen N (0, 1, 2), or all three side\n"
    "                                             by side, as a PNG file\n"
    "FILE is keylight's picture of the panel, /run/keylight/panel.view on the device.\n";

int usage() {
    std::fputs(USAGE, stderr);
    return 2;
}

struct Options {
    std::string file;
    std::string host = "127.0.0.1";
    int port = 8080;
    bool png = false;
    int screen = -1;  // -1: all three
    std::string out;
};

// Writes the PNG to a file beside out first, so that a reader never finds half a picture.
int writePng(const panelview::FileBoard& board, const Options& options) {
    std::vector<panelsim::Picture> pictures = board.pictures();
    if (options.screen >= 0)
        pictures = {pictures[static_cast<size_t>(options.screen)]};
    const std::string png = panelsim::encodePng(pictures);
    if (png.empty()) {
        std::fputs("panelview: PNG encoding failed\n", stderr);
        return 1;
    }
    const std::string partial = options.out + ".part";
    {
        std::ofstream file(partial, std::ios::binary | std::ios::trunc);
        file.write(png.data(), static_cast<std::streamsize>(png.size()));
        file.close();
        if (!file) {
            std::fprintf(stderr, "panelview: cannot write %s: %s\n", partial.c_str(),
                         std::strerror(errno));
            std::remove(partial.c_str());
            return 1;
        }
    }
    if (std::rename(partial.c_str(), options.out.c_str()) != 0) {
        std::fprintf(stderr, "panelview: cannot write %s: %s\n", options.out.c_str(),
                     std::strerror(errno));
        std::remove(partial.c_str());
        return 1;
    }
    return 0;
}

int serve(const panelview::FileBoard& board, const Options& options) {
    httplib::Server http;
    panelsim::HttpApi api(board, [] { return panelsim::builtInPage(); });
    api.install(http);
    http.Get("/api/trace", [](const httplib::Request&, httplib::Response& res) {
        panelsim::refuse(res, 404,
                         "no trace here: keylight's picture holds what the panel shows, not the "
                         "register accesses that drew it");
    });
    // Nothing of the panel can be changed from here.
    const auto readOnly = [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Allow", "GET, HEAD");
        panelsim::refuse(res, 405, "read-only: panelview answers GET and HEAD only");
    };
    http.Post(".*", readOnly);
    http.Put(".*", readOnly);
    http.Patch(".*", readOnly);
    http.Delete(".*", readOnly);
    http.Options(".*", readOnly);

    const int port = panelsim::bindHttp(http, "panelview", options.host, options.port);
    if (port < 0) {
        return 1;
    }
    std::thread httpThread = panelsim::runHttp(http);
    std::printf("panelview: ready http://%s:%d/\n", panelsim::urlHost(options.host).c_str(), port);
    std::fflush(stdout);
    panelsim::waitForStopSignal();
    http.stop();
    httpThread.join();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options;
    bool http = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (arg == "--http" && !http && !options.png) {
            if (++i == argc || !panelsim::parseHostPort(argv[i], options.host, options.port))
                return usage();
            http = true;
        } else if (arg == "--png" && !http && !options.png) {
            if (i + 2 >= argc)
                return usage();
            const std::string which = argv[++i];
            if (which == "all") {
                options.screen = -1;
            } else if (which.size() == 1 && which[0] >= '0' && which[0] <= '2') {
                options.screen = which[0] - '0';
            } else {
                return usage();
            }
            options.out = argv[++i];
            options.png = true;
        } else if (!arg.empty() && arg[0] != '-' && options.file.empty()) {
            options.file = arg;
        } else {
            return usage();
        }
    }
    if (options.file.empty() || (options.png && options.out.empty()))
        return usage();

    panelview::FileBoard board(options.file);
    std::string error;
    if (!board.open(error)) {
        std::fprintf(stderr, "panelview: %s\n", error.c_str());
        return 2;
    }
    if (options.png)
        return writePng(board, options);

    panelsim::blockStopSignals();
    return serve(board, options);
}
