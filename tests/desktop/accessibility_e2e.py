#!/usr/bin/env python3
"""The real player as a screen reader sees it: the AT-SPI bus of a private session bus,
the player under Xvfb with Qt's accessibility bridge on, and pyatspi as the client. It lists
the accessible tree and checks each control's name, role and description, the playlist's
entries, the seek bar's value in seconds (also set through AT-SPI), and the order in which
Tab visits the controls.

Built on the end-to-end harness in tests/harness. Runs with Debian's python3, where
python3-pyatspi lives. Exit status 0 when every check passed, 1 when one failed, 2 when the
run could not be set up.
"""
import argparse
import os
import subprocess
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from harness.checks import CheckRunner, require                       # noqa: E402
from harness.demo_catalogue import CATALOGUE, FILE_HOST, DemoCatalogue  # noqa: E402
from harness.player_session import WINDOW_TITLE, PlayerSession        # noqa: E402
from harness.processes import wait_until                              # noqa: E402
from harness.runner import run_checks, setup_problems                 # noqa: E402
from harness.session_bus import SessionBus                            # noqa: E402
from harness.x_session import start_display                           # noqa: E402

BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
TOOLS = ["Xvfb", "xdotool", "lame", "dbus-daemon", "gdbus"]
APP_NAME = "VornelPlayer"

# Every control: its accessible name and AT-SPI role, in the order Tab visits them.
CONTROLS = [
    ("Seek", "slider"),
    ("Previous track", "push button"),
    ("Pause or play", "push button"),
    ("Next track", "push button"),
    ("Download", "push button"),
    ("Download folder", "text"),
    ("Use smaller chunks", "check box"),
    ("Playlist", "list"),
    ("Previous page", "push button"),
    ("Next page", "push button"),
]

class AccessibleTree:
    """The player's accessible objects, read through pyatspi."""

    def __init__(self, pyatspi):
        self.pyatspi = pyatspi

    def application(self):
        desktop = self.pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and app.name == APP_NAME:
                return app
        return None

    def window(self):
        app = self.application()
        if app is None:
            return None
        for i in range(app.childCount):
            child = app.getChildAtIndex(i)
            if child is not None and child.name == WINDOW_TITLE:
                return child
        return None

    def nodes(self):
        """Every object under the main window, depth first."""
        found = []

        def walk(node):
            found.append(node)
            for i in range(node.childCount):
                child = node.getChildAtIndex(i)
                if child is not None:
                    walk(child)
        window = self.window()
        if window is not None:
            walk(window)
        return found

    def named(self, name):
        matches = [n for n in self.nodes() if n.name == name]
        return matches[0] if len(matches) == 1 else None

    def focused_name(self):
        """The control that has the keyboard focus (an entry of a focused list counts as the
        list), or None."""
        focused = self.pyatspi.STATE_FOCUSED
        names = [n.name for n in self.nodes() if n.getState().contains(focused) and n.getRoleName() != "list item"]
        return names[0] if len(names) == 1 else None

    @staticmethod
    def value(node):
        v = node.queryValue()
        return v.currentValue, v.maximumValue


