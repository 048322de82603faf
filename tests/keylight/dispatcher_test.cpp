// Every opcode through a real connection: what reaches the board, the wire and the log.
#include <gtest/gtest.h>

#include <QtEndian>

#include <algorithm>
#include <climits>
#include <memory>
#include <string>

#include "buttonsetterimpl.h"
#include "clientkeylight.h"
#include "connector.h"
#include "fpga.h"
#include "panelmapbuilder.h"
#include "server_harness.h"

namespace {

using namespace servertest;

const QByteArray ALIVE("\x00\x00\x00\x04\x00\x00\x00\x01", 8);

// The server's objects as start-up builds them, on a free loopback port.
class Dispatch : public testing::Test {
protected:
    explicit Dispatch(const QString& launcherCfg = QString(),
                      const QByteArray& levels = QByteArray())
        : panel(launcherCfg) {
        if (!levels.isEmpty()) {
            panel.writeFile(QStringLiteral("buttonlevel"), levels);
        }
        buttons = keylight::PanelMapBuilder().buildMap(map, panel.fpga.get());
        setter = std::make_unique<keylight::ButtonSetterImpl>(panel.path("buttonlevel"));
        setter->setButtons(map);
        setter->setFPGA(panel.fpga.get());
        connector =
            std::make_unique<keylight::Connector>(QStringLiteral("127.0.0.1"), 0, setter.get());
        EXPECT_TRUE(connector->listen());
        client = connect();
        QtLog::clear();
    }

    ~Dispatch() override {
        client.reset();
        connector.reset();
        setter.reset();
    }

    std::unique_ptr<Client> connect() {
        const auto count = [&] {
            return connector->findChildren<keylight::ClientKeylight*>().size();
        };
        const auto before = count();
        auto connected = std::make_unique<Client>(connector->serverPort());
        EXPECT_TRUE(processUntil([&] { return count() > before; }));
        return connected;
    }

    int tagOfNewest() const {
        return connector->findChildren<keylight::ClientKeylight*>().last()->tag();
    }

    // Sends the frames followed by a query; returns once the reply is in and every task
    // they posted has executed.
    void sendAndSettle(const QByteArray& frames) {
        client->send(frames + frame(queryRecord()));
        ASSERT_EQ(client->receive(8), ALIVE);
        panel.drain();
    }

