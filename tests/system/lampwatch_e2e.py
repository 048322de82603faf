"""lampwatch on the virtual panel: the PSU inputs switched through the API move the PSU LED.

lampwatch always reaches keylight at 127.0.0.1:3003, so each test runs in a network
namespace of its own, where that port is free and private to the test.
"""

import re
import sys
import time
import unittest

from panelharness import Board, FONT_8X13, in_own_network, klmwire as klm, wait_until

KEYLIGHT_PORT = 3003
POLL_MS = "100"
MISSING_DEVICE = ('lampwatch: cannot open register device "/dev/fpga-reg": No such file or directory; '
                  "trying again at every poll\n")
USAGE = "usage: lampwatch [INTERVAL_MS]  (milliseconds between polls, at least 1; default 5000)\n"


def toggle_leds(board):
    return board.state()["toggle_leds"]


def start_system(board):
    """panelprime, keylight on its fixed port, then lampwatch; returns (keylight, lampwatch)."""
    if board.with_daemon:
        status, _ = board.run("PANELPRIME")
        assert status == 0
    keylight = board.start("KEYLIGHT", "panel.map", "127.0.0.1", str(KEYLIGHT_PORT))
    klm.connect(KEYLIGHT_PORT).close()
    return keylight, board.start("LAMPWATCH", POLL_MS)


class LampwatchOnTheVirtualPanel(unittest.TestCase):
    def test_in_single_supply_mode_any_plugged_supply_lights_the_psu_led(self):
        with Board(launcher_cfg=FONT_8X13 + "[psu]\nredundant=false\n") as board:
            _, lampwatch = start_system(board)
            lampwatch.wait_for_output("Setting poll interval to")
            lampwatch.wait_for_output(re.compile(r"Redundant PSU's\? +False"))
            # Indicator 1 comes on at start; with no input set the first poll sends nothing.
            wait_until(lambda: toggle_leds(board)[1], "toggle indicator 1 to light")
            self.assertFalse(toggle_leds(board)[0])

            board.set_status_inputs(1)
            wait_until(lambda: toggle_leds(board)[0], "the PSU LED to light for input 1")
            board.set_status_inputs(0)
            wait_until(lambda: not toggle_leds(board)[0], "the PSU LED to go dark with no input")
            lampwatch.wait_for_output("Error: no bits are set!!")
            board.set_status_inputs(2)
            wait_until(lambda: toggle_leds(board)[0], "the PSU LED to light for input 2")
            self.assertTrue(toggle_leds(board)[1])

    def test_in_redundant_mode_the_psu_led_needs_both_supplies(self):
        with Board(launcher_cfg=FONT_8X13 + "[psu]\nredundant=true\n") as board:
            _, lampwatch = start_system(board)
            wait_until(lambda: toggle_leds(board)[1], "toggle indicator 1 to light")
            lampwatch.wait_for_output(re.compile(r"Redundant PSU's\? +True"))

            board.set_status_inputs(3)
            wait_until(lambda: toggle_leds(board)[0], "the PSU LED to light with both supplies")
            lampwatch.wait_for_output("Both bits are set")
            board.set_status_inputs(1)
            wait_until(lambda: not toggle_leds(board)[0], "the PSU LED to go dark with one supply")
            lampwatch.wait_for_output("Dual mode error: both PSU's are not plugged in.")

    def test_without_the_device_it_keeps_running_and_still_switches_indicator_1_on(self):
        with Board(daemon=False) as board:
            keylight, lampwatch = start_system(board)
            lampwatch.wait_for_output("Creating Monitor instance...")
            lampwatch.wait_for_output("Setting poll interval to")
            # keylight (also without the device) logs the toggle message it received.
            keylight.wait_for_output(re.compile(r"opcode = +22\b"))
            self.assertTrue(lampwatch.running())

    def test_a_device_that_appears_later_is_logged_missing_once_then_lights_the_psu_led(self):
        with Board(daemon=False) as board:
            lampwatch = board.start("LAMPWATCH", POLL_MS)
            lampwatch.wait_for_output(MISSING_DEVICE)
            lampwatch.wait_for_output("cannot reach keylight")
            time.sleep(1)  # a few polls that find the device still missing
            board.start_daemon()
            board.set_status_inputs(1)
            board.start("KEYLIGHT", "panel.map", "127.0.0.1", str(KEYLIGHT_PORT))
            wait_until(lambda: toggle_leds(board) == [True, True], "the PSU LED and indicator 1")
            self.assertEqual(lampwatch.output().count(MISSING_DEVICE), 1)

    def test_refuses_help_and_an_interval_that_is_no_number_or_0_with_a_usage_line_and_status_2(self):
        with Board(daemon=False) as board:
            for argument in ("--help", "0", "fast"):
                status, output = board.run("LAMPWATCH", argument)
                self.assertEqual((status, output), (2, USAGE), argument)


if __name__ == "__main__":
    in_own_network(sys.argv)
    unittest.main(argv=sys.argv)
