"""keylight-send against the real keylight on the virtual panel: every command moves the board."""

import os
import re
import struct
import subprocess
import sys
import unittest

sys.path.insert(0, os.environ.get("PANEL_SYSTEM_TESTS_DIR", ""))
from panelharness import (BLACK565, SCREEN_SIDE as SIDE, WHITE565, Board, black_screen, cell, font,  # noqa: E402
                          free_port, glyph_line, klmwire as klm, paste, sample_line_screens, target_command, tool,
                          wait_until)

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")


def send(port, *args, stdin=None):
    """Runs keylight-send against the port; returns (status, standard error)."""
    done = subprocess.run(target_command([tool("KEYLIGHT_SEND"), "--port", str(port)] + list(args)), input=stdin,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=60)
    return done.returncode, done.stderr


def ppm_rows(name):
    """The RGB565 rows of a binary PPM picture in DATA."""
    with open(os.path.join(DATA, name), "rb") as f:
        data = f.read()
    fields, at = [], 0
    while len(fields) < 4:  # P6, width, height, 255, each followed by one blank
        end = at
        while data[end:end + 1] not in b" \t\r\n":
            end += 1
        fields.append(data[at:end])
        at = end + 1
    width, height = int(fields[1]), int(fields[2])
    pixel = [data[at + 3 * i:at + 3 * i + 3] for i in range(width * height)]
    return [[klm.rgb24_to_565(p[0] << 16 | p[1] << 8 | p[2]) for p in pixel[y * width:(y + 1) * width]]
            for y in range(height)]


def top_down_copy(path):
    """The 24-bit BMP file at path with its rows stored top row first (negative height)."""
    with open(path, "rb") as f:
        data = f.read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    stride = (3 * width + 3) // 4 * 4
    rows = [data[offset + r * stride:offset + (r + 1) * stride] for r in range(height)]
    return data[:22] + struct.pack("<i", -height) + data[26:offset] + b"".join(reversed(rows))


def rgb565_bmp_rows(name):
    """The pixels of a bottom-up 16-bit RGB565 BMP in DATA, as they are stored."""
    with open(os.path.join(DATA, name), "rb") as f:
        data = f.read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    stride = (2 * width + 3) // 4 * 4
    return [list(struct.unpack_from("<%dH" % width, data, offset + (height - 1 - y) * stride)) for y in range(height)]


