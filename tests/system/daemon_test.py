"""The panelsim daemon seen from outside: ready line, ROOT, trace, HTTP API, bad clients."""

import json
import os
import re
import signal
import socket
import stat
import struct
import subprocess
import tempfile
import unittest
import zlib

from panelharness import Daemon, REQ_LONG_16, REQ_SHORT_16, REQ_SHORT_24, decode_png, short_word, tool


def raw_http(port, data):
    """Sends bytes as they are and returns what the daemon answers (until it closes or 3 s)."""
    with socket.create_connection(("127.0.0.1", port), timeout=3) as sock:
        sock.sendall(data)
        answer = b""
        try:
            while b"\r\n\r\n" not in answer or len(answer) < answer.index(b"\r\n\r\n") + 4 + content_length(answer):
                chunk = sock.recv(65536)
                if not chunk:
                    break
                answer += chunk
        except socket.timeout:
            pass
        return answer


def content_length(answer):
    for line in answer.split(b"\r\n"):
        if line.lower().startswith(b"content-length:"):
            return int(line.split(b":")[1])
    return 0


class DaemonStartAndStop(unittest.TestCase):
    def test_prints_one_ready_line_and_creates_the_folders_of_root(self):
        with Daemon() as daemon:
            self.assertRegex(daemon.ready_line, r"^panelsim: ready http://127\.0\.0\.1:[1-9]\d*/\n$")
            for folder in ("dev", "etc/tesserax", "opt/tesserax/fonts"):
                self.assertTrue(os.path.isdir(os.path.join(daemon.root, folder)), folder)
            for folder in ("etc/tesserax", "opt/tesserax/fonts"):
                self.assertEqual(os.listdir(os.path.join(daemon.root, folder)), [], "a bare ROOT stays bare")
            self.assertTrue(stat.S_ISSOCK(os.stat(os.path.join(daemon.root, "dev/fpga-reg")).st_mode))
            self.assertEqual(daemon.http("/api/state")[0], 200)

    def test_ends_with_status_0_on_sigterm_and_sigint_and_removes_its_socket(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            with Daemon() as daemon:
                client = daemon.device()
                client.write(0x0900, 0x6300)
                status = daemon.stop(sig)
                client.close()
                self.assertEqual(status, 0, sig)
                self.assertFalse(os.path.exists(os.path.join(daemon.root, "dev/fpga-reg")))

    def test_replaces_a_stale_socket_and_refuses_to_take_over_a_live_one(self):
        root = tempfile.mkdtemp(prefix="panelsim-test-")
        try:
            os.makedirs(os.path.join(root, "dev"))
            stale = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            stale.bind(os.path.join(root, "dev/fpga-reg"))
            stale.close()
            with Daemon(root) as daemon:
                daemon.device().write(0x0900, 0x6300)
                self.assertTrue(daemon.state()["button_leds"][3])
                second = subprocess.run([tool("PANELSIM"), root, "--http", "127.0.0.1:0"],
                                        capture_output=True, text=True, timeout=20)
                self.assertEqual(second.returncode, 1)
                self.assertEqual(second.stdout, "")
                self.assertIn("another daemon listens", second.stderr)
                self.assertTrue(daemon.state()["button_leds"][3])
        finally:
            subprocess.run(["rm", "-rf", root])

    def test_init_lays_the_default_settings_and_font_links_and_keeps_what_is_there(self):
        root = tempfile.mkdtemp(prefix="panelsim-test-")
        try:
            os.makedirs(os.path.join(root, "etc/tesserax"))
            with open(os.path.join(root, "etc/tesserax/buttonlevel"), "w") as f:
                f.write("scr 40\n")
            with Daemon(root, "--init") as daemon:
                self.assertEqual(daemon.http("/api/state")[0], 200)
            settings = os.path.join(root, "etc/tesserax")
            for name in ("launcher.cfg", "panel.map"):
                with open(os.path.join(settings, name)) as laid, open(os.path.join(tool("PANEL_DEFAULTS_DIR"), name)) as default:
                    self.assertEqual(laid.read(), default.read(), name)
            with open(os.path.join(settings, "buttonlevel")) as f:
                self.assertEqual(f.read(), "scr 40\n")
            fonts = os.path.join(root, "opt/tesserax/fonts")
            self.assertEqual(os.readlink(os.path.join(fonts, "8x13.pcf.gz")),
                             os.path.join(tool("PANEL_FONT_DIR"), "8x13.pcf.gz"))
            self.assertTrue(all(re.fullmatch(r"\d+x\d+\.pcf\.gz", name) for name in os.listdir(fonts)))
        finally:
            subprocess.run(["rm", "-rf", root])

    def test_refuses_a_malformed_command_line(self):
        for argv in ([], ["--http"], ["root", "--http", "nohost"], ["root", "--http", "127.0.0.1:70000"],
                     ["root", "extra"]):
            result = subprocess.run([tool("PANELSIM")] + argv, capture_output=True, text=True, timeout=20)
            self.assertEqual(result.returncode, 2, argv)
            self.assertIn("usage: panelsim ROOT [--http HOST:PORT]", result.stderr)


class DeviceConnections(unittest.TestCase):
    def test_traces_every_access_of_every_connection_in_order(self):
        with Daemon() as daemon:
            first = daemon.device()
            first.write(0x0900, 0x6300)
            second = daemon.device()
            self.assertEqual(second.request(REQ_SHORT_16, short_word(0x0900), 1, 0x8300), (0, 0, 0x8300))
            daemon.http("/api/status_inputs", b"2")
            self.assertEqual(second.read(0x1000), 2)
            self.assertEqual(first.request(REQ_LONG_16, 0x2000 | 0x20000000, 1, 0x00AB), (0, 0, 0x00AB))
            self.assertEqual(first.burst(0x0A0F, [0x1234, 0xF800, 0x0001])[0], 0)
            first.close()
            daemon.wait_for_trace("1 CLOSE")
            pid = os.getpid()
            self.assertEqual(daemon.trace(), [
                "1 OPEN %d" % pid, "1 W 0900 6300", "2 OPEN %d" % pid, "2 W 0900 8300",
                "2 R 1000 0002", "1 W 2000 00AB", "1 B 0A0F 3 %08X" % zlib.crc32(struct.pack("<3H", 0x1234, 0xF800, 1)),
                "1 CLOSE"])
            state = daemon.state()
            self.assertTrue(state["button_leds"][3])
            self.assertEqual(state["accesses"], 5)

    def test_answers_refused_requests_with_their_errno_and_keeps_the_connection(self):
        with Daemon() as daemon:
            client = daemon.device()
            self.assertEqual(client.request(0xC0102407, short_word(0x0900), 1, 0x6300)[:2], (-1, 22))
            self.assertEqual(client.request(REQ_SHORT_24, 0x0900, 1, 0x6300)[:2], (-1, 22))  # no mark bit
            self.assertEqual(client.request(REQ_SHORT_24, short_word(0x0A0F, read=True), 3, 0, [1, 2, 3])[:2],
                             (-1, 22))
            self.assertEqual(client.write(0x0900, 0x6400), (0, 0, 0x6400))
            client.close()
            daemon.wait_for_trace("1 CLOSE")
            self.assertEqual(daemon.trace()[1:], ["1 W 0900 6400", "1 CLOSE"])

    def test_keeps_serving_after_clients_send_garbage_or_vanish_mid_request(self):
        with Daemon() as daemon:
            oversized = daemon.device()  # a count no burst can have ends the connection
            oversized.sock.sendall(struct.pack("<IIIHH", REQ_SHORT_24, short_word(0x0A0F), 0xFFFFFFFF, 0, 0))
            self.assertEqual(oversized.sock.recv(12), b"")
            half_header = daemon.device()
            half_header.sock.sendall(b"\x00\x24\x18")
            half_header.close()
            half_burst = daemon.device()
            half_burst.sock.sendall(struct.pack("<IIIHH", REQ_SHORT_24, short_word(0x0A0F), 1000, 0, 0) + b"\x01" * 999)
            half_burst.close()
            noise = daemon.device()
            noise.sock.sendall(os.urandom(4096))
            noise.close()
            for number in (1, 2, 3, 4):
                daemon.wait_for_trace("%d CLOSE" % number)
            healthy = daemon.device()
            self.assertEqual(healthy.write(0x0900, 0x6300), (0, 0, 0x6300))
            self.assertEqual(daemon.http("/api/state")[0], 200)
            self.assertNotIn("B 0A0F", " ".join(daemon.trace()))

    def test_disconnects_a_client_that_never_reads_its_replies(self):
        with Daemon() as daemon:
            greedy = daemon.device()
            greedy.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            request = struct.pack("<IIIHH", REQ_SHORT_24, short_word(0x1000, read=True), 1, 0, 0)
            try:
                for _ in range(200):
                    greedy.sock.sendall(request * 1000)
            except OSError:
                pass
            daemon.wait_for_trace("1 CLOSE")
            self.assertEqual(daemon.device().write(0x0900, 0x6300)[0], 0)


class HttpApi(unittest.TestCase):
    def test_state_has_every_field_with_its_type(self):
        with Daemon() as daemon:
            state = daemon.state()
            self.assertEqual([len(state[k]) for k in ("button_leds", "status_leds", "toggle_leds", "screens")],
                             [32, 32, 2, 3])
            self.assertTrue(all(v is False for v in state["button_leds"] + state["status_leds"]))
            self.assertIsNone(state["panel_control"])
            self.assertIsNone(state["backlight_level"])
            self.assertEqual(state["status_inputs"], 0)
            self.assertEqual(state["screens"], [{"on": False}] * 3)
            self.assertEqual(state["accesses"], 0)
            client = daemon.device()
            client.write(0x0800, 0xD100)
            client.write(0x1003, 0x0001)
            client.write(0x0900, 0xBF00)
            state = daemon.state()
            self.assertEqual((state["panel_control"], state["backlight_level"]), (0xD1, 17))
            self.assertEqual(state["toggle_leds"], [True, False])
            self.assertTrue(state["status_leds"][31])

    def test_sets_the_status_inputs_from_a_decimal_body_and_answers_the_new_state(self):
        with Daemon() as daemon:
            status, kind, body = daemon.http("/api/status_inputs", b"3\n")
            self.assertEqual((status, kind), (200, "application/json"))
            self.assertEqual(json.loads(body)["status_inputs"], 3)
            self.assertEqual(daemon.device().read(0x1000), 3)

    def test_serves_each_screen_as_rgb565_and_as_the_same_png(self):
        with Daemon() as daemon:
            client = daemon.device()
            client.tft_register(2, 0x44, 0x0504)  # columns 4..5: picture x 0..1
            client.tft_register(2, 0x45, 0x0201)  # rows 1..2
            client.tft_register(2, 0x21, 0)
            client.write(0x0A04, 0x0000)
            client.write(0x0A04, 0x2200)
            client.burst(0x0A05, [0xF800, 0x07E0, 0x001F, 0xFFFF])
            status, _, raw = daemon.http("/api/screen/1.rgb565")
            self.assertEqual((status, len(raw)), (200, 32768))
            self.assertEqual(struct.unpack("<2H", raw[0:4]), (0xF800, 0x07E0))
            self.assertEqual(struct.unpack("<2H", raw[256:260]), (0x001F, 0xFFFF))
            self.assertEqual(raw[4:256], bytes(252))
            status, kind, png = daemon.http("/api/screen/1.png")
            self.assertEqual((status, kind), (200, "image/png"))
            rows = decode_png(png)
            self.assertEqual((len(rows), len(rows[0])), (128, 128))
            self.assertEqual(rows[0][:2], [(255, 0, 0), (0, 255, 0)])
            self.assertEqual(rows[1][:3], [(0, 0, 255), (255, 255, 255), (0, 0, 0)])
            self.assertEqual(daemon.http("/api/screen/0.rgb565")[2], bytes(32768))

    def test_serves_the_live_page_and_the_recent_trace(self):
        with Daemon() as daemon:
            status, kind, page = daemon.http("/")
            self.assertEqual((status, kind), (200, "text/html; charset=utf-8"))
            self.assertIn(b"<html", page.lower())
            client = daemon.device()
            for value in range(5):
                client.write(0x1003, value)
            status, _, text = daemon.http("/api/trace?tail=2")
            self.assertEqual((status, text), (200, b"1 W 1003 0003\n1 W 1003 0004\n"))

    def test_answers_malformed_requests_with_4xx_and_a_one_line_reason_and_keeps_serving(self):
        with Daemon() as daemon:
            cases = [
                b"GARBAGE\r\n\r\n",
                b"\x00\x01\x02\xff\r\n\r\n",
                b"GET /" + b"a" * 10000 + b" HTTP/1.1\r\nHost: x\r\n\r\n",
                b"GET /api/screen/3.png HTTP/1.1\r\nHost: x\r\n\r\n",
                b"GET /api/screen/01.rgb565 HTTP/1.1\r\nHost: x\r\n\r\n",
                b"GET /api/screen/x.png HTTP/1.1\r\nHost: x\r\n\r\n",
                b"GET /api/nothing HTTP/1.1\r\nHost: x\r\n\r\n",
                b"GET /api/status_inputs HTTP/1.1\r\nHost: x\r\n\r\n",
                b"GET /api/trace?tail=-1 HTTP/1.1\r\nHost: x\r\n\r\n",
                b"POST /api/status_inputs HTTP/1.1\r\nHost: x\r\nContent-Length: 1\r\n\r\n4",
                b"POST /api/status_inputs HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n-1",
                b"POST /api/status_inputs HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\n0x1",
                b"POST /api/status_inputs HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n",
                b"POST /api/status_inputs HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n\r\n" + b"1" * 100000,
            ]
            for request in cases:
                answer = raw_http(daemon.port, request)
                head, _, body = answer.partition(b"\r\n\r\n")
                self.assertRegex(head, rb"^HTTP/1\.1 4\d\d ", request[:40])
                self.assertTrue(body.endswith(b"\n") and body.count(b"\n") == 1 and len(body) > 1,
                                (request[:40], body))
            self.assertEqual(daemon.state()["status_inputs"], 0)
            self.assertEqual(daemon.http("/api/status_inputs", b"1")[0], 200)


if __name__ == "__main__":
    unittest.main()
