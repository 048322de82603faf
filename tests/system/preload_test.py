"""Programs under panelsim-run: their files under ROOT, their device at the daemon."""

import os
import subprocess
import unittest

from panelharness import Daemon, panel_command, target_command, tool

FONT = "8x13.pcf.gz"


def probe(*args):
    return [tool("PRELOADPROBE")] + list(args)


class RedirectedFiles(unittest.TestCase):
    def test_fopen_stat_and_realpath_reach_the_files_under_root(self):
        with Daemon() as daemon:
            with open(os.path.join(daemon.root, "etc/tesserax/buttonlevel"), "w") as f:
                f.write("led=5\n")
            result = daemon.run(*probe("read", "/etc/tesserax/buttonlevel"))
            self.assertEqual((result.returncode, result.stdout), (0, "led=5\n"), result.stderr)
            result = daemon.run(*probe("stat", "/etc/tesserax/buttonlevel"))
            self.assertEqual(result.stdout, "stat 0 size 6 errno 0\nlstat 0 statx 0 size 6 access 0\n"
                                            "realpath /etc/tesserax/buttonlevel\n", result.stderr)
            result = daemon.run(*probe("stat", "/opt/tesserax"))
            self.assertEqual(result.returncode, 0, result.stdout)
            self.assertIn("realpath /opt/tesserax\n", result.stdout)

    def test_keeps_errno_of_a_missing_redirected_file(self):
        with Daemon() as daemon:
            result = daemon.run(*probe("stat", "/etc/tesserax/absent"))
            self.assertEqual(result.returncode, 1)
            self.assertIn("stat -1 size -1 errno No such file or directory", result.stdout)

    def test_leaves_every_other_path_alone(self):
        with Daemon() as daemon:
            os.makedirs(os.path.join(daemon.root, "etc"), exist_ok=True)
            with open(os.path.join(daemon.root, "etc/hostname"), "w") as f:
                f.write("not the host\n")
            with open("/etc/hostname") as f:
                real = f.read()
            self.assertEqual(daemon.run(*probe("read", "/etc/hostname")).stdout, real)
            result = daemon.run(*probe("stat", "/etc/tesseraxfoo"))
            self.assertIn("errno No such file or directory", result.stdout)

    def test_qsettings_writes_and_reads_the_settings_under_root(self):
        with Daemon() as daemon:
            result = daemon.run(*probe("settings-write", "/etc/tesserax/launcher.cfg", "font/width", "9"))
            self.assertEqual((result.returncode, result.stdout), (0, "status 0\n"), result.stderr)
            result = daemon.run(*probe("settings-write", "/etc/tesserax/launcher.cfg", "font/height", "15"))
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(os.path.join(daemon.root, "etc/tesserax/launcher.cfg")) as f:
                self.assertEqual(f.read(), "[font]\nheight=15\nwidth=9\n")
            self.assertEqual(sorted(os.listdir(os.path.join(daemon.root, "etc/tesserax"))), ["launcher.cfg"])
            result = daemon.run(*probe("settings-read", "/etc/tesserax/launcher.cfg", "font/width"))
            self.assertEqual(result.stdout, "font/width=9\n")
            result = daemon.run(*probe("list", "/etc/tesserax"))
            self.assertEqual(result.stdout, "launcher.cfg\n")
            self.assertFalse(os.path.exists("/etc/tesserax/launcher.cfg") and
                             "height=15" in open("/etc/tesserax/launcher.cfg").read())

    def test_qfilesystemwatcher_sees_a_change_of_a_redirected_file(self):
        with Daemon() as daemon:
            path = os.path.join(daemon.root, "etc/tesserax/launcher.cfg")
            with open(path, "w") as f:
                f.write("[font]\nwidth=8\n")
            watcher = subprocess.Popen(panel_command(daemon.root, probe("watch", "/etc/tesserax/launcher.cfg")),
                                       stdout=subprocess.PIPE, text=True)
            try:
                self.assertEqual(watcher.stdout.readline(), "watching\n")
                with open(path, "a") as f:
                    f.write("height=13\n")
                self.assertEqual(watcher.stdout.readline(), "changed /etc/tesserax/launcher.cfg\n")
                self.assertEqual(watcher.wait(timeout=20), 0)
            finally:
                if watcher.poll() is None:
                    watcher.kill()
                    watcher.wait()
                watcher.stdout.close()

    def test_freetype_opens_a_font_linked_under_root(self):
        source = os.path.join(tool("PANEL_FONT_DIR"), FONT)
        if not os.path.exists(source):
            self.skipTest("no " + source)
        with Daemon() as daemon:
            os.symlink(source, os.path.join(daemon.root, "opt/tesserax/fonts", FONT))
            result = daemon.run(*probe("font", "/opt/tesserax/fonts/" + FONT))
            self.assertEqual((result.returncode, result.stdout), (0, "font Fixed 8x13\n"), result.stdout)