class KeylightSendOnTheVirtualPanel(unittest.TestCase):
    def start_keylight(self, board):
        """panelprime, then keylight on a free port; returns (keylight, port) once it answers."""
        status, _ = board.run("PANELPRIME")
        self.assertEqual(status, 0)
        port = free_port()
        keylight = board.start("KEYLIGHT", "panel.map", "127.0.0.1", str(port))
        wait_until(lambda: send(port, "query")[0] == 0 or not keylight.running(), "keylight to answer a query")
        self.assertTrue(keylight.running())
        return keylight, port

    def test_led_status_toggle_and_blink_commands_light_the_board(self):
        with Board() as board:
            keylight, port = self.start_keylight(board)
            self.assertEqual(send(port, "led", "3", "on", ",", "status", "7", "on", ",", "toggle", "1", "on",
                                  ",", "blink", "5", "40", ",", "query"), (0, ""))
            wait_until(lambda: board.state()["button_leds"][3] and board.state()["status_leds"][7]
                       and board.state()["toggle_leds"][1], "button 3, status 7 and toggle 1 to light")

            def blink_writes():
                return [line.split()[-1] for line in board.trace()
                        if line.endswith((" W 0900 4500", " W 0900 6500"))]
            writes = wait_until(lambda: len(blink_writes()) >= 4 and blink_writes(), "button 5 to blink")
            self.assertEqual(writes[:4], ["4500", "6500"] * 2)

            self.assertEqual(send(port, "led", "5", "on", ",", "led", "3", "off", ",", "status", "7", "off",
                                  ",", "toggle", "1", "off", ",", "query"), (0, ""))
            keylight.wait_for_output("update timer stoped")
            wait_until(lambda: board.state()["button_leds"][5] and not board.state()["button_leds"][3]
                       and not board.state()["status_leds"][7] and not board.state()["toggle_leds"][1],
                       "button 5 lit steady, button 3, status 7 and toggle 1 dark")

            self.assertEqual(send(port, "led", "all", "on", ",", "query"), (0, ""))
            wait_until(lambda: all(board.state()["button_leds"][:24]), "all 24 button LEDs to light")

    def test_text_subtext_image_and_blackout_commands_draw_on_the_screens(self):
        with Board() as board:
            _, port = self.start_keylight(board)
            bmp = board.path("logo.bmp")
            with open(bmp, "wb") as f:
                f.write(klm.bmp24(13, 7, lambda x, y: (x * 19) << 16 | (y * 36) << 8 | 0x80))
            self.assertEqual(send(port, "text", "1", "2", "Hello, panel!", ",",
                                  "text", "0", "0", "INVERTED", "inverted", ",",
                                  "subtext", "2", "4", "3", "RGB", "#FF0000", "0x0000FF", ",",
                                  "image", "2", bmp, "20", "30", ",", "query"), (0, ""))

            screens = sample_line_screens()
            paste(screens[2], 20, 30, [[klm.rgb24_to_565((x * 19) << 16 | (y * 36) << 8 | 0x80) for x in range(13)]
                                  for y in range(7)])
            for n, expected in enumerate(screens):
                board.wait_for_screen(n, expected)

            self.assertEqual(send(port, "blackout", "all", ",", "query"), (0, ""))
            for n in range(3):
                board.wait_for_screen(n, black_screen())

    def test_pictures_imagemagick_writes_reach_the_screen_pixel_for_pixel_and_are_cut_at_its_edges(self):
        with Board() as board:
            _, port = self.start_keylight(board)
            top_down = board.path("photo-top-down.bmp")
            with open(top_down, "wb") as f:
                f.write(top_down_copy(os.path.join(DATA, "photo-v5.bmp")))
            placed = [("photo.png", 0, 0), ("photo-v5.bmp", 24, 0), ("photo-v4.bmp", 48, 0), ("photo-v3.bmp", 72, 0),
                      ("photo-v5-32.bmp", 96, 0), ("photo-v3-32.bmp", 0, 20), (top_down, 24, 20),
                      ("logo.bmp", 48, 20), ("four.bmp", 64, 20), ("mono.bmp", 80, 20), ("photo-os2.bmp", 24, 40),
                      ("logo-os2.bmp", 48, 40), ("four-os2.bmp", 64, 40), ("mono-os2.bmp", 80, 40),
                      ("logo-v3.bmp", 96, 40), ("four-rle4.bmp", 112, 40), ("photo-565.bmp", 0, 40)]
            args = []
            for name, x, y in placed:
                args += ["image", "0", os.path.join(DATA, name), str(x), str(y), ","]
            self.assertEqual(send(port, *args, "query"), (0, ""))
            drawn = black_screen()
            for name, x, y in placed[:-1]:
                source = re.split(r"[-.]", os.path.basename(name))[0] + ".ppm"
                paste(drawn, x, y, ppm_rows(source))
            # ImageMagick rounds to RGB565 itself; its words must reach the screen unchanged.
            paste(drawn, 0, 40, rgb565_bmp_rows("photo-565.bmp"))
            board.wait_for_screen(0, drawn)

            interlaced, logo = os.path.join(DATA, "photo-interlaced.png"), os.path.join(DATA, "logo.bmp")
            note = "keylight-send: image: %s is %s pixels; at %s only its top-left %s show\n"
            self.assertEqual(send(port, "image", "1", interlaced, "118", "120", ",", "image", "1", logo, "120", "0",
                                  ",", "query"),
                             (0, note % (interlaced, "20 x 14", "118,120", "10 x 8")
                              + note % (logo, "13 x 7", "120,0", "8 x 7")))
            cut = black_screen()
            paste(cut, 118, 120, [row[:10] for row in ppm_rows("photo.ppm")[:8]])
            paste(cut, 120, 0, [row[:8] for row in ppm_rows("logo.ppm")])
            board.wait_for_screen(1, cut)

    def test_lines_and_cells_are_checked_against_the_font_of_the_device(self):
        w, h = cell("8x13.pcf.gz")
        with Board() as board:
            keylight, port = self.start_keylight(board)

            def send_on_device(*args):
                status, output = board.run("KEYLIGHT_SEND", "--port", str(port), *args)
                return status, output.replace("keylight-send: ", "")

            self.assertEqual(send_on_device("text", "0", "9", "x"),
                             (2, "text: line must be 0..%d with the font's %d x %d cells, not '9'\n"
                                 % (SIDE // h - 1, w, h)))
            self.assertEqual(send_on_device("subtext", "2", "3", "14", "ABCDEFGH"),
                             (2, "subtext: 'ABCDEFGH' needs cells 14..21 and a line has cells 0..%d with the font's "
                                 "%d x %d cells\n" % (SIDE // w - 1, w, h)))
            last_line, last_cell = SIDE // h - 1, SIDE // w - 4
            self.assertEqual(send_on_device("text", "0", str(last_line), "Last line", ",",
                                            "subtext", "0", str(last_line), str(last_cell), "ABCD", ",", "query"),
                             (0, ""))
            drawn = black_screen()
            paste(drawn, 0, last_line * h, glyph_line(font("8x13.pcf.gz"), SIDE, "Last line", BLACK565, WHITE565))
            paste(drawn, last_cell * w, last_line * h, glyph_line(font("8x13.pcf.gz"), 4 * w, "ABCD", WHITE565,
                                                                 BLACK565))
            board.wait_for_screen(0, drawn)

            w, h = cell("6x10.pcf.gz")
            board.write("etc/tesserax/launcher.cfg", "[font]\nwidth=6\nheight=10\n")
            self.assertEqual(send_on_device("text", "0", str(SIDE // h), "x"),
                             (2, "text: line must be 0..%d with the font's %d x %d cells, not '%d'\n"
                                 % (SIDE // h - 1, w, h, SIDE // h)))
            # Faces users install, under the names their settings give: a proportional 75 dpi face,
            # whose first size FreeType does not match by its pixel size, and a tall Terminus face.
            for screen, (name, size) in enumerate((("../75dpi/helvR12.pcf.gz", "75x12"),
                                                   ("ter-u32n_unicode.pcf.gz", "16x32")), 1):
                w, h = cell(name)
                os.symlink(font(name), board.path("opt/tesserax/fonts/%s.pcf.gz" % size))
                board.write("etc/tesserax/launcher.cfg", "[font]\nwidth=%s\nheight=%s\n" % tuple(size.split("x")))
                keylight.wait_for_output('keylight: Successfully changed to font "/opt/tesserax/fonts/%s.pcf.gz"'
                                         % size)
                last_line = SIDE // h - 1
                self.assertEqual(send_on_device("text", str(screen), str(last_line + 1), "x"),
                                 (2, "text: line must be 0..%d with the font's %d x %d cells, not '%d'\n"
                                     % (last_line, w, h, last_line + 1)))
                self.assertEqual(send_on_device("text", str(screen), str(last_line), "Last line", ",", "query"),
                                 (0, ""))
                drawn = black_screen()
                paste(drawn, 0, last_line * h, glyph_line(font(name), SIDE, "Last line", BLACK565, WHITE565))
                board.wait_for_screen(screen, drawn)

            # Without the settings file keylight-send cannot know the font: any line on the screen goes.
            os.remove(board.path("etc/tesserax/launcher.cfg"))
            self.assertEqual(send_on_device("text", "0", "20", "x"), (0, ""))
            self.assertEqual(send_on_device("text", "0", "128", "x"), (2, "text: line must be 0..127, not '128'\n"))

    def test_reconfigure_brings_the_screen_level_to_the_backlight(self):
        with Board(buttonlevel="scr 50\n") as board:
            _, port = self.start_keylight(board)
            self.assertEqual(send(port, "reconfigure", ",", "query"), (0, ""))
            wait_until(lambda: board.state()["panel_control"] == 0xDF, "panel control 0xDF (50 %)")

    def test_upload_stores_the_image_that_keylight_reports(self):
        with Board() as board:
            keylight, port = self.start_keylight(board)
            image = board.path("arrow.img")
            with open(image, "wb") as f:
                f.write(bytes(range(120)))
            self.assertEqual(send(port, "upload", "5", image), (0, ""))
            keylight.wait_for_output("keylight:image uploaded 5\n")

    def test_standard_input_lines_are_sent_as_they_come(self):
        w, h = cell("8x13.pcf.gz")
        with Board() as board:
            _, port = self.start_keylight(board)
            status, err = send(port, "--stdin", stdin="# start-up picture\n"
                                                      "led 2 on\n"
                                                      "\n"
                                                      "text 1 0 'two words' , status 3 on\n"
                                                      "query\n")
            self.assertEqual((status, err), (0, ""))
            wait_until(lambda: board.state()["button_leds"][2] and board.state()["status_leds"][3],
                       "button 2 and status 3 to light")
            expected = black_screen()
            paste(expected, 0, 0, glyph_line(font("8x13.pcf.gz"), SIDE, "two words", BLACK565, WHITE565))
            board.wait_for_screen(1, expected)

    def test_query_answers_while_keylight_runs_and_fails_once_it_has_stopped(self):
        with Board() as board:
            keylight, port = self.start_keylight(board)
            self.assertEqual(send(port, "query"), (0, ""))
            keylight.stop()
            status, err = send(port, "--timeout", "200", "query")
            self.assertEqual(status, 1)
            self.assertEqual(err, "keylight-send: cannot connect to 127.0.0.1:%d: Connection refused\n" % port)

    def test_refused_commands_send_nothing(self):
        with Board() as board:
            keylight, port = self.start_keylight(board)
            before = keylight.output().count("keylight: opcode = ")
            for args, reason in [
                (["led", "3", "on", ",", "led", "24", "on"], "led: button must be 0..23 or all, not '24'"),
                (["image", "0", board.path("missing.bmp")],
                 "image: cannot read %s: No such file or directory" % board.path("missing.bmp")),
                (["blink", "1", "0"], "blink: blink time in ms must be 1..2147483647, not '0'"),
            ]:
                self.assertEqual(send(port, *args), (2, "keylight-send: %s\n" % reason))
            status, err = send(port, "--stdin", stdin="led 1 on\nled 1 sideways\n")
            self.assertEqual((status, err), (2, "keylight-send: line 2: led: state must be on or off, not 'sideways'\n"))
            self.assertEqual(send(port, "query"), (0, ""))
            # Only the stdin line before the bad one and the last query reached keylight.
            wait_until(lambda: keylight.output().count("keylight: opcode = ") == before + 2,
                       "keylight to log exactly the two messages that were sent")
            self.assertFalse(board.state()["button_leds"][3])


if __name__ == "__main__":
    unittest.main(argv=sys.argv)