class AccessibilityChecks:
    def __init__(self, x, tree, demo, player):
        self.x, self.tree, self.demo, self.player = x, tree, demo, player

    def run_all(self):
        """Runs every check; returns the CheckRunner with their results."""
        # pyatspi raises its own kinds when an object goes away: all of them are harness errors.
        runner = CheckRunner(harness_errors=Exception)
        for name, check in [
            ("the player's window is in the accessible tree", self.check_window),
            ("each control has its name, role and a description", self.check_controls),
            ("the playlist lists the page's entries by their texts", self.check_playlist),
            ("pressing \"Pause or play\" plays; the seek bar counts seconds", self.check_seek_seconds),
            ("setting the seek bar's value seeks to that second", self.check_seek_set),
            ("Tab visits the controls in the order they stand", self.check_tab_order),
        ]:
            runner.run(name, check)
        return runner

    def check_window(self):
        self.player.window = self.x.find_window(WINDOW_TITLE, 30)
        require(self.player.window, "no visible window titled %r" % WINDOW_TITLE)
        window = wait_until(self.tree.window, 30, interval=0.2)
        require(window is not None, "no accessible application %r with a window %r" % (APP_NAME, WINDOW_TITLE))
        return "%d objects under the window" % len(self.tree.nodes())

    def check_controls(self):
        seen = []
        for name, role in CONTROLS:
            node = self.tree.named(name)
            require(node is not None, "no single object named %r; names: %s"
                    % (name, sorted({n.name for n in self.tree.nodes() if n.name})))
            require(node.getRoleName() == role, "%r has the role %r, not %r" % (name, node.getRoleName(), role))
            require(len(node.description) > 10, "%r has no description (%r)" % (name, node.description))
            seen.append("%s: %s" % (name, role))
        # No control is named by punctuation alone, as the captions "<" and "| | >" would be.
        buttons = [n for n in self.tree.nodes() if n.getRoleName() in ("push button", "slider", "check box")]
        for node in buttons:
            require(any(c.isalpha() for c in node.name), "a %s is named %r" % (node.getRoleName(), node.name))
        return "; ".join(seen)

    def check_playlist(self):
        require(self.demo.wait_for_count(CATALOGUE, "/", 2, 30), "page 1 was not loaded")
        playlist = self.tree.named("Playlist")

        def entries():
            return [playlist.getChildAtIndex(i) for i in range(playlist.childCount)]
        require(wait_until(lambda: len(entries()) == 10, 20, interval=0.2),
                "the playlist has %d accessible entries, not 10" % len(entries()))
        first = entries()[0]
        require(first.getRoleName() == "list item", "an entry has the role %r" % first.getRoleName())
        require(first.name.startswith("Demo Band - Track 01"), "the first entry reads %r" % first.name)
        return "first entry %r" % first.name

    def check_seek_seconds(self):
        self.tree.named("Pause or play").queryAction().doAction(0)
        seek = self.tree.named("Seek")
        require(self.demo.wait_for_count(FILE_HOST, "/audio/01.mp3", 1, 25), "Track 01 was not fetched")
        length = self.demo.track_seconds
        counted = wait_until(lambda: abs(self.tree.value(seek)[1] - length) < 1.0 and self.tree.value(seek), 25,
                             interval=0.2)
        require(counted, "the seek bar's maximum reads %s, the track lasts %d s" % (self.tree.value(seek)[1], length))
        first = self.tree.value(seek)[0]
        time.sleep(1.5)
        second = self.tree.value(seek)[0]
        require(0 <= first < second <= length, "the seek bar's value went from %.2f to %.2f" % (first, second))
        return "value %.2f s then %.2f s of %.2f s" % (first, second, self.tree.value(seek)[1])

    def check_seek_set(self):
        seek = self.tree.named("Seek")
        target = 10.0
        seek.queryValue().currentValue = target
        moved = wait_until(lambda: target <= self.tree.value(seek)[0] < target + 3, 10, interval=0.1)
        require(moved, "the seek bar's value is %.2f after setting it to %.1f" % (self.tree.value(seek)[0], target))
        return "set to %.1f s, reads %.2f s" % (target, self.tree.value(seek)[0])

    def check_tab_order(self):
        # Previous track is disabled on the first entry and takes no focus.
        expected = [name for name, _ in CONTROLS if name != "Previous track"]
        self.x.focus(self.player.window)
        visited = [self.tree.focused_name()]
        for _ in range(2 * len(expected)):
            self.x.key("Tab")
            moved = wait_until(lambda: self.tree.focused_name() not in (None, visited[-1]), 3, interval=0.05)
            visited.append(self.tree.focused_name() if moved else None)
        # One whole round, from wherever the focus started.
        require(expected[0] in visited, "Tab never reached %r: %s" % (expected[0], visited))
        start = visited.index(expected[0])
        round_trip = visited[start:start + len(expected)]
        require(round_trip == expected, "Tab visits %s, expected %s" % (round_trip, expected))
        return " > ".join(round_trip)


def have_pyatspi():
    """Without importing it: pyatspi connects to the AT-SPI bus it finds when imported."""
    import importlib.util
    return importlib.util.find_spec("pyatspi") is not None


def run(args, workdir, processes):
    x = start_display(processes, workdir)
    bus = SessionBus(workdir)
    bus.start(processes)
    address = bus.address
    runtime = os.path.join(workdir, "runtime")
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    # The AT-SPI bus of this session: its socket in the run's own runtime folder.
    a11y_env = dict(x.env, DBUS_SESSION_BUS_ADDRESS=address, XDG_RUNTIME_DIR=runtime)
    log = open(os.path.join(workdir, "at-spi.out"), "w")
    processes.start("at-spi-bus-launcher", [BUS_LAUNCHER, "--launch-immediately"], env=a11y_env, stdout=log,
                    stderr=subprocess.STDOUT)
    log.close()
    found = wait_until(lambda: subprocess.run(
        ["gdbus", "call", "--session", "--dest", "org.a11y.Bus", "--object-path", "/org/a11y/bus", "--method",
         "org.a11y.Bus.GetAddress"], env=a11y_env, capture_output=True, timeout=10).returncode == 0, 15, 0.2)
    if not found:
        raise RuntimeError("at-spi-bus-launcher did not start")
    os.environ.update(a11y_env)   # pyatspi finds the AT-SPI bus through these
    import pyatspi
    demo = DemoCatalogue(args.demo, workdir, args.track_seconds)
    demo.start(processes)
    player = PlayerSession(args.player, workdir, x.display)
    # The bridge is on as a screen reader turns it on; the desktop setting behind
    # org.a11y.Status is not there in a bare session.
    player.env.update({"DBUS_SESSION_BUS_ADDRESS": address, "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1"})
    player.start(processes)
    checks = AccessibilityChecks(x, AccessibleTree(pyatspi), demo, player).run_all()
    if not checks.all_passed():
        print("--- player output ---\n%s\n--- demo requests ---\n%s" % (player.output_tail(), demo.tail()), flush=True)
    return checks


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--player", required=True)
    parser.add_argument("--demo", required=True)
    parser.add_argument("--track-seconds", type=int, default=15)
    args = parser.parse_args()
    problems = setup_problems(executables=(("vornelplayer", args.player), ("vornel-demo", args.demo)),
                              tools=TOOLS, installed=(("at-spi2-core", BUS_LAUNCHER),))
    if not have_pyatspi():
        problems.append("python3-pyatspi is not installed for %s" % sys.executable)
    return run_checks("accessibility checks", lambda workdir, processes: run(args, workdir, processes),
                      prefix="vornel-a11y-e2e-", problems=problems)


if __name__ == "__main__":
    sys.exit(main())
