"""The system tests' harness: the virtual panel's daemon, the build's programs under
panelsim-run and what the tests compare them with.

A Daemon is one panelsim on a ROOT (a fresh bare temporary one unless given). A Board is a
daemon on a fresh temporary ROOT laid out as the device's: the X11 fonts linked into
ROOT/opt/tesserax/fonts and the given launcher.cfg and buttonlevel files; programs run under
panelsim-run. Leaving the `with` block of either stops every process it started and removes
the ROOT it made; when the block ends with an error, the output of every process is printed.

The build's programs are of the target's architecture: in a cross build they run under
PANEL_TARGET_EMULATOR, and under panelsim-run with the preload library PANEL_TARGET_PRELOAD
built for them. The daemon, panelsim-run and glyphline stay native.

Paths come from the environment set by the test registration: PANELSIM, PANELSIM_RUN,
PANEL_FONT_DIR, PANEL_SCRIPTS_DIR and one variable per program (KEYLIGHT, PRELOADPROBE, ...);
in a cross build also PANEL_TARGET_EMULATOR and PANEL_TARGET_PRELOAD. PANEL_SYSCALL_LOG, when
set, has the programs' system calls logged (see program_env).
"""

import fcntl
import json
import os
import platform
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request
import zlib

sys.path.insert(0, os.environ.get("PANEL_SCRIPTS_DIR", ""))
import klmwire  # noqa: E402,F401  (re-exported for the tests)

WAIT_S = 20.0
SCREEN_SIDE = 128
BLACK565, WHITE565 = 0x0000, 0xFFFF

FONT_8X13 = "[font]\nwidth=8\nheight=13\n"

READY = re.compile(r"^panelsim: ready http://127\.0\.0\.1:(\d+)/\n$")

# ioctl request numbers of the 16-byte (32-bit target) and 24-byte (64-bit host) records.
REQ_SHORT_16, REQ_LONG_16 = 0xC0102400, 0xC0102401
REQ_SHORT_24, REQ_LONG_24 = 0xC0182400, 0xC0182401


def tool(name):
    path = os.environ.get(name)
    if not path:
        raise RuntimeError("environment variable %s is not set" % name)
    return path


def free_port():
    """A TCP port of 127.0.0.1 that nothing listens on right now."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(condition, what, timeout=WAIT_S):
    """Polls condition() until it gives a true value, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("gave up waiting for " + what)
        time.sleep(0.05)


# ---- command lines of the build's programs -----------------------------------------------------

def _emulator():
    emulator = os.environ.get("PANEL_TARGET_EMULATOR", "")
    if not emulator and os.environ.get("PANEL_SYSCALL_LOG"):
        return "qemu-" + platform.machine()
    return emulator


def program_env(name):
    """The environment of the build's program called name. With PANEL_SYSCALL_LOG naming a
    folder, the programs run under the emulator (the host's own in a native build), which logs
    every system call the program makes into NAME.PID there, for scripts/ci-syscalls."""
    folder = os.environ.get("PANEL_SYSCALL_LOG")
    if not folder:
        return None
    return dict(os.environ, QEMU_STRACE="1", QEMU_LOG_FILENAME=os.path.join(folder, name + ".%d"))


def target_command(argv):
    """argv of a program of the build, run without the virtual panel."""
    return _emulator().split() + list(argv)


def panel_command(root, argv):
    """argv of a program of the build, run under panelsim-run on root."""
    emulator = _emulator()
    options = ["--emulator", emulator, "--preload", tool("PANEL_TARGET_PRELOAD")] if emulator else []
    return [tool("PANELSIM_RUN")] + options + [root] + list(argv)


