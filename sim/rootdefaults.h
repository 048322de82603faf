// What keylight needs under a development ROOT before it can draw text: the device's default
// settings and the bitmap fonts. Laid only on request (panelsim --init); a bare ROOT stays bare.
#pragma once

#include <string>

namespace panelsim {

struct DefaultSources {
    std::string settingsDir;  // holds launcher.cfg, buttonlevel and panel.map
    std::string fontDir;      // holds the X11 misc-fixed WxH.pcf.gz fonts
};

// Copies the settings files into ROOT/etc/tesserax and links every WxH.pcf.gz of the font
// folder into ROOT/opt/tesserax/fonts. A file or link already in ROOT is left as it is, so the
// user's own settings survive. Both folders under ROOT must exist. Returns false with a reason
// when a file cannot be read or written, or the font folder holds no such font.
bool layDefaults(const std::string& root, const DefaultSources& sources, std::string& error);

}  // namespace panelsim
