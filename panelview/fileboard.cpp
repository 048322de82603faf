#include "fileboard.h"

#include <sys/stat.h>

#include <algorithm>

namespace panelview {

namespace {

bool sameFile(const struct stat& info, dev_t device, ino_t inode) {
    return info.st_dev == device && info.st_ino == inode;
}

}  // namespace

FileBoard::FileBoard(std::string path)
    : _path(std::move(path)),
      _read(std::make_unique<panelsim::PanelViewState>()),
      _last(std::make_unique<panelsim::PanelViewState>()) {}

bool FileBoard::open(std::string& error) {
    std::lock_guard<std::mutex> lock(_mutex);
    struct stat before {};
    const bool named = ::stat(_path.c_str(), &before) == 0;
    auto reader = std::make_unique<panelsim::PanelViewReader>(_path);
    panelsim::PanelViewRead result = reader->result();
    if (result == panelsim::PanelViewRead::Ok)
        result = reader->read(*_last);
    if (result != panelsim::PanelViewRead::Ok) {
        error = panelsim::panelViewReadMessage(result, _path);
        return false;
    }
    // Should keylight replace the file between the stat and the open, the next request
    // finds another file at the path and opens it again.
    if (named) {
        _device = before.st_dev;
        _inode = before.st_ino;
    }
    _reader = std::move(reader);
    return true;
}

void FileBoard::follow() const {
    struct stat info {};
    if (::stat(_path.c_str(), &info) != 0 || sameFile(info, _device, _inode))
        return;
    auto reader = std::make_unique<panelsim::PanelViewReader>(_path);
    if (reader->result() != panelsim::PanelViewRead::Ok)
        return;
    _reader = std::move(reader);
    _device = info.st_dev;
    _inode = info.st_ino;
}

void FileBoard::refresh() const {
    follow();
    if (_reader->read(*_read) == panelsim::PanelViewRead::Ok)
        std::swap(_read, _last);
}

panelsim::BoardState FileBoard::state() const {
    std::lock_guard<std::mutex> lock(_mutex);
    refresh();
    return panelsim::boardState(*_last);
}

panelsim::Picture FileBoard::picture(int screen) const {
    panelsim::Picture picture{};
    if (screen < 0 || screen >= panelsim::SCREEN_COUNT)
        return picture;
    std::lock_guard<std::mutex> lock(_mutex);
    refresh();
    const uint16_t* words = _last->screens[screen];
    std::copy(words, words + panelsim::SCREEN_PIXELS, picture.begin());
    return picture;
}

std::vector<panelsim::Picture> FileBoard::pictures() const {
    std::lock_guard<std::mutex> lock(_mutex);
    refresh();
    std::vector<panelsim::Picture> pictures(panelsim::SCREEN_COUNT);
    for (int n = 0; n < panelsim::SCREEN_COUNT; ++n)
        std::copy(_last->screens[n], _last->screens[n] + panelsim::SCREEN_PIXELS,
                  pictures[static_cast<size_t>(n)].begin());
    return pictures;
}

}  // namespace panelview
