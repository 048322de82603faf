#include "rootdefaults.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>

namespace panelsim {

namespace {

const char* const SETTINGS_FILES[] = {"launcher.cfg", "buttonlevel", "panel.map"};

bool exists(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

std::string reason(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

bool copyWhereMissing(const std::string& from, const std::string& to, std::string& error) {
    if (exists(to))
        return true;
    std::ifstream in(from, std::ios::binary);
    if (!in) {
        error = reason("cannot read", from);
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    std::ofstream out(to, std::ios::binary);
    if (!(out << content.str()) || !out.flush()) {
        error = reason("cannot write", to);
        return false;
    }
    return true;
}

// The names keylight loads a font by: <width>x<height>.pcf.gz.
bool isCellFont(const std::string& name) {
    static const std::regex pattern("[0-9]+x[0-9]+\\.pcf\\.gz");
    return std::regex_match(name, pattern);
}

bool linkFonts(const std::string& fontDir, const std::string& linkDir, std::string& error) {
    DIR* folder = ::opendir(fontDir.c_str());
    if (folder == nullptr) {
        error = reason("cannot read", fontDir);
        return false;
    }
    int fonts = 0;
    bool ok = true;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (!isCellFont(name))
            continue;
        ++fonts;
        const std::string link = linkDir + "/" + name;
        if (!exists(link) && ::symlink((fontDir + "/" + name).c_str(), link.c_str()) != 0) {
            error = reason("cannot link", link);
            ok = false;
            break;
        }
    }
    ::closedir(folder);
    if (ok && fonts == 0) {
        error = "no WxH.pcf.gz fonts in " + fontDir + " (Debian package xfonts-base)";
        return false;
    }
    return ok;
}

}  // namespace

bool layDefaults(const std::string& root, const DefaultSources& sources, std::string& error) {
    for (const char* name : SETTINGS_FILES) {
        if (!copyWhereMissing(sources.settingsDir + "/" + name, root + "/etc/tesserax/" + name,
                              error))
            return false;
    }
    return linkFonts(sources.fontDir, root + "/opt/tesserax/fonts", error);
}

}  // namespace panelsim
