#!/usr/bin/env python3
"""Measures how long vornelplayer takes from launch to a filled playlist against the demo
catalogue: the time until the demo has served page 1 for the second time (the link
extraction's request, after which the playlist is filled), and until the window is shown.
Runs the player several times on a private X display and prints the median and range."""
import argparse
import os
import statistics
import subprocess
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from harness.demo_catalogue import CATALOGUE, DemoCatalogue     # noqa: E402
from harness.player_session import WINDOW_TITLE, PlayerSession  # noqa: E402
from harness.processes import Processes, stop_on_signals        # noqa: E402
from harness.work_folder import WorkFolder                      # noqa: E402
from harness.x_session import start_display                     # noqa: E402


def one_launch(args, workdir, x, demo, processes, round_number):
    player = PlayerSession(args.player, os.path.join(workdir, "run%d" % round_number), x.display)
    served_before = demo.count(CATALOGUE, "/")
    window = shown = filled = None
    started = time.monotonic()
    player.start(processes)
    # One loop watches both: the request log is cheap to read, the window search costs a
    # few milliseconds per call.
    while time.monotonic() - started < 30 and (window is None or filled is None):
        if filled is None and demo.count(CATALOGUE, "/") >= served_before + 2:
            filled = time.monotonic() - started
        if window is None:
            window = x.find_window(WINDOW_TITLE, 0)
            if window:
                shown = time.monotonic() - started
        time.sleep(0.005)
    if window:
        subprocess.run([args.probe, "close", str(window)], env=x.env, timeout=15)
    try:
        player.process.wait(timeout=20)
    except subprocess.TimeoutExpired:
        processes.stop(player.process)
    if window is None or filled is None:
        raise RuntimeError("launch %d: window %s, page 1 served %d times; output: %s"
                           % (round_number, window, demo.count(CATALOGUE, "/") - served_before, player.output_tail()))
    return shown, filled


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--player", required=True)
    parser.add_argument("--demo", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--goal", type=float, default=2.0, help="seconds to a filled playlist")
    args = parser.parse_args()
    for path in (args.player, args.demo, args.probe):
        if not os.access(path, os.X_OK):
            print("start-up: not measured, %s is not built" % path)
            return 2
    stop_on_signals()
    try:
        with WorkFolder("vornel-startup-") as workdir, Processes() as processes:
            x = start_display(processes, workdir, tray=True)
            demo = DemoCatalogue(args.demo, workdir, 20)
            demo.start(processes)
            results = [one_launch(args, workdir, x, demo, processes, i) for i in range(args.rounds)]
    except RuntimeError as error:
        print("start-up: not measured: %s" % error)
        return 1
    shown = [s for s, _ in results]
    filled = [f for _, f in results]
    print("start-up, launch to window shown: median %.3f s (min %.3f, max %.3f) over %d launches"
          % (statistics.median(shown), min(shown), max(shown), len(shown)))
    median = statistics.median(filled)
    print("start-up, launch to filled playlist: median %.3f s (min %.3f, max %.3f); goal: under %.1f s -> %s"
          % (median, min(filled), max(filled), args.goal, "met" if median < args.goal else "NOT met"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
