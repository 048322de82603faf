// The message dispatcher: turns every client message into a hardware task, a change of its
// own state (blinking, brightness levels, image store) or the one reply.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "blinkingled.h"
#include "blinkstate.h"
#include "blinktable.h"
#include "buttonimage.h"
#include "buttonmap.h"
#include "buttonsetter.h"
#include "levelfile.h"

namespace keylight {

class FPGA;

class ButtonSetterImpl : public QObject, public ButtonSetter {
    Q_OBJECT

public:
    // Reads the level file at levelFilePath (nothing is posted yet: no FPGA object is set),
    // fills the image store with the 23 default pictures and prepares the 20 ms blink timer
    // without starting it.
    explicit ButtonSetterImpl(const QString& levelFilePath);

    // Installs a copy of buttons as the button table; returns true.
    bool setButtons(const ButtonMap& buttons);
    // The FPGA object through which all hardware work is posted; set before the first batch.
    void setFPGA(FPGA* fpga);

    // Each message is checked against the bytes it carries before any field is read: one
    // that is shorter than 4 bytes or than its record, whose text or image length claims more
    // bytes than it carries, or whose text lacks its zero byte is refused with one log line
    // naming opcode and size; the next message is processed.
    void process_messages(std::vector<QByteArray>& messages, QTcpSocket* socket, int tag) override;
    // Drops the images the connection uploaded under its own ids.
    void connectionClosed(int tag) override;

    // Keeps the blink table in folder from now on (nothing when folder is empty), rewritten
    // whenever it changes, and resumes each blink of the table kept there. Called once the
    // buttons and the FPGA object are set.
    void keepBlinkTable(const QString& folder);

    // Reads the level file again and posts the screen level once per "scr" line.
    void reconfig();
    // State -1 blinks with phases of time milliseconds, any other state is steady; id -1
    // addresses every button. Unknown ids and blinking with time 0 are reported and ignored.
    void setLEDState(int id, int state, int time);
    // A connection keeps at most this many images under ids of its own.
    static constexpr size_t OWN_IMAGES_MAX = 32;

    // Stores size bytes as image imageId: ids 0 to 22 are shared, higher ids are offset by the
    // connection's tag; the images under ids other than the shared ones are the connection's
    // own and go with it. Refused when size is not 120, the key does not fit 32 bits, or the
    // id would be the connection's own image beyond OWN_IMAGES_MAX.
    void uploadImage(int imageId, int size, const uint8_t* data, int tag);

    // The image stored under key, if any: a shared one, else the first connection's that
    // holds one under key.
    std::optional<ButtonImage> storedImage(int key) const;

public slots:
    // One blink tick: posts the next state of every blinking button at its phase changes and
    // stops the timer once nothing blinks.
    void update_timer();

private:
    struct Blink {
        BlinkState cycle;
        std::unique_ptr<BlinkingLed> led;
    };

    void dispatch(QByteArray& message, QTcpSocket* socket, int tag);
    void handleNullMessage(const QByteArray& message);
    void handleUploadImage(QByteArray& message, int tag);
    void handleReconfigure(QByteArray& message);
    void handleQuery(QTcpSocket* socket);
    void handleTextLine(QByteArray& message);
    void handleBlackoutScreen(QByteArray& message);
    void handleSetLEDButtonState(QByteArray& message);
    void handleSubTextLine(QByteArray& message);
    void handleDrawTFTImage(QByteArray& message);
    void handleSetLEDStatusIndicator(QByteArray& message);
    void handleSetLEDToggleIndicator(QByteArray& message);
    void setOneLEDState(int id, int state, int time);
    void startBlinkTimer();
    void saveBlinkTable();

    // Word-aligned, host-order copy of the record being handled.
    std::vector<uint32_t> _record;
    std::map<int, ButtonImage> _images;                     // the shared ones, ids 0 to 22
    std::map<int, std::map<int, ButtonImage>> _own_images;  // by connection tag, then key
    ButtonMap _buttons;
    std::map<IButton*, Blink> _blinking;  // the buttons that blink, by pointer
    bool _blinking_changed = false;       // since the table was last kept
    BlinkTableFile _blink_file{QString()};
    ButtonLevels _levels;
    LevelFile _level_file;
    QTimer _update_timer;
    FPGA* _fpga = nullptr;
};

}  // namespace keylight
