// keylight's picture of the panel, read from its file, as the HTTP API shows it.
#pragma once

#include <mutex>
#include <string>

#include "httpapi.h"

namespace panelview {

class FileBoard : public panelsim::BoardSource {
public:
    explicit FileBoard(std::string path);

    // Reads the file for the first time; false with a one-line reason when it is missing, of
    // another layout or version, or cut short.
    bool open(std::string& error);

    panelsim::BoardState state() const override;
    panelsim::Picture picture(int screen) const override;
    bool knowsStatusInputs() const override { return false; }

    // All three pictures of one moment.
    std::vector<panelsim::Picture> pictures() const;

private:
    struct Snapshot;
    // The newest whole picture; the last one read while keylight rewrites the file or while the
    // file is gone.
    Snapshot latest() const;

    std::string _path;
    mutable std::mutex _mutex;
};

}  // namespace panelview
