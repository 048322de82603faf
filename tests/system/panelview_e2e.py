"""panelview on a picture of the panel: what it serves and writes, and what it refuses.

The pictures are made here, in the file's layout (panelmodel/panelviewfile.h), so that each
case controls every byte; keylight's own picture is compared with the board in ci-boot.
"""

import json
import os
import re
import struct
import sys
import unittest
import urllib.error
import urllib.request

from panelharness import Board, decode_png, wait_until

MAGIC, VERSION = b"PNLVIEW\0", 1
HEADER = struct.Struct("=8sIIII")  # magic, version, size, sequence, reserved
SCREEN_BYTES = 128 * 128 * 2
STATE_TAIL = struct.Struct("=32s32s2sBBBB3s7sQ")  # reserved and padding before accesses
FILE_SIZE = HEADER.size + 3 * SCREEN_BYTES + STATE_TAIL.size
assert FILE_SIZE == 98416, FILE_SIZE


def picture_file(screens=(b"",) * 3, buttons=(), statuses=(), toggles=(), backlight=None,
                 screens_on=(), accesses=0, sequence=0, version=VERSION, magic=MAGIC):
    """The bytes of a picture; each screen is its RGB565 little-endian bytes (black when short)."""
    pixels = b"".join(s.ljust(SCREEN_BYTES, b"\0") for s in screens)
    lit = lambda indices, count: bytes(1 if i in indices else 0 for i in range(count))
    control = None if backlight is None else 0xC0 | backlight
    tail = STATE_TAIL.pack(lit(buttons, 32), lit(statuses, 32), lit(toggles, 2),
                           control is not None, control or 0, backlight is not None, backlight or 0,
                           lit(screens_on, 3), b"", accesses)
    return HEADER.pack(magic, version, FILE_SIZE, sequence, 0) + pixels + tail


def gradient(seed):
    return b"".join(struct.pack("<H", (i * seed + seed) & 0xFFFF) for i in range(128 * 128))


def rgb888_rows(screens):
    """The rows of the screens side by side, each pixel widened as the page and PNGs do."""
    def rgb(word):
        r, g, b = word >> 11, (word >> 5) & 0x3F, word & 0x1F
        return (r << 3 | r >> 2, g << 2 | g >> 4, b << 3 | b >> 2)
    words = [struct.unpack("<%dH" % (128 * 128), s) for s in screens]
    return [[rgb(w[y * 128 + x]) for w in words for x in range(128)] for y in range(128)]


def request(port, path, method="GET"):
    req = urllib.request.Request("http://127.0.0.1:%d%s" % (port, path), method=method,
                                 data=b"1" if method in ("POST", "PUT", "PATCH") else None)
    try:
        with urllib.request.urlopen(req, timeout=5) as answer:
            return answer.status, answer.read()
    except urllib.error.HTTPError as error:
        return error.code, error.read()


