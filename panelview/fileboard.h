// keylight's picture of the panel, read from its file, as the board the HTTP API shows.
#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "httpapi.h"
#include "panelviewfile.h"

namespace panelview {

class FileBoard : public panelsim::BoardSource {
public:
    explicit FileBoard(std::string path);

    // Reads the picture for the first time; false with one line saying why when the file is
    // missing, of another layout or version, cut short, or never whole.
    bool open(std::string& error);

    panelsim::BoardState state() const override;
    panelsim::Picture picture(int screen) const override;
    // Only lampwatch reads the status inputs; keylight's picture does not hold them.
    bool knowsStatusInputs() const override { return false; }

    // The three screens of one moment.
    std::vector<panelsim::Picture> pictures() const;

private:
    // Reads the newest whole picture into _last; keeps the last one while keylight is in the
    // middle of an update, or while the file is gone or broken. Called with _mutex held.
    void refresh() const;
    // Opens the file at the path anew when it is another file than the one mapped.
    void follow() const;

    std::string _path;
    mutable std::mutex _mutex;
    mutable std::unique_ptr<panelsim::PanelViewReader> _reader;
    mutable dev_t _device = 0;
    mutable ino_t _inode = 0;
    mutable std::unique_ptr<panelsim::PanelViewState> _read;
    mutable std::unique_ptr<panelsim::PanelViewState> _last;
};

}  // namespace panelview
