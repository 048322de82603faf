"""One panelsim daemon on a fresh temporary ROOT, for the daemon's and the preload's tests.

Paths come from the environment set by daemon.cmake: PANELSIM, PANELSIM_RUN, PRELOADPROBE,
PANEL_FONT_DIR, and in a cross build PANEL_TARGET_EMULATOR and PANEL_TARGET_PRELOAD. Leaving the `with` block stops the daemon and removes ROOT; when the block
ends with an error, the daemon's output is printed.
"""

import json
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import time
import urllib.error
import urllib.request
import zlib

from targetprograms import panel_command

WAIT_S = 20.0
READY = re.compile(r"^panelsim: ready http://127\.0\.0\.1:(\d+)/\n$")

# ioctl request numbers of the 16-byte (32-bit target) and 24-byte (64-bit host) records.
REQ_SHORT_16, REQ_LONG_16 = 0xC0102400, 0xC0102401
REQ_SHORT_24, REQ_LONG_24 = 0xC0182400, 0xC0182401


def tool(name):
    path = os.environ.get(name)
    if not path:
        raise RuntimeError("environment variable %s is not set" % name)
    return path


def wait_until(condition, what, timeout=WAIT_S):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("gave up waiting for " + what)
        time.sleep(0.02)


def short_word(address, read=False):
    return address | 0x2000 | (0x4000 if read else 0)


class DeviceClient:
    """A raw connection to ROOT/dev/fpga-reg speaking the daemon's wire format."""

    def __init__(self, root):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(WAIT_S)
        self.sock.connect(os.path.join(root, "dev", "fpga-reg"))

    def request(self, number, address_word, count=1, value=0, words=()):
        """Sends one request; returns (result, errno, value)."""
        data = struct.pack("<IIIHH", number, address_word, count, value if count == 1 else 0, 0)
        data += struct.pack("<%dH" % len(words), *words)
        self.sock.sendall(data)
        return struct.unpack("<iIHH", self.receive(12))[:3]

    def write(self, address, value):
        return self.request(REQ_SHORT_24, short_word(address), 1, value)

    def read(self, address):
        return self.request(REQ_SHORT_24, short_word(address, read=True), 1)[2]

    def burst(self, address, words):
        return self.request(REQ_SHORT_24, short_word(address), len(words), 0, words)

    def tft_register(self, mask, number, value):
        self.write(0x0A00 + 2 * mask, 0x0000)
        self.write(0x0A00 + 2 * mask, number << 8)
        self.write(0x0A01 + 2 * mask, value)

    def receive(self, size):
        data = b""
        while len(data) < size:
            chunk = self.sock.recv(size - len(data))
            if not chunk:
                raise ConnectionError("daemon closed the connection")
            data += chunk
        return data

    def close(self):
        self.sock.close()


def decode_png(data):
    """Pixels of an 8-bit RGB PNG as rows of (r, g, b) tuples."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG signature"
    pos, idat, width, height = 8, b"", 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        assert crc == zlib.crc32(kind + body), "bad CRC in chunk %r" % kind
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            assert (depth, colour) == (8, 2), "not 8-bit RGB"
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw, stride, rows, previous = zlib.decompress(idat), width * 3, [], bytearray(width * 3)
    for y in range(height):
        line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
        kind, row = line[0], bytearray(line[1:])
        for i in range(stride):
            left = row[i - 3] if i >= 3 else 0
            up = previous[i]
            corner = previous[i - 3] if i >= 3 else 0
            if kind == 1:
                row[i] = (row[i] + left) & 0xFF
            elif kind == 2:
                row[i] = (row[i] + up) & 0xFF
            elif kind == 3:
                row[i] = (row[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                pred = left if pa <= pb and pa <= pc else (up if pb <= pc else corner)
                row[i] = (row[i] + pred) & 0xFF
        rows.append([tuple(row[3 * x:3 * x + 3]) for x in range(width)])
        previous = row
    return rows


class Daemon:
    """panelsim on a temporary ROOT (or the given one, with further options) with HTTP on a
    free port of 127.0.0.1."""

    def __init__(self, root=None, *options):
        self._own_root = root is None
        self.options = list(options)
        self.root = root or tempfile.mkdtemp(prefix="panelsim-test-")
        self.process = None
        self.ready_line = ""
        self.port = 0
        self._stderr = None
        self._clients = []

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, kind, value, traceback):
        try:
            self.stop()
        finally:
            if kind is not None:
                print("---- panelsim standard error ----\n" + self.stderr_text())
            self._stderr.close()
            if self._own_root:
                shutil.rmtree(self.root, ignore_errors=True)
        return False

    def start(self):
        self._stderr = tempfile.TemporaryFile()
        self.process = subprocess.Popen([tool("PANELSIM"), self.root, "--http", "127.0.0.1:0"] + self.options,
                                        stdout=subprocess.PIPE, stderr=self._stderr,
                                        stdin=subprocess.DEVNULL)
        self.ready_line = self.process.stdout.readline().decode()
        match = READY.match(self.ready_line)
        if not match:
            raise AssertionError("no ready line, got %r" % self.ready_line)
        self.port = int(match.group(1))

    def stop(self, sig=signal.SIGTERM):
        """Stops the daemon; returns its exit status."""
        for client in self._clients:
            client.close()
        self._clients = []
        if self.process is None:
            return None
        if self.process.poll() is None:
            self.process.send_signal(sig)
        try:
            status = self.process.wait(timeout=WAIT_S)
        except subprocess.TimeoutExpired:
            self.process.kill()
            status = self.process.wait()
        self.process.stdout.close()
        self.process = None
        return status

    def stderr_text(self):
        self._stderr.seek(0)
        return self._stderr.read().decode("latin-1")

    @property
    def url(self):
        return "http://127.0.0.1:%d" % self.port

    def http(self, path, body=None):
        """(status, content type, body bytes) of one request."""
        request = urllib.request.Request(self.url + path, data=body,
                                         method="POST" if body is not None else "GET")
        try:
            with urllib.request.urlopen(request, timeout=WAIT_S) as answer:
                return answer.status, answer.headers.get("Content-Type"), answer.read()
        except urllib.error.HTTPError as error:
            return error.code, error.headers.get("Content-Type"), error.read()

    def state(self):
        status, _, body = self.http("/api/state")
        assert status == 200, status
        return json.loads(body)

    def trace(self):
        path = os.path.join(self.root, "trace.log")
        if not os.path.exists(path):
            return []
        with open(path) as f:
            return f.read().splitlines()

    def wait_for_trace(self, line):
        """The whole trace, once it holds line."""
        def trace_with_line():
            trace = self.trace()
            return trace if line in trace else None
        return wait_until(trace_with_line, "trace line %r" % line)

    def device(self):
        """A new device connection; closed when the daemon stops."""
        client = DeviceClient(self.root)
        self._clients.append(client)
        return client

    def run(self, *argv, timeout=WAIT_S * 2):
        """Runs argv under panelsim-run; returns the finished process (text output)."""
        return subprocess.run(panel_command(self.root, argv), capture_output=True,
                              text=True, timeout=timeout, stdin=subprocess.DEVNULL)
