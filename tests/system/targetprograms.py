"""Command lines of the build's own programs, which in a cross build are of the target's
architecture: they run under PANEL_TARGET_EMULATOR, and under panelsim-run with the preload
library PANEL_TARGET_PRELOAD built for them. The daemon and panelsim-run stay native."""

import os


def _emulator():
    return os.environ.get("PANEL_TARGET_EMULATOR", "")


def _tool(name):
    path = os.environ.get(name)
    if not path:
        raise RuntimeError("environment variable %s is not set" % name)
    return path


def target_command(argv):
    """argv of a program of the build, run without the virtual panel."""
    return _emulator().split() + list(argv)


def panel_command(root, argv):
    """argv of a program of the build, run under panelsim-run on root."""
    emulator = _emulator()
    options = ["--emulator", emulator, "--preload", _tool("PANEL_TARGET_PRELOAD")] if emulator else []
    return [_tool("PANELSIM_RUN")] + options + [root] + list(argv)
