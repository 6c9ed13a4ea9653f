#!/usr/bin/env python3
"""SIGTERM and SIGINT end the real vornelplayer as its close box does: exit status 0 and
the hot keys free again. Runs the player under a private Xvfb; no catalogue is needed
(a page load that fails is dropped silently).

Exit status 0 when every case passed, 1 when one failed, 2 when the run could not be set up.
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from player_session import WINDOW_TITLE, PlayerSession  # noqa: E402
from processes import Processes                        # noqa: E402
from x_session import XSession, start_xvfb             # noqa: E402

HOTKEYS_FREE, HOTKEYS_TAKEN = 0, 1      # x11_probe grab-hotkeys exit statuses


def run_case(number, args, display, x, processes):
    workdir = tempfile.mkdtemp(prefix="vornel-signal-")
    try:
        player = PlayerSession(args.player, workdir, display)
        process = player.start(processes)
        if not x.find_window(WINDOW_TITLE, 30):
            return "no window within 30 s; output:\n" + player.output_tail()
        probe = [args.probe, "grab-hotkeys"]
        taken = x.run(probe)
        if taken.returncode != HOTKEYS_TAKEN:
            return "the hot keys were not held while the player ran: %s" % taken.stdout.split("\n")
        process.send_signal(number)
        try:
            status = process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            return "still running 20 s after the signal"
        if status != 0:
            return "exit status %s; output:\n%s" % (status, player.output_tail())
        free = x.run(probe)
        if free.returncode != HOTKEYS_FREE:
            return "hot keys still taken after the exit: %s" % free.stdout.split("\n")
        return None
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--player", required=True)
    parser.add_argument("--probe", required=True)
    args = parser.parse_args()
    missing = [t for t in ("Xvfb", "xdotool") if not shutil.which(t)]
    if missing or not os.access(args.player, os.X_OK):
        print("cannot run: missing %s" % (missing or args.player), flush=True)
        return 2
    processes = Processes()
    failures = 0
    try:
        with open(os.devnull, "w") as log:
            display = start_xvfb(processes, log)
        x = XSession(display, os.environ)
        for number in (signal.SIGTERM, signal.SIGINT):
            problem = run_case(number, args, display, x, processes)
            print("%s  %s ends the player with status 0 and frees its hot keys%s"
                  % ("FAIL" if problem else "PASS", number.name, "\n      " + problem if problem else ""), flush=True)
            failures += bool(problem)
    finally:
        processes.stop_all()
    print("%d passed, %d failed" % (2 - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
