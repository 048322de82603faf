"""The demo (scripts/demo) as a user at a terminal meets it: the page's address comes first, the
show plays once the page answers, and Ctrl-C (SIGINT to the demo's process group) or SIGTERM,
whenever it comes, stops every program of the demo and reports no failure.

The demo's keylight always listens on 127.0.0.1:3003, so each test runs in a network namespace
of its own; the page takes a free port there too.
"""

import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import unittest
import urllib.request
import uuid

from panelharness import in_own_network, tool, wait_until

ADDRESS = re.compile(r"^demo: the panel is at (http://127\.0\.0\.1:\d+/)$")


def processes_marked(mark):
    """PIDs of the processes whose environment holds the mark (the demo and all it started)."""
    found = []
    for name in os.listdir("/proc"):
        try:
            with open("/proc/%s/environ" % name, "rb") as f:
                if mark in f.read().split(b"\0"):
                    found.append(int(name))
        except (OSError, ValueError):
            pass
    return found


class Demo:
    """scripts/demo in a session of its own, as a terminal runs it, its output in files."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="panel-demo-")
        # Every process the demo starts inherits this variable, which tells them from the rest.
        token = uuid.uuid4().hex
        self.mark = b"PANEL_DEMO_TEST=" + token.encode()
        env = dict(os.environ, DEMO_ROOT=os.path.join(self.folder, "root"), DEMO_HTTP="127.0.0.1:0",
                   DEMO_PAUSE="0.5", PANEL_DEMO_TEST=token)
        self.out = open(os.path.join(self.folder, "out"), "w+")
        self.err = open(os.path.join(self.folder, "err"), "w+")
        # A shell cannot trap a signal that was ignored when it started.
        self.process = subprocess.Popen(
            [os.path.join(tool("PANEL_SCRIPTS_DIR"), "demo"), tool("PANEL_BUILD_DIR")],
            stdout=self.out, stderr=self.err, stdin=subprocess.DEVNULL, env=env, start_new_session=True,
            preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))

    def lines(self):
        with open(self.out.name) as f:
            return f.read().splitlines()

    def errors(self):
        with open(self.err.name) as f:
            return f.read()

    def wait_for_line(self, start):
        return wait_until(lambda: next((l for l in self.lines() if l.startswith(start)), None)
                          or self._ended(start), "the demo to print %r" % start)

    def _ended(self, start):
        if self.process.poll() is not None:
            raise AssertionError("the demo ended (status %s) before printing %r:\n%s\n%s"
                                 % (self.process.returncode, start, "\n".join(self.lines()), self.errors()))
        return None

    def page_url(self):
        match = ADDRESS.match(self.wait_for_line("demo: the panel is at "))
        assert match, self.lines()
        return match.group(1)

    def stop(self, sig, group):
        """Sends sig to the demo (or its whole process group); returns its exit status."""
        if group:
            os.killpg(self.process.pid, sig)
        else:
            self.process.send_signal(sig)
        return self.process.wait(30)

    def running_processes(self):
        return processes_marked(self.mark)

    def close(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
        for pid in self.running_processes():
            os.kill(pid, signal.SIGKILL)
        self.out.close()
        self.err.close()
        subprocess.run(["rm", "-rf", self.folder])


def board_state(url):
    with urllib.request.urlopen(url + "api/state", timeout=10) as answer:
        return json.loads(answer.read())


class DemoStartAndStop(unittest.TestCase):
    def setUp(self):
        self.demo = Demo()

    def tearDown(self):
        self.demo.close()

    def assert_stopped_cleanly(self, status):
        demo = self.demo
        self.assertEqual(status, 0, demo.errors())
        self.assertEqual(demo.lines()[-1], "demo: stopped")
        self.assertEqual(demo.errors(), "")
        wait_until(lambda: not demo.running_processes(), "every program of the demo to end", timeout=5)

    def test_prints_the_address_first_plays_the_show_once_the_page_answers_and_stops_on_ctrl_c(self):
        demo = self.demo
        url = demo.page_url()
        self.assertRegex(demo.lines()[0], ADDRESS)
        with urllib.request.urlopen(url, timeout=10) as answer:
            self.assertIn(b"<title>Tesserax panel", answer.read())
        demo.wait_for_line("demo: the show starts in 0.5 s")
        wait_until(lambda: any(board_state(url)["button_leds"]), "the show to light a button")
        self.assert_stopped_cleanly(demo.stop(signal.SIGINT, group=True))
        self.assertFalse(any(l.startswith("demo: the show is over") for l in demo.lines()))

    def test_sigterm_before_the_show_stops_everything(self):
        self.demo.page_url()
        self.assert_stopped_cleanly(self.demo.stop(signal.SIGTERM, group=False))

if __name__ == "__main__":
    in_own_network(sys.argv)
    unittest.main(argv=sys.argv[:1] + sys.argv[1:])