class PanelviewOnAPicture(unittest.TestCase):
    def write(self, board, data, name="panel.view"):
        """Puts data at the path at once (renamed over it), as keylight replaces a picture."""
        path = board.path(name)
        with open(path + ".new", "wb") as f:
            f.write(data)
        os.replace(path + ".new", path)
        return path

    def serve(self, board, path):
        program = board.start("PANELVIEW", path, "--http", "127.0.0.1:0")
        ready = re.compile(r"^panelview: ready http://127\.0\.0\.1:(\d+)/\n", re.M)
        program.wait_for_output(ready)
        return program, int(ready.search(program.output()).group(1))

    def test_serves_the_picture_read_only_as_the_board_api_and_follows_it(self):
        screens = (gradient(3), gradient(7), gradient(11))
        with Board() as board:
            path = self.write(board, picture_file(screens, buttons={0, 5, 23}, statuses={31},
                                                  toggles={0}, backlight=40, screens_on={0, 2},
                                                  accesses=1234))
            program, port = self.serve(board, path)
            status, body = request(port, "/api/state")
            self.assertEqual(status, 200)
            state = json.loads(body)
            self.assertEqual([i for i, lit in enumerate(state["button_leds"]) if lit], [0, 5, 23])
            self.assertEqual([i for i, lit in enumerate(state["status_leds"]) if lit], [31])
            self.assertEqual(state["toggle_leds"], [True, False])
            self.assertEqual((state["panel_control"], state["backlight_level"]), (0xC0 | 40, 40))
            self.assertEqual([s["on"] for s in state["screens"]], [True, False, True])
            self.assertEqual(state["accesses"], 1234)
            self.assertIsNone(state["status_inputs"], "the picture cannot know the PSU inputs")
            for n in range(3):
                self.assertEqual(request(port, "/api/screen/%d.rgb565" % n), (200, screens[n]), n)
                self.assertEqual(decode_png(request(port, "/api/screen/%d.png" % n)[1]),
                                 rgb888_rows([screens[n]]), n)
            status, page = request(port, "/")
            self.assertEqual(status, 200)
            self.assertIn(b"status_inputs === null", page, "the page knows when the inputs are unknown")

            # (method, path, status): anything but reading the board is refused, in one line.
            for method, where, expected in [
                ("POST", "/api/status_inputs", 405),
                ("POST", "/api/state", 405),
                ("PUT", "/api/screen/0.rgb565", 405),
                ("DELETE", "/", 405),
                ("PATCH", "/api/state", 405),
                ("GET", "/api/trace", 404),
                ("GET", "/api/screen/3.rgb565", 404),
                ("GET", "/api/screen/00.png", 404),
                ("GET", "/api/nothing", 404),
            ]:
                status, body = request(port, where, method)
                self.assertEqual(status, expected, (method, where))
                self.assertTrue(body.endswith(b"\n") and body.count(b"\n") == 1 and len(body) > 1,
                                (method, where, body))

            # A writer in the middle of an update (odd sequence): the last whole picture stays.
            with open(path, "r+b") as f:
                f.seek(HEADER.size)
                f.write(gradient(5))
                f.seek(16)  # the sequence counter
                f.write(struct.pack("=I", 1))
            self.assertEqual(request(port, "/api/screen/0.rgb565")[1], screens[0])
            with open(path, "r+b") as f:
                f.seek(16)  # the sequence counter
                f.write(struct.pack("=I", 2))
            self.assertEqual(request(port, "/api/screen/0.rgb565")[1], gradient(5))
            # A new file renamed over the old one, as after a reboot's first keylight.
            self.write(board, picture_file((gradient(13),) * 3))
            self.assertEqual(request(port, "/api/screen/2.rgb565")[1], gradient(13))
            # A broken file in its place: the last picture stays.
            self.write(board, b"broken")
            self.assertEqual(request(port, "/api/screen/2.rgb565")[1], gradient(13))

            self.assertEqual(program.stop(), 0)
            self.assertNotIn(" OPEN %d" % program.process.pid, board.trace(), "panelview opened the device")
            with open(path, "rb") as f:
                self.assertEqual(f.read(), b"broken")

    def test_writes_one_screen_or_all_three_side_by_side_as_png(self):
        screens = (gradient(3), gradient(7), gradient(11))
        with Board() as board:
            path = self.write(board, picture_file(screens))
            for which, expected in [("0", [screens[0]]), ("2", [screens[2]]), ("all", screens)]:
                out = board.path("shot-%s.png" % which)
                status, output = board.run("PANELVIEW", path, "--png", which, out)
                self.assertEqual((status, output), (0, ""), which)
                with open(out, "rb") as f:
                    self.assertEqual(decode_png(f.read()), rgb888_rows(expected), which)

    def test_refuses_a_file_that_is_no_whole_picture_with_one_line_and_status_2(self):
        whole = picture_file()
        with Board() as board:
            # (case, file bytes or None for no file, words of the line)
            for case, data, words in [
                ("missing", None, "does not exist"),
                ("empty", b"", "cut short"),
                ("cut short", whole[:50000], "cut short"),
                ("longer", whole + b"\0", "cut short"),
                ("foreign", picture_file(magic=b"GIF89a\0\0"), "no picture of the panel"),
                ("other version", picture_file(version=VERSION + 1), "another layout version"),
            ]:
                path = board.path("case.view")
                if os.path.exists(path):
                    os.remove(path)
                if data is not None:
                    self.write(board, data, "case.view")
                for argv in ([path], [path, "--png", "all", board.path("case.png")]):
                    status, output = board.run("PANELVIEW", *argv)
                    self.assertEqual(status, 2, (case, argv, output))
                    self.assertEqual(output.count("\n"), 1, (case, argv, output))
                    self.assertTrue(output.startswith('panelview: "%s" ' % path), (case, output))
                    self.assertIn(words, output, case)
                self.assertFalse(os.path.exists(board.path("case.png")), case)
            # A bad command line: the usage, status 2.
            for argv in ([], ["--png", "3", "out.png"], [board.path("x"), "--png", "0"],
                         [board.path("x"), "--http", "nowhere"], [board.path("x"), "--bogus"]):
                status, output = board.run("PANELVIEW", *argv)
                self.assertEqual(status, 2, argv)
                self.assertTrue(output.startswith("usage: panelview"), (argv, output))
            status, output = board.run("PANELVIEW", "--help")
            self.assertEqual(status, 0)
            self.assertTrue(output.startswith("usage: panelview"), output)


if __name__ == "__main__":
    unittest.main(argv=sys.argv)