    Panel panel;
    keylight::OwnedButtons buttons;  // outlives the map and the setter
    keylight::ButtonMap map;
    std::unique_ptr<keylight::ButtonSetterImpl> setter;
    std::unique_ptr<keylight::Connector> connector;
    std::unique_ptr<Client> client;
};

int countPixels(const panelsim::Picture& picture, int firstRow, int rows, uint16_t colour) {
    return static_cast<int>(std::count(picture.begin() + firstRow * panelsim::SCREEN_WIDTH,
                                       picture.begin() + (firstRow + rows) * panelsim::SCREEN_WIDTH,
                                       colour));
}

TEST_F(Dispatch, a_batch_of_17_12_99_posts_the_led_then_replies_then_logs_the_unknown_type) {
    client->send(frame(ledButtonStateRecord(3, 1, 0)) + frame(queryRecord()) +
                 frame(typeOnlyRecord(99)));
    EXPECT_EQ(client->receive(8), ALIVE);
    ASSERT_TRUE(processUntil([] {
        return QtLog::contains("ButtonSetterImpl::process_messages, unhandled switch case 99");
    }));
    panel.drain();

    EXPECT_TRUE(panel.model.state().button_leds[3]);
    EXPECT_EQ(
        QtLog::lines(),
        (QStringList{"keylight: opcode =  17 , size =  16", "Button  3  set to state  1",
                     "keylight: opcode =  12 , size =  4", "keylight: opcode =  99 , size =  4",
                     "ButtonSetterImpl::process_messages, unhandled switch case 99"}));
}

TEST_F(Dispatch, the_reply_goes_to_the_asking_connection_only) {
    auto other = connect();
    client->send(frame(queryRecord()));
    EXPECT_EQ(client->receive(8), ALIVE);
    other->send(frame(queryRecord()));
    EXPECT_EQ(other->receive(8), ALIVE) << "nothing but its own reply reached the other client";
    EXPECT_EQ(client->socket.bytesAvailable(), 0);
}

TEST_F(Dispatch, a_null_message_prints_its_first_16_bytes_and_counts_the_rest) {
    StdoutCapture out;
    sendAndSettle(frame(nullRecord(QByteArray("\x01\xAB", 2))) +
                  frame(nullRecord(QByteArray(1000, '\x7F'))));
    std::string expected =
        "data[0] = 0x0\ndata[1] = 0x0\ndata[2] = 0x0\ndata[3] = 0x0\n"
        "data[4] = 0x1\ndata[5] = 0xab\n"
        "data[0] = 0x0\ndata[1] = 0x0\ndata[2] = 0x0\ndata[3] = 0x0\n";
    for (int i = 4; i < 16; ++i) {
        expected += "data[" + std::to_string(i) + "] = 0x7f\n";
    }
    EXPECT_EQ(out.finish(), expected + "data[16..1003] not shown: 988 more bytes\n");
    EXPECT_GE(QtLog::indexOf("ButtonSetterImpl::process_messages , TYPE_NULL_MESSAGE"), 0);
    EXPECT_EQ(QtLog::indexOf("size  =  6"),
              QtLog::indexOf("ButtonSetterImpl::process_messages , TYPE_NULL_MESSAGE") + 1);
}

TEST_F(Dispatch, blackout_clears_only_its_screen) {
    const QByteArray fullScreen = solidBmp(128, 128, 0xFF0000);
    sendAndSettle(frame(drawImageRecord(0, 0, 0, fullScreen)) +
                  frame(drawImageRecord(1, 0, 0, fullScreen)) + frame(blackoutScreenRecord(0)));
    EXPECT_EQ(countPixels(panel.model.picture(0), 0, 128, 0x0000), 128 * 128);
    EXPECT_EQ(countPixels(panel.model.picture(1), 0, 128, 0xF800), 128 * 128);
}

TEST_F(Dispatch, an_image_is_drawn_from_its_own_copy_at_its_position) {
    StdoutCapture out;
    const QByteArray bmp = solidBmp(2, 2, 0x00FF00);
    sendAndSettle(frame(drawImageRecord(2, 10, 20, bmp)));

    EXPECT_EQ(
        out.finish(),
        "keylight(DRAW_TFT_IMAGE): _screen_id = 2, _xoffset =10, _yoffset = 20, _size = 70.\n");
    const panelsim::Picture picture = panel.model.picture(2);
    for (int y = 20; y < 22; ++y) {
        for (int x = 10; x < 12; ++x) {
            EXPECT_EQ(picture[static_cast<size_t>(y * 128 + x)], 0x07E0) << x << "," << y;
        }
    }
    EXPECT_EQ(countPixels(picture, 0, 128, 0x07E0), 4);
}

TEST_F(Dispatch, records_that_follow_a_frame_of_odd_length_in_one_read_are_read_whole) {
    // 23 bytes of text line put the next records off a 4-byte boundary in the read.
    sendAndSettle(frame(textLineRecord(0, 0, false, "ab")) + frame(toggleIndicatorRecord(0, 1)) +
                  frame(statusIndicatorRecord(3, 1)));
    const auto board = panel.model.state();
    EXPECT_TRUE(board.toggle_leds[0]);
    EXPECT_TRUE(board.status_leds[3]);
}

TEST_F(Dispatch, indicators_reach_the_board) {
    sendAndSettle(frame(statusIndicatorRecord(4, 1)) + frame(toggleIndicatorRecord(1, 1)));
    const panelsim::BoardState state = panel.model.state();
    EXPECT_TRUE(state.status_leds[4]);
    EXPECT_TRUE(state.toggle_leds[1]);
    EXPECT_FALSE(state.toggle_leds[0]);

    sendAndSettle(frame(statusIndicatorRecord(4, 0)));
    EXPECT_FALSE(panel.model.state().status_leds[4]);
}

TEST_F(Dispatch, an_unknown_button_id_is_reported_and_the_state_line_still_follows) {
    StdoutCapture out;
    sendAndSettle(frame(ledButtonStateRecord(24, 1, 0)));
    EXPECT_EQ(out.finish(), "keylight:invalid button id 24, setLEDState()\n");
    EXPECT_TRUE(QtLog::contains("Button  24  set to state  1"));
    EXPECT_TRUE(panel.takeButtonLedWrites().empty());
}

TEST_F(Dispatch, led_request_for_every_button_lights_them_all) {
    sendAndSettle(frame(ledButtonStateRecord(-1, 1, 0)));
    const panelsim::BoardState state = panel.model.state();
    for (int led = 0; led < 32; ++led) {
        EXPECT_EQ(state.button_leds[static_cast<size_t>(led)], led < 24) << led;
    }
}

TEST_F(Dispatch, shared_image_ids_are_stored_as_given_and_higher_ids_in_the_connection_range) {
    StdoutCapture out;
    const int tag = tagOfNewest();
    sendAndSettle(frame(uploadImageRecord(5, 120, 0xA5)) + frame(uploadImageRecord(30, 120, 0x5A)));

    EXPECT_EQ(out.finish(), "keylight:image uploaded 5\nkeylight:image uploaded " +
                                std::to_string(tag + 30) + "\n");
    ASSERT_TRUE(setter->storedImage(5).has_value());
    EXPECT_EQ(setter->storedImage(5)->bytes()[0], 0xA5);
    ASSERT_TRUE(setter->storedImage(tag + 30).has_value());
    EXPECT_EQ(setter->storedImage(tag + 30)->bytes()[119], 0x5A);
    EXPECT_FALSE(setter->storedImage(30).has_value());
}

TEST_F(Dispatch, a_connection_keeps_32_images_of_its_own_which_go_when_it_closes) {
    StdoutCapture out;
    const int tag = tagOfNewest();
    QByteArray uploads;
    for (int id = 23; id <= 55; ++id) {
        uploads += frame(uploadImageRecord(id, 120, 1));
    }
    uploads += frame(uploadImageRecord(-1, 120, 1)) + frame(uploadImageRecord(23, 120, 2)) +
               frame(uploadImageRecord(5, 120, 3));
    sendAndSettle(uploads);
    const std::string printed = out.finish();

    EXPECT_NE(printed.find("keylight:image uploaded " + std::to_string(tag + 54) +
                           "\n"
                           "keylight:failed to upload image 55, the connection holds 32 images "
                           "already\n"
                           "keylight:failed to upload image -1, the connection holds 32 images "
                           "already\n"
                           "keylight:image uploaded " +
                           std::to_string(tag + 23) +
                           "\n"
                           "keylight:image uploaded 5\n"),
              std::string::npos)
        << printed;
    EXPECT_FALSE(setter->storedImage(tag + 55).has_value());
    EXPECT_EQ(setter->storedImage(tag + 23)->bytes()[0], 2);

    client->socket.disconnectFromHost();
    EXPECT_TRUE(processUntil([&] { return !setter->storedImage(tag + 23).has_value(); }));
    EXPECT_EQ(setter->storedImage(5)->bytes()[0], 3) << "the shared images stay";
}

TEST_F(Dispatch, the_default_images_are_in_the_store_from_the_start) {
    for (int id = 0; id < 23; ++id) {
        ASSERT_TRUE(setter->storedImage(id).has_value()) << id;
    }
    EXPECT_FALSE(setter->storedImage(23).has_value());
    EXPECT_NE(setter->storedImage(1)->bytes(), setter->storedImage(2)->bytes());
}

TEST_F(Dispatch, an_upload_of_the_wrong_size_is_refused_and_stores_nothing) {
    StdoutCapture out;
    const int tag = tagOfNewest();
    sendAndSettle(frame(uploadImageRecord(40, 100, 1)) + frame(uploadImageRecord(7, 121, 1)));
    EXPECT_EQ(out.finish(),
              "invalid image data, size = 100\nkeylight:failed to upload image 40\n"
              "invalid image data, size = 121\nkeylight:failed to upload image 7\n");
    EXPECT_FALSE(setter->storedImage(tag + 40).has_value());
    EXPECT_NE(setter->storedImage(7)->bytes()[0], 1);
}

TEST_F(Dispatch, an_upload_whose_key_would_not_fit_32_bits_is_refused) {
    StdoutCapture out;
    sendAndSettle(frame(uploadImageRecord(INT_MAX - 10, 120, 1)));
    EXPECT_EQ(out.finish(),
              "keylight:failed to upload image " + std::to_string(INT_MAX - 10) + "\n");
}

TEST_F(Dispatch, opcodes_without_an_action_are_only_logged) {
    sendAndSettle(frame(typeOnlyRecord(7) + QByteArray(8, '\0')) +
                  frame(typeOnlyRecord(11) + QByteArray(20, '\0')) +
                  frame(typeOnlyRecord(0x80000000u)));
    EXPECT_TRUE(QtLog::contains("ButtonSetterImpl::process_messages, unhandled switch case 7"));
    EXPECT_TRUE(QtLog::contains("ButtonSetterImpl::process_messages, unhandled switch case 11"));
    EXPECT_TRUE(
        QtLog::contains("ButtonSetterImpl::process_messages, unhandled switch case -2147483648"));
    EXPECT_TRUE(panel.takeButtonLedWrites().empty());
}

TEST_F(Dispatch, messages_that_do_not_carry_their_record_are_refused_and_the_next_one_runs) {
    QByteArray textTooLong = textLineRecord(0, 0, false, "abcd");
    qToBigEndian<uint32_t>(10, textTooLong.data() + 16);
    QByteArray textWithoutZero = textLineRecord(0, 0, false, "abcd");
    textWithoutZero[textWithoutZero.size() - 1] = 'e';
    QByteArray subTextWithoutZero = subTextLineRecord(0, 0, 0, 1, 0, 0, "z");
    subTextWithoutZero[subTextWithoutZero.size() - 1] = 'z';
    QByteArray imageTooLong = drawImageRecord(0, 0, 0, solidBmp(2, 2, 0xFFFFFF));
    qToBigEndian<uint32_t>(80, imageTooLong.data() + 16);

    sendAndSettle(
        frame(QByteArray("\x00\x00\x11", 3)) + frame(ledButtonStateRecord(3, 1, 0).left(12)) +
        frame(textLineRecord(0, 0, false, "").left(19)) + frame(textTooLong) +
        frame(textWithoutZero) + frame(subTextWithoutZero) + frame(imageTooLong) +
        frame(uploadImageRecord(5, 120, 1).left(131)) + frame(ledButtonStateRecord(4, 1, 0)));

    const QStringList refusals = QtLog::lines().filter("refused");
    EXPECT_EQ(
        refusals,
        (QStringList{
            "keylight: refused message of 3 bytes: too short for an opcode",
            "keylight: refused opcode 17 message of 12 bytes: shorter than its 16-byte record",
            "keylight: refused opcode 15 message of 19 bytes: shorter than its 20-byte record",
            "keylight: refused opcode 15 message of 25 bytes: its length field claims 10 bytes",
            "keylight: refused opcode 15 message of 25 bytes: its text has no zero byte",
            "keylight: refused opcode 18 message of 34 bytes: its text has no zero byte",
            "keylight: refused opcode 19 message of 90 bytes: its length field claims 80 bytes",
            "keylight: refused opcode 6 message of 131 bytes: shorter than its 132-byte record"}));
    EXPECT_EQ(panel.takeButtonLedWrites(), std::vector<std::string>{"L4"});
    EXPECT_EQ(countPixels(panel.model.picture(0), 0, 128, 0xFFFF), 0);
}

class DispatchWithFont : public Dispatch {
protected:
    DispatchWithFont() : Dispatch(QStringLiteral("[font]\nwidth=8\nheight=13\n")) {}
};

TEST_F(DispatchWithFont, a_text_line_is_black_on_white_or_white_on_black_when_inverted) {
    sendAndSettle(frame(textLineRecord(1, 0, false, "A")));
    EXPECT_TRUE(QtLog::contains("keylight: Got a TFT text line message"));
    const int plainWhite = countPixels(panel.model.picture(1), 0, 13, 0xFFFF);
    EXPECT_GT(plainWhite, 128 * 13 / 2);

    sendAndSettle(frame(textLineRecord(1, 0, true, "A")));
    const int invertedWhite = countPixels(panel.model.picture(1), 0, 13, 0xFFFF);
    EXPECT_GT(invertedWhite, 0);
    EXPECT_EQ(invertedWhite + plainWhite, 128 * 13) << "the inverted line is the negative";
    EXPECT_EQ(countPixels(panel.model.picture(1), 13, 115, 0xFFFF), 0);
}

TEST_F(DispatchWithFont, a_sub_text_line_prints_its_fields_and_draws_its_cells_in_its_colours) {
    StdoutCapture out;
    sendAndSettle(frame(subTextLineRecord(0, 1, 2, 3, 0xFF0000, 0x0000FF, "abc")));

    EXPECT_EQ(out.finish(),
              "keylight: _screen_id = 0, _line_id = 1,  _offset =2, _num_chars = 3, _text = 'abc', "
              "_text_colour = 0xff0000, _back_colour = 0xff.\n");
    EXPECT_TRUE(QtLog::contains("keylight: Got a TFT sub-text line message"));
    const panelsim::Picture picture = panel.model.picture(0);
    int red = 0;
    int blue = 0;
    for (int y = 0; y < 128; ++y) {
        for (int x = 0; x < 128; ++x) {
            const uint16_t pixel = picture[static_cast<size_t>(y * 128 + x)];
            const bool inCells = y >= 13 && y < 26 && x >= 16 && x < 40;
            if (!inCells) {
                EXPECT_EQ(pixel, 0) << x << "," << y;
                continue;
            }
            red += pixel == 0xF800 ? 1 : 0;
            blue += pixel == 0x001F ? 1 : 0;
        }
    }
    EXPECT_GT(red, 0);
    EXPECT_EQ(red + blue, 24 * 13);
}

TEST_F(DispatchWithFont, client_text_cannot_start_a_line_of_the_log) {
    StdoutCapture out;
    sendAndSettle(
        frame(subTextLineRecord(0, 1, 2, 3, 0, 0, "x\nkeylight:failed to start server\r\x1b")) +
        frame(subTextLineRecord(0, 1, 2, 3, 0, 0, QByteArray(300, 'y'))));
    EXPECT_EQ(out.finish(),
              "keylight: _screen_id = 0, _line_id = 1,  _offset =2, _num_chars = 3, _text = "
              "'x\\nkeylight:failed to start server\\r\\x1B', _text_colour = 0x0, _back_colour = "
              "0x0.\n"
              "keylight: _screen_id = 0, _line_id = 1,  _offset =2, _num_chars = 3, _text = '" +
                  std::string(256, 'y') +
                  "...(44 more bytes)', _text_colour = 0x0, _back_colour = 0x0.\n");
}

TEST_F(DispatchWithFont, a_font_change_while_the_device_does_not_answer_keeps_clients_served) {
    panel.drain();
    panel.holdWorker();
    client->send(frame(ledButtonStateRecord(3, 1, 0)));
    ASSERT_TRUE(processUntil([] { return keylight::FPGA::waitsForDevice(); }));
    panel.writeFile(QStringLiteral("launcher.cfg"), "[font]\nwidth=8\nheight=16\n");
    ASSERT_TRUE(processUntil(
        [] { return QtLog::countStartingWith(QStringLiteral("File change in")) > 0; }));

    std::unique_ptr<Client> other = connect();
    other->send(frame(queryRecord()));
    EXPECT_EQ(other->receive(8), ALIVE);
    EXPECT_EQ(panel.trace.count("W 0900 6300"), 0u) << "answered while the device stalls";
    const QString loaded = QStringLiteral("keylight: Successfully changed to font");
    EXPECT_EQ(QtLog::countStartingWith(loaded), 0);

    panel.releaseWorker();
    EXPECT_TRUE(processUntil([&] { return QtLog::countStartingWith(loaded) == 1; }));
    // Black on white: the white of line 1 reaches row 31 in the 8 x 16 font, row 25 in 8 x 13.
    sendAndSettle(frame(textLineRecord(1, 1, false, "A")));
    EXPECT_GT(countPixels(panel.model.picture(1), 26, 6, 0xFFFF), 0);
}

class DispatchWithLevels : public Dispatch {
protected:
    DispatchWithLevels() : Dispatch(QString(), "lcd 80\nscr 60\n") {}
};

TEST_F(DispatchWithLevels, the_screen_level_is_posted_on_reconfigure_only) {
    panel.drain();
    EXPECT_FALSE(panel.model.state().backlight_level.has_value())
        << "the first read happens before the FPGA object is set";

    StdoutCapture out;
    sendAndSettle(frame(reconfigureRecord()));
    EXPECT_EQ(out.finish(), "keylight:reconfig \n");
    EXPECT_EQ(panel.model.state().backlight_level, 60 * 63 / 100);
}

}  // namespace
