// A byte stream from one client, cut into frames the way a connection cuts them and handed
// to the dispatcher, whose tasks the worker executes against the FPGA model in-process.
// Each input runs to its end: the harness waits until the worker has executed every task
// the input caused, and checks that the alive queries were answered, intact.
#include <QByteArray>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "buttonmap.h"
#include "buttonsetterimpl.h"
#include "fpga.h"
#include "fpgamodel.h"
#include "fuzz_support.h"
#include "inprocessdevice.h"
#include "klm.h"
#include "klmframe.h"
#include "panelmapbuilder.h"

namespace {

constexpr int TAG = 1000;
constexpr auto BOUND = std::chrono::seconds(10);
constexpr int BOUND_MS = 10000;
constexpr int BLINK_TICKS = 3;  // blink ticks run after each input, as the timer would
const char ALIVE[] = {0, 0, 0, 4, 0, 0, 0, 1};
constexpr qint64 ALIVE_SIZE = sizeof ALIVE;

// The end of an input is marked by a reconfigure message of the harness's own, read from a
// level file whose "scr" line alternates between 0 and 100 %: once the worker has written the
// marker's backlight byte (0xC0 or 0xFF), it has executed everything the input posted before.
// The input's own reconfigure messages read the level file before it changes, so they can
// only repeat the previous marker's level.
class Marker {
public:
    void traced(const std::string& line) {
        unsigned value = 0;
        if (sscanf(line.c_str(), "%*d W 0800 %4X", &value) != 1) {
            return;
        }
        {
            std::lock_guard<std::mutex> locker(mutex);
            backlight = static_cast<int>(value >> 8);
        }
        changed.notify_all();
    }

    void waitFor(int percent) {
        const int expected = percent == 100 ? 0xFF : 0xC0;
        std::unique_lock<std::mutex> locker(mutex);
        if (!changed.wait_for(locker, BOUND, [&] { return backlight == expected; })) {
            fuzzsupport::fail("the worker did not reach the end of the input");
        }
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    int backlight = -1;
};

// Frames as a connection cuts them: a 32-bit big-endian length, then that many bytes; a
// frame whose bytes have not all arrived is not delivered.
std::vector<QByteArray> cutFrames(const uint8_t* data, size_t size) {
    std::vector<QByteArray> frames;
    size_t at = 0;
    while (size - at >= 4) {
        const uint32_t length = qFromBigEndian<uint32_t>(data + at);
        if (size - at - 4 < length) {
            break;
        }
        frames.emplace_back(reinterpret_cast<const char*>(data + at + 4), static_cast<int>(length));
        at += 4 + length;
    }
    return frames;
}

bool isQuery(const QByteArray& message) {
    return message.size() >= 4 && qFromBigEndian<uint32_t>(message.constData()) == TYPE_QUERY;
}

QByteArray reconfigureMessage() {
    const std::vector<uint8_t> record = klm_record_of<KLM_Reconfigure>(0);
    return QByteArray(reinterpret_cast<const char*>(record.data()),
                      static_cast<int>(record.size()));
}

class Harness {
public:
    Harness() {
        writeLevel();
        fpga = new keylight::FPGA(fuzzsupport::writeFontSettings(),
                                  QStringLiteral(PANEL_X11_FONT_DIR));
        setter = new keylight::ButtonSetterImpl(levelPath);
        ownedButtons = keylight::PanelMapBuilder().buildMap(buttons, fpga);
        setter->setButtons(buttons);
        setter->setFPGA(fpga);
        connect();
    }

    void run(const uint8_t* data, size_t size) {
        std::vector<QByteArray> batch = cutFrames(data, size);
        for (const QByteArray& message : batch) {
            // A query of exactly its 4 bytes must be answered; one with more bytes may be.
            answersDue += message.size() == 4 && isQuery(message);
            answersAllowed += isQuery(message);
        }
        QByteArray replies;
        setter->process_messages(batch, replies, TAG);
        server->write(replies);
        for (int tick = 0; tick < BLINK_TICKS; ++tick) {
            setter->update_timer();
        }
        markerPercent = 100 - markerPercent;
        writeLevel();
        std::vector<QByteArray> marker{reconfigureMessage()};
        replies.clear();
        setter->process_messages(marker, replies, TAG);
        server->write(replies);
        markers.waitFor(markerPercent);
        collectAnswers();
    }

private:
    void writeLevel() {
        const QByteArray line = "scr " + QByteArray::number(markerPercent) + "\n";
        fuzzsupport::writeFile(levelPath, reinterpret_cast<const uint8_t*>(line.constData()),
                               static_cast<size_t>(line.size()));
    }

    // One client connection on the loopback interface: the dispatcher writes its replies to
    // server, and the harness reads them at client.
    void connect() {
        if (!listener.listen(QHostAddress::LocalHost, 0)) {
            fuzzsupport::fail("cannot listen on the loopback interface");
        }
        client.connectToHost(QHostAddress::LocalHost, listener.serverPort());
        if (!client.waitForConnected(BOUND_MS) || !listener.waitForNewConnection(BOUND_MS)) {
            fuzzsupport::fail("cannot connect on the loopback interface");
        }
        server = listener.nextPendingConnection();
    }

    // Every answer is the alive frame; all that were due arrive, and none beyond the queries.
    void collectAnswers() {
        while (server->bytesToWrite() > 0) {
            if (!server->waitForBytesWritten(BOUND_MS)) {
                fuzzsupport::fail("the answers were not written");
            }
        }
        for (;;) {
            const QByteArray bytes = client.readAll();
            for (const char byte : bytes) {
                if (byte != ALIVE[received % ALIVE_SIZE]) {
                    fuzzsupport::fail("an answer is not the alive frame");
                }
                ++received;
            }
            if (received > answersAllowed * ALIVE_SIZE) {
                fuzzsupport::fail("more answers than queries");
            }
            if (received >= answersDue * ALIVE_SIZE) {
                return;
            }
            if (!client.waitForReadyRead(BOUND_MS)) {
                fuzzsupport::fail("a query was not answered");
            }
        }
    }

    Marker markers;
    panelsim::FpgaModel model{[this](const std::string& line) { markers.traced(line); }};
    panelsim::InProcessDevice device{model};
    QString levelPath = fuzzsupport::temporaryPath(QStringLiteral("buttonlevel"));
    int markerPercent = 0;
    keylight::FPGA* fpga = nullptr;  // never deleted, like everything of keylight's start-up
    keylight::ButtonSetterImpl* setter = nullptr;
    keylight::OwnedButtons ownedButtons;
    keylight::ButtonMap buttons;
    QTcpServer listener;
    QTcpSocket client;
    QTcpSocket* server = nullptr;
    qint64 answersDue = 0;      // over the whole run
    qint64 answersAllowed = 0;  // over the whole run
    qint64 received = 0;        // answer bytes over the whole run
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::quiet();
    fuzzsupport::startApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Harness* harness = new Harness;
    harness->run(data, size);
    return 0;
}
