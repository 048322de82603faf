#include "buttonsetterimpl.h"

#include <QDebug>
#include <QLoggingCategory>
#include <QtEndian>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>

#include "defaultbuttonimages.h"
#include "fpga.h"
#include "klm.h"
#include "logescape.h"
#include "panel.h"

namespace keylight {

namespace {

// The per-message lines. Named as plain qDebug's category, so that the lines read the same
// and the same rules apply; unlike plain qDebug, nothing is formatted while debug is off.
Q_LOGGING_CATEGORY(messageLines, "default")

constexpr int ALL_BUTTONS = -1;
constexpr int BLINK_STATE = -1;
constexpr int LAST_SHARED_IMAGE_ID = DEFAULT_IMAGE_COUNT - 1;
constexpr size_t OPCODE_SIZE = sizeof(uint32_t);
// The bytes of a null message shown one a line; the rest are counted in one more.
constexpr int NULL_MESSAGE_BYTES_SHOWN = 16;

uint32_t readNetworkWord(const QByteArray& message, size_t offset) {
    return qFromBigEndian<uint32_t>(message.constData() + offset);
}

// Why the message cannot be read as the record of `layout`, or an empty text when it carries
// all that the record needs. Nothing past the end of the message is read.
QString refusalReason(const QByteArray& message, const KlmRecordLayout& layout) {
    const size_t size = static_cast<size_t>(message.size());
    if (size < layout.fixed_size) {
        return QStringLiteral("shorter than its %1-byte record").arg(layout.fixed_size);
    }
    if (layout.tail == KlmTail::NONE) {
        return {};
    }
    const uint32_t claimed = readNetworkWord(message, layout.count_offset);
    if (uint64_t{claimed} * layout.unit_size() > size - layout.fixed_size) {
        return QStringLiteral("its length field claims %1 bytes").arg(claimed);
    }
    if (layout.tail == KlmTail::TEXT &&
        memchr(message.constData() + layout.fixed_size, 0, size - layout.fixed_size) == nullptr) {
        return QStringLiteral("its text has no zero byte");
    }
    return {};
}

// The message as a host-order Record in word-aligned storage: a message cut from a read need
// not start on a 4-byte boundary, and the record is read through its struct. A message that
// does not carry all its record needs is refused with one log line, and the result is null.
template <typename Record>
const Record* hostRecord(const QByteArray& message, std::vector<uint32_t>& storage) {
    const KlmRecordLayout& layout = KlmRecordTraits<Record>::LAYOUT;
    const QString refusal = refusalReason(message, layout);
    if (!refusal.isEmpty()) {
        qCritical().noquote() << QStringLiteral(
                                     "keylight: refused opcode %1 message of %2 bytes: %3")
                                     .arg(layout.type)
                                     .arg(message.size())
                                     .arg(refusal);
        return nullptr;
    }
    const size_t size = static_cast<size_t>(message.size());
    storage.assign((size + sizeof(uint32_t) - 1) / sizeof(uint32_t), 0);
    memcpy(storage.data(), message.constData(), size);
    klm_ntoh(layout, storage.data(), storage.data());
    return reinterpret_cast<const Record*>(storage.data());
}

}  // namespace

ButtonSetterImpl::ButtonSetterImpl(const QString& levelFilePath) : _level_file(levelFilePath) {
    reconfig();
    const auto& defaults = defaultButtonImages();
    for (int id = 0; id < DEFAULT_IMAGE_COUNT; ++id) {
        _images[id] = ButtonImage(defaults[static_cast<size_t>(id)]);
    }
    _update_timer.setInterval(BlinkState::TICK_MS);
    connect(&_update_timer, &QTimer::timeout, this, &ButtonSetterImpl::update_timer);
}

bool ButtonSetterImpl::setButtons(const ButtonMap& buttons) {
    _buttons = buttons;
    return true;
}

void ButtonSetterImpl::setFPGA(FPGA* fpga) {
    _fpga = fpga;
}

void ButtonSetterImpl::process_messages(std::vector<QByteArray>& messages, QByteArray& replies,
                                        int tag) {
    for (QByteArray& message : messages) {
        message.detach();
        if (static_cast<size_t>(message.size()) < OPCODE_SIZE) {
            qCritical().noquote()
                << QStringLiteral("keylight: refused message of %1 bytes: too short for an opcode")
                       .arg(message.size());
            continue;
        }
        dispatch(message, replies, tag);
    }
}

void ButtonSetterImpl::dispatch(QByteArray& message, QByteArray& replies, int tag) {
    const uint32_t opcode = readNetworkWord(message, 0);
    qCDebug(messageLines) << "keylight: opcode = " << opcode << ", size = " << message.size();
    switch (opcode) {
    case TYPE_NULL_MESSAGE:
        handleNullMessage(message);
        break;
    case TYPE_UPLOAD_IMAGE:
        handleUploadImage(message, tag);
        break;
    case TYPE_RECONFIGURE:
        handleReconfigure(message);
        break;
    case TYPE_QUERY:
        handleQuery(replies);
        break;
    case TYPE_TFT_TEXT_LINE:
        handleTextLine(message);
        break;
    case TYPE_BLACKOUT_SCREEN:
        handleBlackoutScreen(message);
        break;
    case TYPE_SET_LED_BUTTON_STATE:
        handleSetLEDButtonState(message);
        break;
    case TYPE_TFT_SUB_TEXT_LINE:
        handleSubTextLine(message);
        break;
    case TYPE_DRAW_TFT_IMAGE:
        handleDrawTFTImage(message);
        break;
    case TYPE_SET_LED_STATUS_INDICATOR:
        handleSetLEDStatusIndicator(message);
        break;
    case TYPE_SET_LED_TOGGLE_INDICATOR:
        handleSetLEDToggleIndicator(message);
        break;
    default:
        // Records that clients may build but the panel has no use for: logged, not acted on.
        qCritical() << "ButtonSetterImpl::process_messages, unhandled switch case"
                    << static_cast<int32_t>(opcode);
        break;
    }
}

void ButtonSetterImpl::handleNullMessage(const QByteArray& message) {
    qCritical() << "ButtonSetterImpl::process_messages , TYPE_NULL_MESSAGE";
    qCritical() << "size  = " << message.size();
    const int shown = std::min(static_cast<int>(message.size()), NULL_MESSAGE_BYTES_SHOWN);
    for (int i = 0; i < shown; ++i) {
        log_printf(log_priority::debug, "data[%d] = 0x%x\n", i,
                   static_cast<unsigned char>(message[i]));
    }
    if (message.size() > shown) {
        log_printf(log_priority::debug, "data[%d..%d] not shown: %d more bytes\n", shown,
                   static_cast<int>(message.size()) - 1, static_cast<int>(message.size()) - shown);
    }
}

void ButtonSetterImpl::handleUploadImage(QByteArray& message, int tag) {
    if (const auto* record = hostRecord<KLM_UploadImage>(message, _record)) {
        uploadImage(static_cast<int>(record->_image_id), static_cast<int>(record->_size),
                    record->_data, tag);
    }
}

void ButtonSetterImpl::handleReconfigure(QByteArray& message) {
    if (hostRecord<KLM_Reconfigure>(message, _record) != nullptr) {
        reconfig();
    }
}

void ButtonSetterImpl::handleQuery(QByteArray& replies) {
    // A frame of length 4 whose record is the number 1: "alive". The lone answer of a batch
    // shares these bytes rather than copying them.
    static const QByteArray ALIVE("\0\0\0\4\0\0\0\1", 8);
    replies += ALIVE;
}

void ButtonSetterImpl::handleTextLine(QByteArray& message) {
    if (const auto* record = hostRecord<KLM_TextLine>(message, _record)) {
        qCDebug(messageLines) << "keylight: Got a TFT text line message";
        _fpga->textLine(static_cast<int>(record->_screen_id), static_cast<int>(record->_line_id),
                        record->_text, record->_inverted != 0);
    }
}

void ButtonSetterImpl::handleBlackoutScreen(QByteArray& message) {
    if (const auto* record = hostRecord<KLM_BlackoutScreen>(message, _record)) {
        _fpga->blackoutScreen(static_cast<int>(record->_screen_id));
    }
}

void ButtonSetterImpl::handleSetLEDButtonState(QByteArray& message) {
    if (const auto* record = hostRecord<KLM_SetLEDButtonState>(message, _record)) {
        const int id = static_cast<int>(record->_button_id);
        const int state = static_cast<int>(record->_state);
        setLEDState(id, state, static_cast<int>(record->_time));
        qCDebug(messageLines) << "Button " << id << " set to state " << state;
    }
}

void ButtonSetterImpl::handleSubTextLine(QByteArray& message) {
    if (const auto* record = hostRecord<KLM_SubTextLine>(message, _record)) {
        qCDebug(messageLines) << "keylight: Got a TFT sub-text line message";
        const int screenId = static_cast<int>(record->_screen_id);
        const int lineId = static_cast<int>(record->_line_id);
        const int offset = static_cast<int>(record->_offset);
        const int numChars = static_cast<int>(record->_num_chars);
        if (log_kept(log_priority::debug)) {
            log_printf(
                log_priority::debug,
                "keylight: _screen_id = %d, _line_id = %d,  _offset =%d, _num_chars = %d, _text = "
                "'%s', "
                "_text_colour = 0x%x, _back_colour = 0x%x.\n",
                screenId, lineId, offset, numChars, escapedForLog(record->_text).c_str(),
                record->_text_colour, record->_back_colour);
        }
        _fpga->subTextLine(screenId, lineId, offset, numChars, record->_text, record->_text_colour,
                           record->_back_colour);
    }
}

void ButtonSetterImpl::handleDrawTFTImage(QByteArray& message) {
    if (const auto* record = hostRecord<KLM_DrawTFTImage>(message, _record)) {
        const int screenId = static_cast<int>(record->_screen_id);
        const int x = static_cast<int>(record->_xoffset);
        const int y = static_cast<int>(record->_yoffset);
        log_printf(
            log_priority::debug,
            "keylight(DRAW_TFT_IMAGE): _screen_id = %d, _xoffset =%d, _yoffset = %d, _size = %d.\n",
            screenId, x, y, static_cast<int>(record->_size));
        // The task copies the bytes: the message buffer is gone before the worker draws.
        _fpga->drawTFTImage(screenId, x, y, record->_data, record->_size);
    }
}

void ButtonSetterImpl::handleSetLEDStatusIndicator(QByteArray& message) {
    if (const auto* record = hostRecord<KLM_SetLEDStatusIndicator>(message, _record)) {
        _fpga->setLEDStatusIndicator(static_cast<int>(record->_indicator_id),
                                     static_cast<int>(record->_state));
    }
}

void ButtonSetterImpl::handleSetLEDToggleIndicator(QByteArray& message) {
    if (const auto* record = hostRecord<KLM_SetLEDToggleIndicator>(message, _record)) {
        _fpga->setLEDToggleIndicator(static_cast<int>(record->_indicator_id),
                                     static_cast<int>(record->_state));
    }
}

void ButtonSetterImpl::reconfig() {
    _level_file.read(_levels, _fpga);
}

void ButtonSetterImpl::keepBlinkTable(const QString& folder) {
    _blink_file = BlinkTableFile(folder);
    const std::vector<BlinkRow> rows =
        _blink_file.load([this](int id) { return _buttons.count(id) != 0; });
    for (const BlinkRow& row : rows) {
        IButton* button = _buttons.at(row.id);
        _blinking.emplace(button, Blink{BlinkState(static_cast<uint8_t>(row.first_state),
                                                   static_cast<uint8_t>(row.second_state),
                                                   row.first_time, row.second_time),
                                        button->startBlinking()});
    }
    if (!rows.empty()) {
        qInfo().noquote() << QStringLiteral(
                                 "keylight: %1 buttons blink again, as \"%2\" keeps them")
                                 .arg(rows.size())
                                 .arg(_blink_file.path());
        startBlinkTimer();
    }
}

void ButtonSetterImpl::setLEDState(int id, int state, int time) {
    if (id == ALL_BUTTONS) {
        for (const auto& entry : _buttons) {
            setOneLEDState(entry.second->id(), state, time);
        }
    } else {
        setOneLEDState(id, state, time);
    }
    // Once per message: a request for every button writes the table once.
    if (_blinking_changed) {
        _blinking_changed = false;
        saveBlinkTable();
    }
}

void ButtonSetterImpl::saveBlinkTable() {
    std::vector<BlinkRow> rows;
    rows.reserve(_blinking.size());
    for (const auto& entry : _blinking) {
        const BlinkState& cycle = entry.second.cycle;
        rows.push_back(BlinkRow{entry.first->id(), cycle.firstState(), cycle.secondState(),
                                cycle.firstTime(), cycle.secondTime()});
    }
    std::sort(rows.begin(), rows.end(),
              [](const BlinkRow& a, const BlinkRow& b) { return a.id < b.id; });
    _blink_file.save(rows);
}

void ButtonSetterImpl::setOneLEDState(int id, int state, int time) {
    const auto found = _buttons.find(id);
    if (found == _buttons.end()) {
        log_printf(log_priority::err, "keylight:invalid button id %d, setLEDState()\n", id);
        return;
    }
    IButton* button = found->second;
    if (state != BLINK_STATE) {
        if (_blinking.erase(button) > 0) {
            _blinking_changed = true;
        }
        button->setLEDState(state);
        return;
    }
    if (time == 0) {
        log_printf(log_priority::err,
                   "keylight: button id %d must have a non-zero time to use blinking.", id);
        return;
    }
    // A new entry restarts the cycle of a button that blinks already; the old one's phase
    // still waiting is withdrawn before the new one's first task is posted.
    _blinking.erase(button);
    _blinking.emplace(button, Blink{BlinkState(time), button->startBlinking()});
    _blinking_changed = true;
    startBlinkTimer();
}

void ButtonSetterImpl::startBlinkTimer() {
    if (!_update_timer.isActive()) {
        _update_timer.start();
        qCDebug(messageLines) << "ButtonSetterImpl, update timer started";
    }
}

void ButtonSetterImpl::update_timer() {
    for (auto& entry : _blinking) {
        Blink& blink = entry.second;
        if (const std::optional<int> state = blink.cycle.tick()) {
            blink.led->show(*state);
        }
    }
    if (_blinking.empty()) {
        _update_timer.stop();
        qCDebug(messageLines) << "update timer stoped";
    }
}

void ButtonSetterImpl::uploadImage(int imageId, int size, const uint8_t* data, int tag) {
    ButtonImage image;
    if (!image.fill(data, size)) {
        log_printf(log_priority::err, "keylight:failed to upload image %d\n", imageId);
        return;
    }
    if (imageId >= 0 && imageId <= LAST_SHARED_IMAGE_ID) {
        _images.insert_or_assign(imageId, image);
        log_printf(log_priority::debug, "keylight:image uploaded %d\n", imageId);
        return;
    }
    int64_t key = imageId;
    if (imageId > LAST_SHARED_IMAGE_ID) {
        // Each connection owns the ids above the shared ones, offset by its tag.
        key += tag;
    }
    if (key < std::numeric_limits<int>::min() || key > std::numeric_limits<int>::max()) {
        log_printf(log_priority::err, "keylight:failed to upload image %d\n", imageId);
        return;
    }
    std::map<int, ButtonImage>& own = _own_images[tag];
    if (own.size() >= OWN_IMAGES_MAX && own.count(static_cast<int>(key)) == 0) {
        log_printf(log_priority::err,
                   "keylight:failed to upload image %d, the connection holds %zu images already\n",
                   imageId, own.size());
        return;
    }
    own.insert_or_assign(static_cast<int>(key), image);
    log_printf(log_priority::debug, "keylight:image uploaded %d\n", static_cast<int>(key));
}

void ButtonSetterImpl::connectionClosed(int tag) {
    _own_images.erase(tag);
}

std::optional<ButtonImage> ButtonSetterImpl::storedImage(int key) const {
    if (const auto shared = _images.find(key); shared != _images.end()) {
        return shared->second;
    }
    for (const auto& connection : _own_images) {
        if (const auto own = connection.second.find(key); own != connection.second.end()) {
            return own->second;
        }
    }
    return std::nullopt;
}

}  // namespace keylight
