#!/usr/bin/env python3
"""End-to-end checks of the real vornelplayer: a private X display with a tray host, the
demo catalogue on the player's compiled-in addresses, keys and clicks sent with xdotool,
and the sound captured through SDL's disk driver and analysed for the demo's tones.

Exit status 0 when every check passed, 1 when one failed, 2 when the run could not be set
up (the player not built, a tool missing, ...).
"""
import argparse
import os
import shutil
import signal
import sys
import tempfile
import time

sys.dont_write_bytecode = True   # keep the source folder clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from audio_monitor import AudioMonitor               # noqa: E402
from demo_catalogue import ALL_PITCHES, DemoCatalogue  # noqa: E402
from player_checks import PlayerChecks               # noqa: E402
from player_session import PlayerSession             # noqa: E402
from processes import Processes                      # noqa: E402
from x_session import XSession, start_xvfb           # noqa: E402

TOOLS = ["Xvfb", "trayer", "xdotool", "import", "lame"]


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--player", required=True, help="the vornelplayer executable")
    parser.add_argument("--demo", required=True, help="the vornel-demo executable")
    parser.add_argument("--probe", required=True, help="the x11_probe helper")
    parser.add_argument("--artifacts", required=True, help="folder for screenshots and logs of the run")
    parser.add_argument("--track-seconds", type=int, default=6)
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    return parser.parse_args()


def setup_problems(args):
    problems = []
    for label, path in (("vornelplayer", args.player), ("vornel-demo", args.demo), ("x11_probe", args.probe)):
        if not (os.path.isfile(path) and os.access(path, os.X_OK)):
            problems.append("%s is not built: %s does not exist or is not executable" % (label, path))
    problems += ["%s is not installed (./scripts/install-deps installs it)" % t for t in TOOLS if not shutil.which(t)]
    return problems


def keep_artifacts(workdir, artifacts):
    for name in ("demo-requests.log", "demo.out", "player.out", "xvfb.log"):
        source = os.path.join(workdir, name)
        if os.path.exists(source):
            shutil.copy(source, os.path.join(artifacts, name))


def write_summary(results, artifacts):
    lines = ["%s  %s%s" % ("PASS" if ok else "FAIL", name, ("\n      " + detail.replace("\n", "\n      ")) if detail else "")
             for name, ok, detail in results]
    text = "\n".join(lines) + "\n%d of %d checks passed\n" % (sum(1 for _, ok, _ in results if ok), len(results))
    with open(os.path.join(artifacts, "summary.txt"), "w") as f:
        f.write(text)
    return text


def run(args, workdir, processes):
    xvfb_log = open(os.path.join(workdir, "xvfb.log"), "w")
    display = start_xvfb(processes, xvfb_log)
    x = XSession(display, os.environ)
    x.start_tray(processes, xvfb_log)
    demo = DemoCatalogue(args.demo, workdir, args.track_seconds)
    demo.start(processes)
    player = PlayerSession(args.player, workdir, display)
    audio = AudioMonitor(player.sound_path, ALL_PITCHES)
    print("display %s, demo ready, starting %s" % (display, args.player), flush=True)
    started = time.monotonic()
    player.start(processes)
    checks = PlayerChecks(x, demo, player, audio, args.probe, args.artifacts)
    results = checks.run_all()
    print("checks took %.1f s" % (time.monotonic() - started), flush=True)
    if not all(ok for _, ok, _ in results):
        print("--- player output (last lines) ---\n%s\n--- demo requests (last lines) ---\n%s"
              % (player.output_tail(), demo.tail()), flush=True)
    return results


def stop_on_signal(number, _frame):
    raise SystemExit("stopped by signal %d" % number)


def main():
    signal.signal(signal.SIGTERM, stop_on_signal)
    signal.signal(signal.SIGHUP, stop_on_signal)
    args = parse_arguments()
    problems = setup_problems(args)
    if problems:
        print("the end-to-end checks cannot run:\n  " + "\n  ".join(problems), flush=True)
        return 2
    shutil.rmtree(args.artifacts, ignore_errors=True)
    os.makedirs(args.artifacts)
    workdir = tempfile.mkdtemp(prefix="vornel-e2e-")
    processes = Processes()
    try:
        results = run(args, workdir, processes)
    except RuntimeError as error:
        print("the end-to-end run could not be set up: %s" % error, flush=True)
        return 2
    finally:
        processes.stop_all()
        keep_artifacts(workdir, args.artifacts)
        if args.keep:
            print("temporary folder kept: %s" % workdir)
        else:
            shutil.rmtree(workdir, ignore_errors=True)
    print(write_summary(results, args.artifacts), end="")
    print("artifacts in %s" % args.artifacts)
    return 0 if all(ok for _, ok, _ in results) else 1


if __name__ == "__main__":
    sys.exit(main())