class ForwardedDevice(unittest.TestCase):
    def test_forwards_the_ioctls_of_several_threads_with_errno_kept(self):
        with Daemon() as daemon:
            daemon.http("/api/status_inputs", b"1")
            result = daemon.run(*probe("device", "4", "50"))
            self.assertEqual((result.returncode, result.stdout), (0, "failures 0 status 0 1 unknown -1 Invalid argument\n"),
                             result.stderr)
            trace = daemon.wait_for_trace("1 CLOSE")
            opened = [line for line in trace if " OPEN " in line]
            self.assertEqual(len(opened), 1)
            self.assertEqual(opened[0], "1 OPEN %s" % opened[0].split()[2])
            self.assertEqual(len([line for line in trace if line.startswith("1 W 0900 ")]), 200)
            self.assertEqual(len([line for line in trace if line.startswith("1 B 0A0F 300 ")]), 4)
            self.assertEqual(trace[-2:], ["1 R 1000 0001", "1 CLOSE"])
            state = daemon.state()
            self.assertEqual(state["status_leds"][:4], [False] * 4)  # each thread ends with its LED dark

    def test_the_device_is_missing_when_no_daemon_listens(self):
        with Daemon() as daemon:
            root = daemon.root
            daemon.stop()
            result = subprocess.run(panel_command(root, probe("open-device")), capture_output=True,
                                    text=True, timeout=20)
            self.assertEqual(result.stdout, "open -1 No such file or directory\n")

    def test_a_program_with_64_device_descriptors_is_refused_a_65th(self):
        with Daemon() as daemon:
            result = daemon.run(*probe("open-device", "65"))
            self.assertEqual(result.stdout, "open -1 Too many open files\n", result.stderr)

    def test_a_program_without_the_preload_is_untouched(self):
        with Daemon() as daemon:
            with open(os.path.join(daemon.root, "etc/tesserax/buttonlevel"), "w") as f:
                f.write("led=5\n")
            env = dict(os.environ, PANELSIM_ROOT=daemon.root)
            result = subprocess.run(target_command(probe("read", "/etc/tesserax/buttonlevel")), capture_output=True, text=True,
                                    timeout=20, env=env)
            self.assertNotEqual(result.stdout, "led=5\n")
            result = subprocess.run(target_command(probe("open-device")), capture_output=True, text=True, timeout=20,
                                    env=env)
            self.assertNotEqual(result.stdout, "open 0 ok\n")
            self.assertEqual(daemon.trace(), [])

    def test_the_exit_status_is_the_programs(self):
        with Daemon() as daemon:
            self.assertEqual(daemon.run(*probe("exit", "7")).returncode, 7)
            self.assertEqual(daemon.run("/nonexistent/program").returncode, 127)


class RealPrograms(unittest.TestCase):
    def test_panelprime_starts_the_three_screens(self):
        panelprime = os.environ.get("PANELPRIME")
        if not panelprime:
            self.skipTest("no panelprime")
        with Daemon() as daemon:
            result = daemon.run(panelprime)
            self.assertEqual((result.returncode, result.stdout), (0, ""))
            trace = daemon.wait_for_trace("1 CLOSE")
            self.assertEqual([line.split(" ", 1)[1] for line in trace if " 0800 " in line],
                             ["W 0800 0000", "W 0800 8000", "W 0800 FF00"])
            self.assertEqual(len([line for line in trace if " 0A0E " in line or " 0A0F " in line]), 90)
            self.assertIn("1 W 0A0F 0037", trace)
            self.assertEqual(trace[-1], "1 CLOSE")
            state = daemon.state()
            self.assertEqual(state["screens"], [{"on": True}] * 3)
            self.assertEqual(state["backlight_level"], 63)


if __name__ == "__main__":
    unittest.main()
