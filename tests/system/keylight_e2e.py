"""keylight on the virtual panel: what a client sends over TCP shows on the board."""

import contextlib
import os
import re
import signal
import struct
import sys
import time
import unittest
import zlib
from unittest import mock

from panelharness import (BLACK565, FONT_8X13, SCREEN_SIDE as SIDE, WHITE565, Board, black_screen, cell, font,
                          free_port, glyph_line, klmwire as klm, paste, read_panel_view, sample_line_screens,
                          wait_until)


@contextlib.contextmanager
def keylight_on(board, *, started=True, journal_stream=None, runtime_directory=None, env=None):
    """keylight on a free port of the board, the screens started first; yields (keylight, socket).
    With runtime_directory, keylight keeps its picture of the panel there."""
    if started and board.with_daemon:
        status, _ = board.run("PANELPRIME")
        assert status == 0
    port = free_port()
    if runtime_directory:
        env = dict(env or {}, RUNTIME_DIRECTORY=runtime_directory)
    keylight = board.start("KEYLIGHT", "panel.map", "127.0.0.1", str(port), journal_stream=journal_stream,
                           env=env)
    sock = klm.connect(port)
    try:
        yield keylight, sock
    finally:
        sock.close()


class KeylightOnTheVirtualPanel(unittest.TestCase):
    def test_text_lines_appear_pixel_for_pixel_as_the_font_draws_them(self):
        with Board() as board, keylight_on(board) as (_, sock):
            sock.sendall(klm.text_line(1, 2, "Hello, panel!")
                         + klm.text_line(0, 0, "INVERTED", inverted=True)
                         + klm.sub_text_line(2, 4, 3, "RGB", 0xFF0000, 0x0000FF))
            klm.round_trip(sock)
            for n, expected in enumerate(sample_line_screens()):
                board.wait_for_screen(n, expected)

    def test_an_image_is_drawn_at_its_position_with_its_first_stored_row_at_the_bottom(self):
        def colour(x, y):
            return ((x * 19) << 16) | ((y * 36) << 8) | (0xF0 if y == 0 else 0x10)

        width, height = 13, 7  # a row of 39 bytes carries one byte of padding
        with Board() as board, keylight_on(board) as (_, sock):
            sock.sendall(klm.draw_tft_image(2, 20, 30, klm.bmp24(width, height, colour)))
            klm.round_trip(sock)
            expected = black_screen()
            paste(expected, 20, 30, [[klm.rgb24_to_565(colour(x, y)) for x in range(width)]
                                     for y in range(height)])
            board.wait_for_screen(2, expected)

    def test_frames_too_large_to_act_on_are_dropped_with_a_line_and_the_connection_goes_on(self):
        def colour(x, y):
            return 0x2040F0 if x < y else 0xF08010

        plain = klm.bmp24(SIDE, SIDE, colour)
        pixels = plain[54:]
        # The same picture behind a 108-byte (version 4) information header: the library does
        # not draw it and says why.
        v4 = (struct.pack("<2sIHHI", b"BM", 14 + 108 + len(pixels), 0, 0, 14 + 108)
              + struct.pack("<I", 108) + plain[18:54] + bytes(108 - 40) + pixels)
        unknown_type = 99
        with Board() as board, keylight_on(board) as (keylight, sock):
            sock.sendall(klm.draw_tft_image(0, 0, 0, v4)
                         + klm.draw_tft_image(1, 0, 0, plain + b"\0\0")
                         + klm.draw_tft_image(2, 0, 0, klm.bmp24(300, 300, colour))
                         + klm.frame(struct.pack(">I", unknown_type) + bytes(1_000_000 - 4))
                         + klm.frame(struct.pack(">I", 0) + bytes(255 * 1024 - 4)))
            klm.round_trip(sock)
            expected = black_screen()
            paste(expected, 0, 0, [[klm.rgb24_to_565(colour(x, y)) for x in range(SIDE)] for y in range(SIDE)])
            board.wait_for_screen(1, expected)
            keylight.wait_for_output("DIB Header Size is invalid. Exiting.")
            dropped = re.findall(r"keylight: connection \d+ \(client \d+\) sent a frame of type (\d+) and (\d+) "
                                 r"bytes, more than 65536: dropped", keylight.output())
            self.assertEqual(dropped, [("19", str(20 + 54 + 300 * 300 * 3)), (str(unknown_type), "1000000"),
                                       ("0", str(255 * 1024))])

    def test_leds_follow_the_messages_and_blinking_shows_in_the_trace(self):
        with Board() as board, keylight_on(board) as (keylight, sock):
            sock.sendall(klm.led_button_state(3, 1) + klm.led_status_indicator(7, 1)
                         + klm.led_toggle_indicator(1, 1) + klm.led_button_state(5, klm.BLINK, 40))
            klm.round_trip(sock)
            wait_until(lambda: board.state()["status_leds"][7] and board.state()["toggle_leds"][1]
                       and board.state()["button_leds"][3], "button 3, status 7 and toggle 1 to light")

            def blink_writes():
                return [line.split()[-1] for line in board.trace()
                        if line.endswith((" W 0900 4500", " W 0900 6500"))]
            writes = wait_until(lambda: len(blink_writes()) >= 6 and blink_writes(),
                                "button 5 to blink three times")
            self.assertEqual(writes[:6], ["4500", "6500"] * 3)  # dark first, then lit, in turn

            sock.sendall(klm.led_button_state(5, 1) + klm.led_status_indicator(7, 0))
            klm.round_trip(sock)
            keylight.wait_for_output("update timer stoped")
            wait_until(lambda: board.state()["button_leds"][5] and not board.state()["status_leds"][7],
                       "button 5 steady lit and status 7 dark")
            self.assertEqual(board.state()["toggle_leds"], [False, True])

    def test_blinking_and_the_toggle_indicators_outlive_a_killed_keylight(self):
        def blink_writes(trace):
            return [line.split()[-1] for line in trace if line.endswith((" W 0900 4500", " W 0900 6500"))]

        with Board() as board:
            kept = {"RUNTIME_DIRECTORY": board.path("run/keylight")}
            os.makedirs(kept["RUNTIME_DIRECTORY"])
            with keylight_on(board, env=kept) as (keylight, sock):
                sock.sendall(klm.led_toggle_indicator(1, 1) + klm.led_button_state(5, klm.BLINK, 40))
                klm.round_trip(sock)
                wait_until(lambda: len(blink_writes(board.trace())) >= 2, "button 5 to blink")
                keylight.process.send_signal(signal.SIGKILL)
                keylight.process.wait()
            before = len(board.trace())
            with keylight_on(board, started=False, env=kept) as (keylight, sock):
                writes = wait_until(lambda: len(blink_writes(board.trace()[before:])) >= 4
                                    and blink_writes(board.trace()[before:]), "button 5 to blink again")
                self.assertEqual(writes[:4], ["4500", "6500"] * 2)  # with its cycle, dark first
                sock.sendall(klm.led_toggle_indicator(0, 1))
                klm.round_trip(sock)
                wait_until(lambda: board.state()["toggle_leds"] == [True, True],
                           "toggle 0 to light beside toggle 1, which the killed keylight lit")

    def test_a_device_that_stops_answering_is_logged_once_and_blinking_resumes_when_it_answers(self):
        stalled = 'keylight: register device "/dev/fpga-reg" has not answered for 5 s'
        answers = re.compile(r'keylight: register device "/dev/fpga-reg" answers again after \d+\.\d s')

        def blink_writes(trace):
            return sum(1 for line in trace if re.search(r" W 0900 [4-7][0-9A-F]00$", line))

        with Board() as board, keylight_on(board) as (keylight, sock):
            sock.sendall(klm.led_button_state(klm.ALL_BUTTONS, klm.BLINK, 40))
            klm.round_trip(sock)
            wait_until(lambda: blink_writes(board.trace()) >= 48, "the buttons to blink")
            daemon = board.daemon.process
            daemon.send_signal(signal.SIGSTOP)
            try:
                stopped = time.monotonic()
                keylight.wait_for_output(stalled)
                self.assertGreaterEqual(time.monotonic() - stopped, 4.9)
                klm.round_trip(sock)  # clients are still served
                time.sleep(2)  # two more checks of the stalled worker, which report nothing new
            finally:
                daemon.send_signal(signal.SIGCONT)
            keylight.wait_for_output(answers)
            before = blink_writes(board.trace())
            wait_until(lambda: blink_writes(board.trace()) >= before + 48, "the buttons to blink again")
            self.assertEqual(keylight.output().count(stalled), 1)
            self.assertEqual(len(answers.findall(keylight.output())), 1)

    def test_the_screen_level_of_the_level_file_reaches_the_backlight_on_reconfigure(self):
        with Board(buttonlevel="led 90\nscr 50\n") as board, keylight_on(board) as (_, sock):
            self.assertEqual(board.state()["panel_control"], 0xFF)  # as panelprime left it
            sock.sendall(klm.reconfigure())
            klm.round_trip(sock)
            wait_until(lambda: board.state()["panel_control"] == 0xDF, "panel control 0xDF (50 %)")
            self.assertEqual(board.state()["backlight_level"], 31)

            board.write("etc/tesserax/buttonlevel", "scr 0\n")
            sock.sendall(klm.reconfigure())
            klm.round_trip(sock)
            wait_until(lambda: board.state()["panel_control"] == 0xC0, "panel control 0xC0 (0 %)")
            self.assertEqual(board.state()["backlight_level"], 0)

    def test_a_changed_font_size_in_the_launcher_settings_takes_effect(self):
        _, h16 = cell("8x16.pcf.gz")
        with Board(launcher_cfg=FONT_8X13) as board, keylight_on(board) as (keylight, sock):
            keylight.wait_for_output('keylight: Successfully changed to font "/opt/tesserax/fonts/8x13.pcf.gz"')
            board.write("etc/tesserax/launcher.cfg", "[font]\nwidth=8\nheight=16\n")
            keylight.wait_for_output('keylight: Successfully changed to font "/opt/tesserax/fonts/8x16.pcf.gz"')
            sock.sendall(klm.text_line(0, 1, "Sixteen rows"))
            klm.round_trip(sock)
            expected = black_screen()
            paste(expected, 0, h16, glyph_line(font("8x16.pcf.gz"), SIDE, "Sixteen rows", BLACK565, WHITE565))
            board.wait_for_screen(0, expected)

    def test_without_the_device_it_serves_clients_and_draws_nowhere(self):
        with Board(daemon=False) as board, keylight_on(board) as (keylight, sock):
            keylight.wait_for_output('keylight: Successfully changed to font "/opt/tesserax/fonts/8x13.pcf.gz"')
            # The worker reports the bad screen id of the last line once it has done the others.
            sock.sendall(klm.text_line(0, 0, "nobody sees this") + klm.led_button_state(1, 1)
                         + klm.text_line(5, 0, "bad screen"))
            klm.round_trip(sock)
            keylight.wait_for_output("Invalid screen ID 5.\n")
            self.assertTrue(keylight.running())
            self.assertNotIn("Error generating line bitmap", keylight.output())

    def test_its_picture_of_the_panel_equals_the_board_byte_for_byte(self):
        with Board() as board:
            runtime = board.path("run/keylight")
            os.makedirs(runtime)
            with keylight_on(board, runtime_directory=runtime) as (_, sock):
                sock.sendall(klm.text_line(1, 2, "Hello, panel!")
                             + klm.sub_text_line(2, 4, 3, "RGB", 0xFF0000, 0x0000FF)
                             + klm.draw_tft_image(0, 20, 30, klm.bmp24(32, 32, lambda x, y: x << 19 | y << 11))
                             + klm.led_button_state(3, 1) + klm.led_status_indicator(7, 1)
                             + klm.led_toggle_indicator(1, 1))
                klm.round_trip(sock)
                wait_until(lambda: board.state()["toggle_leds"][1], "toggle 1 to light")
                path = os.path.join(runtime, "panel.view")
                self.assertEqual(os.stat(path).st_mode & 0o777, 0o644)

                def board_and_picture():
                    state = board.daemon.state()
                    screens = [board.daemon.http("/api/screen/%d.rgb565" % n)[2] for n in range(3)]
                    picture = read_panel_view(path)
                    if picture is None:
                        return None
                    state.pop("status_inputs")  # only lampwatch reads them
                    state.pop("accesses")  # the board counts panelprime's too
                    picture.pop("accesses")
                    return state, screens, picture
                wait_until(lambda: (lambda seen: seen and seen[2] == dict(seen[0], screens_rgb565=seen[1]))(
                    board_and_picture()), "the picture to equal the board")

    def test_a_restart_draws_the_picture_from_before_back_instead_of_blacking_the_screens_out(self):
        # A burst of black reaching screen 0 (masks 1, 3, 5, 7).
        black_burst = re.compile(r" B 0A0[37BF] 16384 %08X$" % zlib.crc32(bytes(SIDE * SIDE * 2)))
        with Board() as board:
            runtime = board.path("run/keylight")
            os.makedirs(runtime)
            with keylight_on(board, runtime_directory=runtime) as (keylight, sock):
                sock.sendall(klm.text_line(0, 0, "INVERTED", inverted=True))
                klm.round_trip(sock)
                expected = sample_line_screens()[0]
                board.wait_for_screen(0, expected)
                self.assertTrue(any(black_burst.search(line) for line in board.trace()))  # after a boot
                keylight.stop()
            opened_before = len(board.trace())
            with keylight_on(board, started=False, runtime_directory=runtime) as (_, sock):
                klm.round_trip(sock)
                restored = wait_until(lambda: [line for line in board.trace()[opened_before:]
                                               if re.search(r" B 0A09 16384 ", line)], "screen 2 to be drawn back")
                self.assertEqual([line for line in board.trace()[opened_before:] if black_burst.search(line)], [])
                self.assertEqual(len(restored), 1)
                self.assertEqual(board.screen(0), expected)

    def test_on_the_journal_stream_each_line_starts_with_its_priority_and_nowhere_else(self):
        # A blink without a time is refused with a text that has no line end: elsewhere the
        # next line continues it, in the journal it is a line of its own, there at once even
        # when nothing follows it. The last text line's length field claims 1 000 bytes.
        messages = (klm.led_button_state(3, 1) + klm.led_button_state(2, klm.BLINK, 0)
                    + klm.sub_text_line(0, 0, 0, "ab", 0xFF0000, 0x0000FF)
                    + klm.text_line(5, 0, "bad screen")
                    + klm.frame(struct.pack(">5I", klm.TYPE_TFT_TEXT_LINE, 0, 0, 0, 1000) + b"hi\0\0")
                    + klm.led_button_state(2, klm.BLINK, 0))
        refusal = "keylight: button id 2 must have a non-zero time to use blinking."
        sub_text = ("keylight: _screen_id = 0, _line_id = 0,  _offset =0, _num_chars = 2, "
                    "_text = 'ab', _text_colour = 0xff0000, _back_colour = 0xff.")
        outputs = {}
        # "info": as the packaged unit starts it, the journal keeping info and above.
        for stream, level in (("output", None), ("launcher.cfg", None), ("output", "info")):
            with Board(daemon=False) as board, mock.patch.dict(os.environ, {"PANEL_LOG_LEVEL": level or "debug"}):
                named = "output" if stream == "output" else board.path("etc/tesserax/launcher.cfg")
                with keylight_on(board, journal_stream=named) as (keylight, sock):
                    sock.sendall(messages)
                    klm.round_trip(sock)
                    keylight.wait_for_output("Invalid screen ID 5.\n")
                    outputs[level or stream] = keylight.output().splitlines()
        journal = outputs["output"]
        self.assertEqual(journal.count("<3>" + refusal), 2)
        self.assertIn("<7>" + sub_text, journal)
        self.assertIn("<3>Invalid screen ID 5.", journal)  # the hardware library, on the worker
        for text, prefix in (("keylight: listening on 127.0.0.1 port ", "<6>"),
                             ("keylight: opcode = ", "<7>"), ("Button ", "<7>"),
                             ("keylight: refused opcode 15 message", "<3>")):
            lines = [line for line in journal if text in line]
            self.assertTrue(lines and all(line.startswith(prefix + text) for line in lines),
                            "%r lines should start with %s: %r" % (text, prefix, lines))
        # At info, the same lines but the debug ones.
        kept = outputs["info"]
        self.assertEqual([line for line in kept if line.startswith("<7>") or "opcode =" in line], [])
        self.assertEqual(kept.count("<3>" + refusal), 2)
        self.assertIn("<3>Invalid screen ID 5.", kept)
        for line in ("<6>keylight: listening on 127.0.0.1 port ", "<3>keylight: refused opcode 15 message"):
            self.assertTrue([text for text in kept if text.startswith(line)], "%r not in %r" % (line, kept))
        # JOURNAL_STREAM inherited from elsewhere: output exactly as on a terminal.
        self.assertIn(refusal + sub_text, outputs["launcher.cfg"])
        self.assertEqual([line for line in outputs["launcher.cfg"] if re.match(r"<\d>", line)], [])


if __name__ == "__main__":
    unittest.main(argv=sys.argv)
