"""The synopsis of each manual page shows the usage its program prints.

Environment: KEYLIGHT, LAMPWATCH, KEYLIGHT_SEND, PANELVIEW (the programs), PANEL_MAN_DIR (the
roff pages the build made), PANEL_TARGET_EMULATOR (qemu-arm in a cross build, else empty).
"""
import os
import re
import subprocess
import unittest

# program variable, arguments, exit status, stream the usage is on, manual page
ROWS = [
    ("KEYLIGHT", ["--help"], 0, "stdout", "keylight.8"),
    ("LAMPWATCH", ["--help"], 2, "stderr", "lampwatch.8"),
    ("KEYLIGHT_SEND", ["--help"], 0, "stdout", "keylight-send.1"),
    ("PANELVIEW", ["--help"], 0, "stdout", "panelview.1"),
]


def usage_forms(text):
    """The command lines a usage text shows: its first line without "usage:" and the
    lines indented like it right after it (deeper ones continue an explanation), each up
    to a gap of two spaces."""
    lines = text.splitlines()
    first = re.sub(r"^[Uu]sage: ", "", lines[0])
    forms = [first]
    for line in lines[1:]:
        if not line.startswith("       "):
            break
        if line.startswith("        "):
            continue
        forms.append(line.strip())
    return [re.split(r"  ", form)[0].strip() for form in forms]


def synopsis_lines(roff):
    """The lines of the SYNOPSIS section as man shows them, without font changes."""
    lines = []
    inside = False
    for line in roff.splitlines():
        if line.startswith(".SH"):
            inside = line.strip() == ".SH SYNOPSIS"
            continue
        if inside and line and not line.startswith("."):
            line = re.sub(r"\\f[BIRP]", "", line)
            lines.append(line.replace("\\&", "").replace("\\-", "-").strip())
    return lines


class ManualPages(unittest.TestCase):
    def test_the_synopsis_shows_every_usage_line_of_the_program(self):
        emulator = os.environ.get("PANEL_TARGET_EMULATOR", "").split()
        for variable, args, status, stream, page in ROWS:
            with self.subTest(page=page):
                run = subprocess.run(emulator + [os.environ[variable]] + args,
                                     capture_output=True, text=True, timeout=30,
                                     env=dict(os.environ, JOURNAL_STREAM=""))
                self.assertEqual(run.returncode, status, run.stderr)
                forms = usage_forms(getattr(run, stream))
                with open(os.path.join(os.environ["PANEL_MAN_DIR"], page)) as f:
                    synopsis = synopsis_lines(f.read())
                for form in forms:
                    self.assertIn(form, synopsis)


if __name__ == "__main__":
    unittest.main()
