// keylight's own picture of the panel: the register model, fed every access keylight makes
// and kept in $RUNTIME_DIRECTORY/panel.view for readers such as panelview. The file outlives
// keylight (not a reboot), so that a restarted keylight can draw back what its clients drew.
#pragma once

#include <QString>

#include <memory>

#include "fpgamodel.h"
#include "panelviewfile.h"

namespace keylight {

class PanelPicture {
public:
    // The picture in folder runtime_directory; nullptr without a folder (no picture, no cost)
    // or when the file cannot be made, which is logged in one line. While the result lives,
    // every register access the hardware library makes reaches its model: create it before
    // the worker thread starts and destroy it after that thread ended.
    static std::unique_ptr<PanelPicture> open(const QString& runtime_directory);
    ~PanelPicture();
    PanelPicture(const PanelPicture&) = delete;
    PanelPicture& operator=(const PanelPicture&) = delete;

    // Whether the file held a picture from before this keylight: the screens show it, unless
    // the panel was started afresh.
    bool hadPicture() const { return _had_picture; }
    // The picture of screen 0..2.
    panelsim::Picture screen(int screen) const { return _model.picture(screen); }

private:
    explicit PanelPicture(std::unique_ptr<panelsim::PanelViewWriter> writer);
    static void observe(void* context, unsigned long request, const fpga_request* record);

    std::unique_ptr<panelsim::PanelViewWriter> _writer;
    bool _had_picture;
    panelsim::FpgaModel _model;
    int _connection;
};

}  // namespace keylight
