#include "panelpicture.h"

#include <QDebug>
#include <QDir>

#include <unistd.h>

#include <string>

#include "panel.h"

namespace keylight {

std::unique_ptr<PanelPicture> PanelPicture::open(const QString& runtime_directory) {
    if (runtime_directory.isEmpty())
        return nullptr;
    const QString path = QDir(runtime_directory).filePath(panelsim::PANEL_VIEW_FILE_NAME);
    std::string error;
    auto writer = panelsim::PanelViewWriter::open(path.toStdString(), error);
    if (!writer) {
        qWarning().noquote() << QStringLiteral("keylight: no picture of the panel: %1")
                                    .arg(QString::fromStdString(error));
        return nullptr;
    }
    return std::unique_ptr<PanelPicture>(new PanelPicture(std::move(writer)));
}

PanelPicture::PanelPicture(std::unique_ptr<panelsim::PanelViewWriter> writer)
    : _writer(std::move(writer)),
      _had_picture(_writer->hadPicture()),
      _model({}, &_writer->file()),
      _connection(_model.openConnection(getpid())) {
    // panelprime brought the controllers up before keylight started; a new picture starts
    // from where that start-up left them (displays on, backlight at its brightest).
    if (!_had_picture)
        tft_controller_init_replay(&PanelPicture::observe, this);
    fpga_set_access_observer(&PanelPicture::observe, this);
}

PanelPicture::~PanelPicture() {
    fpga_set_access_observer(nullptr, nullptr);
}

void PanelPicture::observe(void* context, unsigned long request, const fpga_request* record) {
    auto* picture = static_cast<PanelPicture*>(context);
    // The model hands a read's value back in the record: the device's answer stays the
    // caller's.
    fpga_request copy = *record;
    picture->_model.execute(picture->_connection, request, &copy);
}

}  // namespace keylight
