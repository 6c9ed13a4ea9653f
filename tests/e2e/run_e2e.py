#!/usr/bin/env python3
"""End-to-end checks of the real vornelplayer: a private X display with a tray host, the
demo catalogue on the player's compiled-in addresses, keys and clicks sent with xdotool,
and the sound captured through SDL's disk driver and analysed for the demo's tones.

Exit status 0 when every check passed, 1 when one failed, 2 when the run could not be set
up (the player not built, a tool missing, ...).
"""
import argparse
import os
import sys
import time

sys.dont_write_bytecode = True   # keep the source folder clean
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.dirname(HERE)]

from harness.audio_monitor import AudioMonitor                 # noqa: E402
from harness.demo_catalogue import ALL_PITCHES, DemoCatalogue  # noqa: E402
from harness.player_session import PlayerSession               # noqa: E402
from harness.runner import run_checks, setup_problems          # noqa: E402
from harness.x_session import start_display                    # noqa: E402
from player_checks import PlayerChecks                         # noqa: E402

TOOLS = ["Xvfb", "trayer", "xdotool", "import", "lame"]
KEPT_FILES = ("demo-requests.log", "demo.out", "player.out", "xvfb.log")


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--player", required=True, help="the vornelplayer executable")
    parser.add_argument("--demo", required=True, help="the vornel-demo executable")
    parser.add_argument("--probe", required=True, help="the x11_probe helper")
    parser.add_argument("--artifacts", required=True, help="folder for screenshots and logs of the run")
    parser.add_argument("--track-seconds", type=int, default=6)
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    return parser.parse_args()


def run(args, workdir, processes):
    x = start_display(processes, workdir, tray=True)
    demo = DemoCatalogue(args.demo, workdir, args.track_seconds)
    demo.start(processes)
    player = PlayerSession(args.player, workdir, x.display)
    audio = AudioMonitor(player.sound_path, ALL_PITCHES)
    print("display %s, demo ready, starting %s" % (x.display, args.player), flush=True)
    started = time.monotonic()
    player.start(processes)
    checks = PlayerChecks(x, demo, player, audio, args.probe, args.artifacts).run_all()
    print("checks took %.1f s" % (time.monotonic() - started), flush=True)
    if not checks.all_passed():
        print("--- player output (last lines) ---\n%s\n--- demo requests (last lines) ---\n%s"
              % (player.output_tail(), demo.tail()), flush=True)
    return checks


def main():
    args = parse_arguments()
    problems = setup_problems(executables=(("vornelplayer", args.player), ("vornel-demo", args.demo),
                                           ("x11_probe", args.probe)), tools=TOOLS)
    return run_checks("end-to-end checks", lambda workdir, processes: run(args, workdir, processes),
                      prefix="vornel-e2e-", problems=problems, artifacts=args.artifacts, keep_files=KEPT_FILES,
                      keep=args.keep)


if __name__ == "__main__":
    sys.exit(main())
