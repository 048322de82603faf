"""Runs the real programs against a virtual panel of their own, for the system tests.

A Board is one panelsim daemon on a fresh temporary ROOT, with the X11 fonts linked into
ROOT/opt/tesserax/fonts and the given launcher.cfg and buttonlevel files. Programs run
under panelsim-run. Leaving the `with` block stops every process the board started and
removes ROOT; when the block ends with an error, the output of every process is printed.

Paths come from the environment set by the test registration: PANELSIM, PANELSIM_RUN,
PANEL_FONT_DIR, PANEL_SCRIPTS_DIR and one variable per program (KEYLIGHT, ...); in a cross
build also PANEL_TARGET_EMULATOR and PANEL_TARGET_PRELOAD.
"""

import fcntl
import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.environ.get("PANEL_SCRIPTS_DIR", ""))
import klmwire  # noqa: E402,F401  (re-exported for the tests)
from targetprograms import panel_command, target_command  # noqa: E402,F401  (target_command re-exported)

WAIT_S = 20.0
SCREEN_SIDE = 128

FONT_8X13 = "[font]\nwidth=8\nheight=13\n"


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


class Program:
    """A process started by a Board, its standard output and error in one log file."""

    def __init__(self, name, argv, log_path, env=None):
        self.name = name
        self.log_path = log_path
        self._log = open(log_path, "wb")
        self.process = subprocess.Popen(argv, stdout=self._log, stderr=subprocess.STDOUT,
                                        stdin=subprocess.DEVNULL, env=env)

    def output(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode("latin-1")

    def wait_for_output(self, text, timeout=WAIT_S):
        """Waits until the program has printed text; fails when it ends without printing it."""
        wait_until(lambda: text in self.output() or not self.running(),
                   "%r in the output of %s" % (text, self.name), timeout)
        if text not in self.output():
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


class Board:
    def __init__(self, launcher_cfg=FONT_8X13, buttonlevel=None, daemon=True):
        self.launcher_cfg = launcher_cfg
        self.buttonlevel = buttonlevel
        self.with_daemon = daemon
        self.programs = []
        self.daemon = None
        self.url = None

    # ---- set-up and tear-down ----------------------------------------------------------------

    def __enter__(self):
        self.root = tempfile.mkdtemp(prefix="panelsim-e2e-")
        try:
            self._make_files()
            if self.with_daemon:
                self._start_daemon()
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
        shutil.rmtree(self.root, ignore_errors=True)
        if kind is None and daemon_status != 0:
            raise AssertionError("panelsim ended with status %s" % daemon_status)
        return False

    def _make_files(self):
        etc = self.path("etc/tesserax")
        fonts = self.path("opt/tesserax/fonts")
        os.makedirs(etc)
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

    def _start_daemon(self):
        self.daemon = Program("panelsim", [tool("PANELSIM"), self.root, "--http", "127.0.0.1:0"],
                              self.path("logs/panelsim.log"))
        prefix = "panelsim: ready "
        self.daemon.wait_for_output(prefix)
        line = next(l for l in self.daemon.output().splitlines() if l.startswith(prefix))
        self.url = line[len(prefix):].strip()

    def _print_outputs(self):
        for program in ([self.daemon] if self.daemon else []) + self.programs:
            print("----- output of %s (status %s) -----" % (program.name, program.process.returncode))
            print(program.output(), end="", flush=True)
        print("----- end of outputs -----", flush=True)

    # ---- files under ROOT --------------------------------------------------------------------

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

    # ---- programs ----------------------------------------------------------------------------

    def start(self, name, *args):
        """Starts tool(name) with args under panelsim-run; it is stopped when the board ends."""
        program = Program(name.lower(), panel_command(self.root, [tool(name)] + list(args)),
                          self.path("logs/%s-%d.log" % (name.lower(), len(self.programs))))
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

    # ---- the HTTP API ------------------------------------------------------------------------

    def _get(self, path):
        with urllib.request.urlopen(self.url + path, timeout=10) as answer:
            return answer.read()

    def state(self):
        return json.loads(self._get("api/state"))

    def screen(self, n):
        """The picture of screen n as 128 rows of 128 RGB565 values."""
        data = self._get("api/screen/%d.rgb565" % n)
        values = struct.unpack("<%dH" % (SCREEN_SIDE * SCREEN_SIDE), data)
        return [list(values[row * SCREEN_SIDE:(row + 1) * SCREEN_SIDE]) for row in range(SCREEN_SIDE)]

    def set_status_inputs(self, bits):
        request = urllib.request.Request(self.url + "api/status_inputs", data=str(bits).encode(),
                                         method="POST")
        with urllib.request.urlopen(request, timeout=10) as answer:
            return json.loads(answer.read())


def region(picture, x, y, width, height):
    return [row[x:x + width] for row in picture[y:y + height]]


def glyph_line(font, width, text, fg565, bg565):
    """The expected pixels of a line of text, rendered from the font by the glyphline helper."""
    out = subprocess.run([tool("GLYPHLINE"), font, str(width), text, str(fg565), str(bg565)],
                         check=True, stdout=subprocess.PIPE).stdout
    values = struct.unpack("<%dH" % (len(out) // 2), out)
    return [list(values[i:i + width]) for i in range(0, len(values), width)]


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