class Program:
    """A process started by a Board, its standard output and error in one log file. With
    journal_stream, JOURNAL_STREAM names that file's device and inode ("output": the log file
    itself), as systemd names the journal stream it connects a unit's output to."""

    def __init__(self, name, argv, log_path, env=None, journal_stream=None):
        self.name = name
        self.log_path = log_path
        self._log = open(log_path, "wb")
        if journal_stream is not None:
            named = os.stat(self._log.fileno() if journal_stream == "output" else journal_stream)
            env = dict(os.environ if env is None else env,
                       JOURNAL_STREAM="%d:%d" % (named.st_dev, named.st_ino))
        self.process = subprocess.Popen(argv, stdout=self._log, stderr=subprocess.STDOUT,
                                        stdin=subprocess.DEVNULL, env=env)

    def output(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode("latin-1")

    def wait_for_output(self, text, timeout=WAIT_S):
        """Waits until the program has printed text (a string, or a compiled pattern that its
        output matches); fails when it ends without printing it."""
        def printed():
            output = self.output()
            return text.search(output) if isinstance(text, re.Pattern) else text in output
        wait_until(lambda: printed() or not self.running(),
                   "%r in the output of %s" % (text, self.name), timeout)
        if not printed():
            raise AssertionError("%s ended (status %s) without printing %r"
                                 % (self.name, self.process.returncode, text))

    def running(self):
        return self.process.poll() is None

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self._log.close()
        return self.process.returncode


class RootFiles:
    """The files of a virtual board under self.root."""

    def path(self, relative):
        return os.path.join(self.root, relative)

    def write(self, relative, text):
        """Rewrites the file in place, as an editor saving it would, keeping its inode."""
        with open(self.path(relative), "w") as f:
            f.write(text)

    def trace(self):
        try:
            with open(self.path("trace.log")) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def wait_for_trace(self, line):
        """The whole trace, once it holds line."""
        def trace_with_line():
            trace = self.trace()
            return trace if line in trace else None
        return wait_until(trace_with_line, "trace line %r" % line)


# ---- the daemon --------------------------------------------------------------------------------

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


class Daemon(RootFiles):
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
            self.close()
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

    def close(self):
        """Forgets the standard error and removes ROOT if the daemon made it."""
        if self._stderr is not None:
            self._stderr.close()
        if self._own_root:
            shutil.rmtree(self.root, ignore_errors=True)

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

    def _api(self, path, body=None):
        status, _, answer = self.http(path, body)
        assert status == 200, (path, status)
        return answer

    def state(self):
        return json.loads(self._api("/api/state"))

    def screen(self, n):
        """The picture of screen n as 128 rows of 128 RGB565 values."""
        values = struct.unpack("<%dH" % (SCREEN_SIDE * SCREEN_SIDE), self._api("/api/screen/%d.rgb565" % n))
        return [list(values[row * SCREEN_SIDE:(row + 1) * SCREEN_SIDE]) for row in range(SCREEN_SIDE)]

    def set_status_inputs(self, bits):
        """Sets the status inputs; returns the new state."""
        return json.loads(self._api("/api/status_inputs", str(bits).encode()))

    def device(self):
        """A new device connection; closed when the daemon stops."""
        client = DeviceClient(self.root)
        self._clients.append(client)
        return client

    def run(self, *argv, timeout=WAIT_S * 2):
        """Runs argv under panelsim-run; returns the finished process (text output)."""
        return subprocess.run(panel_command(self.root, argv), capture_output=True,
                              text=True, timeout=timeout, stdin=subprocess.DEVNULL)


# ---- the board ---------------------------------------------------------------------------------

class Board(RootFiles):
    def __init__(self, launcher_cfg=FONT_8X13, buttonlevel=None, daemon=True):
        self.launcher_cfg = launcher_cfg
        self.buttonlevel = buttonlevel
        self.with_daemon = daemon
        self.programs = []
        self.daemon = None

    def __enter__(self):
        self.root = tempfile.mkdtemp(prefix="panelsim-e2e-")
        try:
            self._make_files()
            if self.with_daemon:
                self.daemon = Daemon(self.root)
                self.daemon.start()
        except BaseException:
            self.__exit__(*sys.exc_info())
            raise
        return self

    def __exit__(self, kind, error, tb):
        for program in reversed(self.programs):
            program.stop()
        daemon_status = self.daemon.stop() if self.daemon else 0
        if kind is not None or daemon_status != 0:
            self._print_outputs()
        if self.daemon:
            self.daemon.close()
        shutil.rmtree(self.root, ignore_errors=True)
        if kind is None and daemon_status != 0:
            raise AssertionError("panelsim ended with status %s" % daemon_status)
        return False

    def start_daemon(self):
        """Starts the virtual panel of a board made without one: the device appears."""
        self.daemon = Daemon(self.root)
        self.daemon.start()

    def _make_files(self):
        fonts = self.path("opt/tesserax/fonts")
        os.makedirs(self.path("etc/tesserax"))
        os.makedirs(fonts)
        os.makedirs(self.path("logs"))
        font_dir = tool("PANEL_FONT_DIR")
        for name in os.listdir(font_dir):
            stem = name[:-len(".pcf.gz")] if name.endswith(".pcf.gz") else ""
            if "x" in stem and all(part.isdigit() for part in stem.split("x", 1)):
                os.symlink(os.path.join(font_dir, name), os.path.join(fonts, name))
        if self.launcher_cfg is not None:
            self.write("etc/tesserax/launcher.cfg", self.launcher_cfg)
        if self.buttonlevel is not None:
            self.write("etc/tesserax/buttonlevel", self.buttonlevel)

    def _print_outputs(self):
        if self.daemon:
            print("----- standard error of panelsim -----")
            print(self.daemon.stderr_text(), end="", flush=True)
        for program in self.programs:
            print("----- output of %s (status %s) -----" % (program.name, program.process.returncode))
            print(program.output(), end="", flush=True)
        print("----- end of outputs -----", flush=True)

    # ---- programs ----------------------------------------------------------------------------

    def start(self, name, *args, journal_stream=None, env=None):
        """Starts tool(name) with args under panelsim-run; it is stopped when the board ends.
        journal_stream: as Program's; env: variables added to the program's environment."""
        program_vars = program_env(name.lower())
        if env:
            program_vars = dict(os.environ if program_vars is None else program_vars, **env)
        program = Program(name.lower(), panel_command(self.root, [tool(name)] + list(args)),
                          self.path("logs/%s-%d.log" % (name.lower(), len(self.programs))),
                          program_vars, journal_stream=journal_stream)
        self.programs.append(program)
        return program

    def run(self, name, *args, timeout=60):
        """Runs tool(name) under panelsim-run to its end; returns (status, output)."""
        program = self.start(name, *args)
        try:
            status = program.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("%s did not end within %d s" % (name, timeout))
        return status, program.output()

    # ---- what the board shows ----------------------------------------------------------------

    def state(self):
        return self.daemon.state()

    def screen(self, n):
        return self.daemon.screen(n)

    def set_status_inputs(self, bits):
        return self.daemon.set_status_inputs(bits)

    def wait_for_screen(self, n, expected):
        """Waits until screen n shows the expected picture; fails saying where it differs."""
        try:
            wait_until(lambda: self.screen(n) == expected, "screen %d to show the expected picture" % n)
        except AssertionError:
            raise AssertionError("screen %d: %s" % (n, differences(self.screen(n), expected))) from None


# ---- keylight's picture of the panel ----------------------------------------------------------

PANEL_VIEW_MAGIC = b"PNLVIEW\0"
# Header (magic, version, size, sequence, reserved), the three screens, then the board.
_PANEL_VIEW_HEADER = struct.Struct("=8sIIII")
_PANEL_VIEW_BOARD = struct.Struct("=32s32s2sBBBB3s7xQ")
PANEL_VIEW_SIZE = _PANEL_VIEW_HEADER.size + 3 * SCREEN_SIDE * SCREEN_SIDE * 2 + _PANEL_VIEW_BOARD.size


def read_panel_view(path):
    """keylight's picture file as panelsim's /api/state names it, with "screens_rgb565" (three
    byte strings as /api/screen/N.rgb565 gives them, on this little-endian machine); None
    while the file is missing or keylight is in the middle of an update."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except FileNotFoundError:
        return None
    assert len(data) == PANEL_VIEW_SIZE, len(data)
    magic, version, size, sequence, _ = _PANEL_VIEW_HEADER.unpack_from(data)
    assert (magic, version, size) == (PANEL_VIEW_MAGIC, 1, PANEL_VIEW_SIZE)
    if sequence % 2:
        return None
    screen_bytes = SCREEN_SIDE * SCREEN_SIDE * 2
    screens = [data[_PANEL_VIEW_HEADER.size + n * screen_bytes:][:screen_bytes] for n in range(3)]
    (button, status, toggle, control_valid, control, level_valid, level, screens_on,
     accesses) = _PANEL_VIEW_BOARD.unpack_from(data, _PANEL_VIEW_HEADER.size + 3 * screen_bytes)
    return {
        "button_leds": [bool(b) for b in button],
        "status_leds": [bool(b) for b in status],
        "toggle_leds": [bool(b) for b in toggle],
        "panel_control": control if control_valid else None,
        "backlight_level": level if level_valid else None,
        "screens": [{"on": bool(b)} for b in screens_on],
        "accesses": accesses,
        "screens_rgb565": screens,
    }


# ---- expected pictures -------------------------------------------------------------------------

def black_screen():
    return [[BLACK565] * SCREEN_SIDE for _ in range(SCREEN_SIDE)]


def paste(picture, x, y, block):
    for r, row in enumerate(block):
        picture[y + r][x:x + len(row)] = row


def differences(actual, expected):
    """Where two pictures differ, for a failure message."""
    wrong = [(x, y, actual[y][x], expected[y][x]) for y in range(SCREEN_SIDE) for x in range(SCREEN_SIDE)
             if actual[y][x] != expected[y][x]]
    return "%d pixels differ, first (x, y, shown, expected): %s" % (
        len(wrong), ", ".join("(%d, %d, %04X, %04X)" % w for w in wrong[:8]))


def font(name):
    """The path of an X11 font file."""
    return os.path.join(tool("PANEL_FONT_DIR"), name)


def cell(font_name):
    """(width, height) of a character cell of the X11 font."""
    out = subprocess.run([tool("GLYPHLINE"), font(font_name), "--cell"], check=True,
                         stdout=subprocess.PIPE, text=True).stdout.split()
    return int(out[0]), int(out[1])


def glyph_line(font_path, width, text, fg565, bg565):
    """The expected pixels of a line of text, rendered from the font by the glyphline helper."""
    out = subprocess.run([tool("GLYPHLINE"), font_path, str(width), text, str(fg565), str(bg565)],
                         check=True, stdout=subprocess.PIPE).stdout
    values = struct.unpack("<%dH" % (len(out) // 2), out)
    return [list(values[i:i + width]) for i in range(0, len(values), width)]


def sample_line_screens():
    """The screens after the sample lines that the clients' tests send, with the 8x13 font:
    "Hello, panel!" on line 2 of screen 1, "INVERTED" inverted on line 0 of screen 0, and the
    sub-text "RGB" (red on blue) at cell 3 of line 4 of screen 2. Returns [screen 0, 1, 2]."""
    w, h = cell("8x13.pcf.gz")
    screens = [black_screen() for _ in range(3)]
    paste(screens[0], 0, 0, glyph_line(font("8x13.pcf.gz"), SCREEN_SIDE, "INVERTED", WHITE565, BLACK565))
    paste(screens[1], 0, 2 * h, glyph_line(font("8x13.pcf.gz"), SCREEN_SIDE, "Hello, panel!", BLACK565, WHITE565))
    paste(screens[2], 3 * w, 4 * h, glyph_line(font("8x13.pcf.gz"), 3 * w, "RGB", 0xF800, 0x001F))
    return screens


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


# ---- a network of the test's own -----------------------------------------------------------

SKIP = 77  # the status ctest is told to count as a skipped test


def in_own_network(argv):
    """Re-runs this test in a fresh network namespace with its own loopback, where fixed ports
    (lampwatch always talks to 127.0.0.1:3003) cannot clash with anything else on the machine.
    Returns only inside the namespace."""
    if os.environ.get("PANEL_OWN_NETWORK") == "1":
        _loopback_up()
        return
    env = dict(os.environ, PANEL_OWN_NETWORK="1")
    probe = subprocess.run(["unshare", "--user", "--map-root-user", "--net", "true"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if probe.returncode != 0:
        print("skipped: cannot make a network namespace (unshare --user --net)")
        sys.exit(SKIP)
    sys.exit(subprocess.run(["unshare", "--user", "--map-root-user", "--net", sys.executable] + argv,
                            env=env).returncode)


def _loopback_up():
    SIOCGIFFLAGS, SIOCSIFFLAGS, IFF_UP = 0x8913, 0x8914, 0x1
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        request = struct.pack("16sH14x", b"lo", 0)
        flags = struct.unpack("16sH14x", fcntl.ioctl(s.fileno(), SIOCGIFFLAGS, request))[1]
        fcntl.ioctl(s.fileno(), SIOCSIFFLAGS, struct.pack("16sH14x", b"lo", flags | IFF_UP))
