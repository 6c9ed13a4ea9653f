#!/usr/bin/env python3
"""SIGTERM and SIGINT end the real vornelplayer as its close box does: exit status 0 and
the hot keys free again. Runs the player under a private Xvfb; no catalogue is needed
(a page load that fails is dropped silently).

Exit status 0 when every case passed, 1 when one failed, 2 when the run could not be set up.
"""
import argparse
import os
import signal
import subprocess
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from harness.checks import CheckFailed, CheckRunner, require      # noqa: E402
from harness.player_session import WINDOW_TITLE, PlayerSession   # noqa: E402
from harness.runner import run_checks, setup_problems            # noqa: E402
from harness.x_session import start_display                      # noqa: E402

HOTKEYS_FREE, HOTKEYS_TAKEN = 0, 1      # x11_probe grab-hotkeys exit statuses


def check_signal_ends_player(number, args, workdir, x, processes):
    player = PlayerSession(args.player, os.path.join(workdir, number.name), x.display)
    process = player.start(processes)
    require(x.find_window(WINDOW_TITLE, 30), "no window within 30 s; output:\n" + player.output_tail())
    probe = [args.probe, "grab-hotkeys"]
    taken = x.run(probe)
    require(taken.returncode == HOTKEYS_TAKEN, "the hot keys were not held while the player ran: %s"
            % taken.stdout.split("\n"))
    process.send_signal(number)
    try:
        status = process.wait(timeout=20)
    except subprocess.TimeoutExpired:
        raise CheckFailed("still running 20 s after the signal")
    require(status == 0, "exit status %s; output:\n%s" % (status, player.output_tail()))
    free = x.run(probe)
    require(free.returncode == HOTKEYS_FREE, "hot keys still taken after the exit: %s" % free.stdout.split("\n"))
    return ""


def run(args, workdir, processes):
    x = start_display(processes, workdir)
    runner = CheckRunner()
    for number in (signal.SIGTERM, signal.SIGINT):
        runner.run("%s ends the player with status 0 and frees its hot keys" % number.name,
                   lambda: check_signal_ends_player(number, args, workdir, x, processes))
    return runner


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--player", required=True)
    parser.add_argument("--probe", required=True)
    args = parser.parse_args()
    problems = setup_problems(executables=(("vornelplayer", args.player), ("x11_probe", args.probe)),
                              tools=("Xvfb", "xdotool"))
    return run_checks("quit-signal checks", lambda workdir, processes: run(args, workdir, processes),
                      prefix="vornel-signal-", problems=problems)


if __name__ == "__main__":
    sys.exit(main())
