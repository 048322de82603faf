"""panelprime on the virtual panel: its whole start-up sequence reaches the board."""

import sys
import unittest

from panelharness import Board, wait_until

# (controller register, value) of the start-up rows, in order; all go to every controller.
CONTROLLER_ROWS = [
    (0x00, 0x0013), (0x11, 0x7447), (0x12, 0x0012), (0x11, 0x4477), (0x10, 0x2020),
    (0x04, 0x0002), (0x10, 0x2120), (0x11, 0x3307), (0x04, 0x0000), (0x0B, 0x5101),
    (0x08, 0x0100), (0x13, 0x3F20), (0x42, 0x8300), (0x43, 0x0000), (0x44, 0x8304),
    (0x45, 0x8001), (0x03, 0x7030), (0x02, 0x0600), (0x01, 0x011D), (0x30, 0x0000),
    (0x31, 0x0306), (0x32, 0x0001), (0x33, 0x0000), (0x34, 0x0404), (0x35, 0x0000),
    (0x36, 0x0707), (0x37, 0x0000), (0x38, 0x0101), (0x39, 0x0207), (0x07, 0x0037),
]


def expected_writes():
    writes = ["W 0800 0000", "W 0800 8000"]
    for register, value in CONTROLLER_ROWS:
        writes += ["W 0A0E 0000", "W 0A0E %02X00" % register, "W 0A0F %04X" % value]
    return writes + ["W 0800 FF00"]


class PanelprimeOnTheVirtualPanel(unittest.TestCase):
    def test_writes_the_whole_start_up_sequence_and_turns_the_screens_on(self):
        with Board() as board:
            status, output = board.run("PANELPRIME")
            self.assertEqual(status, 0)
            self.assertEqual(output, "")
            trace = wait_until(lambda: "1 CLOSE" in board.trace() and board.trace(),
                               "the device connection to close")
            self.assertRegex(trace[0], r"^1 OPEN \d+$")
            self.assertEqual(trace[-1], "1 CLOSE")
            self.assertEqual([line[2:] for line in trace[1:-1]], expected_writes())
            state = board.state()
            self.assertEqual([s["on"] for s in state["screens"]], [True, True, True])
            self.assertEqual(state["panel_control"], 0xFF)
            self.assertEqual(state["backlight_level"], 63)
            self.assertEqual(state["accesses"], 93)

    def test_without_the_device_exits_with_status_0_and_prints_nothing(self):
        with Board(daemon=False) as board:
            status, output = board.run("PANELPRIME")
            self.assertEqual(status, 0)
            self.assertEqual(output, "")


if __name__ == "__main__":
    unittest.main(argv=sys.argv)
