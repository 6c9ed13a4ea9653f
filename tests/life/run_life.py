#!/usr/bin/env python3
"""Everyday-life checks of the real vornelplayer: floods of hot keys and media-control calls
while track pages are slow, closing and SIGTERM while a page trickles in or a track is
being saved, and pages big enough to freeze a window. Under a private Xvfb, with a private
D-Bus session bus and playerctl, against a loopback site on the player's compiled-in
addresses (run it inside a private network namespace), sound through SDL's disk driver.

Built on the end-to-end harness in tests/harness. Prints the measured figures. Exit status
0 when every check passed, 1 when one failed, 2 when the run could not be set up.
"""
import argparse
import os
import signal
import subprocess
import sys
import time

sys.dont_write_bytecode = True
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.dirname(HERE)]

from harness.audio_monitor import AudioMonitor                          # noqa: E402
from harness.checks import CheckFailed, CheckRunner, require            # noqa: E402
from harness.media_player_bus import MediaPlayerBus                     # noqa: E402
from harness.player_session import PREVIOUS_PAGE_BUTTON, WINDOW_TITLE, PlayerSession  # noqa: E402
from harness.processes import wait_until                                # noqa: E402
from harness.runner import run_checks, setup_problems                   # noqa: E402
from harness.x_session import start_display                             # noqa: E402
from life_site import PITCHES, LifeSite, anchors_page, entry_links, html_page, pitch_of, track_title  # noqa: E402,E501

TOOLS = ["Xvfb", "xdotool", "lame", "dbus-daemon", "gdbus", "playerctl"]
ERROR_BOX_TITLE = "VornelPlayer"
EXIT_BOUND = 10.0           # seconds; the goal is 1 s, a hang shows as far more
STALL_BOUND_MS = 1000       # a generous bound on the window's longest stall; the goal is 150 ms
MEMORY_BOUND_KB = 30 * 1024
PLAY_TIMEOUT = 30
HOTKEYS_FREE = 0            # x11_probe grab-hotkeys: every key could be grabbed


def resident_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def thirty_mb_page():
    """About 30 MB of text in paragraphs, each with a link off the file host, then two entries."""
    text = ("Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor incididunt ut "
            "labore et dolore magna aliqua. ") * 8
    paragraphs = "".join('<p>%s<a href="/elsewhere/%d">more</a></p>\n' % (text, n) for n in range(29000))
    return html_page(paragraphs + "<ul>%s</ul>" % entry_links(2))


class LifeChecks:
    def __init__(self, args, workdir, processes, x, bus, site):
        self.args, self.workdir, self.processes, self.x, self.bus, self.site = (
            args, workdir, processes, x, bus, site)
        self.figures = []
        self.player = None
        self.role = None            # what the running player was started for
        self.audio = None

    # --- running -------------------------------------------------------------------------

    def run_all(self):
        checks = [
            ("300 presses of the Next hot key in about a second end on the right entry, no box, flat memory",
             self.check_key_flood),
            ("200 media-control Next calls against 1 s track pages end on the right entry, no box",
             self.check_mpris_flood),
            ("SIGTERM when idle ends the player at once", lambda: self.check_ending("idle", "sigterm")),
            ("the close box while a page trickles in ends the player at once",
             lambda: self.check_ending("trickling page", "close")),
            ("SIGTERM while a page trickles in ends the player at once",
             lambda: self.check_ending("trickling page", "sigterm")),
            ("SIGTERM while a track's stream trickles in ends the player at once",
             lambda: self.check_ending("trickling stream", "sigterm")),
            ("the close box while a track is being saved ends the player; the old file stays, nothing else",
             lambda: self.check_ending("download", "close")),
            ("SIGTERM while a track is being saved ends the player; the old file stays, nothing else",
             lambda: self.check_ending("download", "sigterm")),
            ("the window answers throughout the load of a page of 100 000 links",
             lambda: self.check_big_page(2, "100 000 links")),
            ("the window answers throughout the load of a 30 MB page", lambda: self.check_big_page(3, "30 MB")),
        ]
        runner = CheckRunner(on_failure=self.print_player_output)
        for name, check in checks:
            if not self.args.only or any(word in name for word in self.args.only):
                runner.run(name, check)
        return runner

    def print_player_output(self):
        if self.player:
            print("      player output:\n%s" % self.player.output_tail(), flush=True)

    # --- helpers -------------------------------------------------------------------------

    def start_player(self, name):
        """A new player with a home of its own and its window shown; returns how often the
        front page had been asked for before it started."""
        if self.player and self.player.running():
            self.processes.stop(self.player.process)
        self.role = name
        workdir = os.path.join(self.workdir, name)
        os.makedirs(workdir)
        self.player = PlayerSession(self.args.player, workdir, self.x.display)
        self.player.env["DBUS_SESSION_BUS_ADDRESS"] = self.bus.address
        self.audio = AudioMonitor(self.player.sound_path, PITCHES)
        fronts = self.site.count("/")
        self.player.start(self.processes)
        self.player.window = self.x.find_window(WINDOW_TITLE, 30)
        require(self.player.window, "no window within 30 s")
        require(wait_until(lambda: self.bus.name_owned(), 15), "the player took no name on the bus")
        return fronts

    def wait_loaded(self, fronts):
        """Waits until the front page (two entries or more) was requested twice more and the
        playlist shows it with the first entry selected."""
        require(wait_until(lambda: self.site.count("/") >= fronts + 2, 30), "the front page was not loaded")
        require(wait_until(lambda: self.bus.property_or_none("CanGoNext") == "(<true>,)", 15),
                "the playlist shows no entries after the load")

    def error_boxes(self):
        result = self.x.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % ERROR_BOX_TITLE])
        return result.stdout.split() if result.returncode == 0 else []

    def expect_playing(self, entry, since, timeout=PLAY_TIMEOUT):
        found, summary = self.audio.wait_for_pitch(pitch_of(entry), timeout, since=since)
        require(found, "no %d Hz tone of entry %d within %d s; %s" % (pitch_of(entry), entry, timeout, summary))
        title = wait_until(lambda: self.bus.playerctl("metadata", "xesam:title") == track_title(entry), 10, 0.1)
        require(title, "the media title reads %r, expected %r"
                % (self.bus.playerctl("metadata", "xesam:title"), track_title(entry)))

    def expect_no_box(self):
        boxes = self.error_boxes()
        if boxes:
            self.x.screenshot(os.path.join(self.args.artifacts, "error-box.png"))
        require(not boxes, "%d error box(es) open" % len(boxes))

    def previous_page_button(self):
        """The middle of the "previous page" button, after moving the pointer away: xdotool
        waits for ever for a move to where the pointer already is."""
        self.x.run(["xdotool", "mousemove", "0", "0"])
        left, top, width, height = PREVIOUS_PAGE_BUTTON
        return left + width // 2, top + height // 2

    def probe(self, *args):
        return subprocess.run([self.args.probe] + list(args), env=self.x.env, capture_output=True, text=True,
                              timeout=15)

    # --- floods --------------------------------------------------------------------------

    def start_flood_player(self):
        self.site.front = anchors_page(600)
        self.site.drip_front = False
        self.site.trickle_audio_from = None
        self.wait_loaded(self.start_player("floods"))

    def check_key_flood(self):
        self.site.track_page_delay = 0.3
        self.start_flood_player()
        before_kb = resident_kb(self.player.process.pid)
        mark = len(self.site.requests())
        since = self.audio.mark()
        presses = 300
        started = time.monotonic()
        self.x.run(["xdotool", "key", "--delay", "1"] + ["ctrl+shift+w"] * presses, timeout=60)
        sent = time.monotonic() - started
        expected = 1 + presses
        require(wait_until(lambda: expected in self.site.track_pages(mark), PLAY_TIMEOUT),
                "entry %d was never resolved; track pages read: %s" % (expected, self.site.track_pages(mark)))
        self.expect_playing(expected, since)
        heard = time.monotonic() - started - sent
        time.sleep(1.0)
        pages = self.site.track_pages(mark)
        require(pages[-1] == expected, "the last track page read was %d, expected %d" % (pages[-1], expected))
        self.expect_no_box()
        grown_kb = resident_kb(self.player.process.pid) - before_kb
        require(grown_kb < MEMORY_BOUND_KB, "resident memory grew by %d kB" % grown_kb)
        self.figures.append("key flood: %d presses in %.2f s ended on entry %d (right), %d track pages read, "
                            "its tone %.1f s after the last press, resident memory %+d kB"
                            % (presses, sent, expected, len(pages), heard, grown_kb))
        return "%d track pages read: %s" % (len(pages), pages)

    def check_mpris_flood(self):
        if self.role != "floods" or not self.player.running():
            self.start_flood_player()
        self.site.track_page_delay = 1.0
        mark = len(self.site.requests())
        since = self.audio.mark()
        first = self.site.track_pages()[-1] if self.role == "floods" and self.site.track_pages() else 1
        calls, parallel = 200, 20
        started = time.monotonic()
        for _ in range(calls // parallel):
            batch = [subprocess.Popen(["playerctl", "-p", "vornelplayer", "next"], env=self.bus.env,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) for _ in range(parallel)]
            for call in batch:
                call.wait(timeout=60)
        sent = time.monotonic() - started
        expected = first + calls
        require(wait_until(lambda: expected in self.site.track_pages(mark), PLAY_TIMEOUT),
                "entry %d was never resolved; track pages read: %s" % (expected, self.site.track_pages(mark)))
        self.expect_playing(expected, since)
        time.sleep(1.5)
        pages = self.site.track_pages(mark)
        require(pages[-1] == expected, "the last track page read was %d, expected %d" % (pages[-1], expected))
        self.expect_no_box()
        self.figures.append("media-control flood: %d Next calls in %.1f s ended on entry %d (right), "
                            "%d track pages read" % (calls, sent, expected, len(pages)))
        return "%d track pages read: %s" % (len(pages), pages)

    # --- ending --------------------------------------------------------------------------

    def check_ending(self, state, how):
        self.site.front = anchors_page(5)
        self.site.track_page_delay = 0.0
        self.site.trickle_audio_from = None
        self.site.drip_front = state == "trickling page"
        fronts = self.start_player("%s-%s" % (state.replace(" ", "-"), how))
        require(self.probe("grab-hotkeys").returncode != HOTKEYS_FREE, "the player holds no hot keys")
        saved = None
        if state == "trickling page":
            require(wait_until(lambda: self.site.count("/") > fronts, 30), "the front page was never asked for")
            time.sleep(1.5)
        elif state == "idle":
            self.wait_loaded(fronts)
        elif state == "trickling stream":
            self.wait_loaded(fronts)
            self.site.trickle_audio_from = 1
            self.x.key("ctrl+shift+p")
            require(wait_until(lambda: self.site.count("/audio/1.mp3") >= 1, 15), "the track was never asked for")
            time.sleep(1.5)
        else:
            self.wait_loaded(fronts)
            saved = self.start_interrupted_download()
        self.site.drip_front = False
        started = time.monotonic()
        if how == "close":
            require(self.probe("close", str(self.player.window)).returncode == 0, "could not ask to close")
        else:
            self.player.process.send_signal(signal.SIGTERM)
        try:
            status = self.player.process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            raise CheckFailed("still running 60 s after the %s" % how)
        took = time.monotonic() - started
        self.figures.append("%s in state %s: ended %.2f s later" % (how, state, took))
        require(status == 0, "exit status %s" % status)
        require(took < EXIT_BOUND, "it took %.1f s to end" % took)
        require(self.probe("grab-hotkeys").returncode == HOTKEYS_FREE, "the hot keys are still taken")
        require(not self.bus.name_owned(), "the bus name is still taken")
        detail = "ended %.2f s after the %s" % (took, how)
        if saved:
            path, old = saved
            names = self.player.saved_files()
            require(names == [os.path.basename(path)], "the Downloads folder holds %s" % names)
            with open(path, "rb") as f:
                require(f.read() == old, "the saved file changed")
            detail += "; Downloads holds only %r, unchanged" % names[0]
        return detail

    def start_interrupted_download(self):
        """Plays entry 1, saves it once whole, then starts saving it again from a server that
        trickles. Returns the saved file's path and bytes."""
        since = self.audio.mark()
        self.x.key("ctrl+shift+p")
        self.expect_playing(1, since)
        audio = "/audio/1.mp3"
        self.x.key("ctrl+shift+d")
        require(wait_until(lambda: self.site.count(audio) >= 2, 15), "the first save never asked for the track")
        whole = self.site.tone(1)

        def saved_whole():
            for name in self.player.saved_files():
                path = os.path.join(self.player.downloads, name)
                if os.path.getsize(path) == len(whole):
                    return path
            return None
        path = wait_until(saved_whole, 20, interval=0.2)
        require(path, "the first save did not arrive whole: %s" % self.player.saved_files())
        self.site.trickle_audio_from = 3
        self.x.key("ctrl+shift+d")
        require(wait_until(lambda: self.site.count(audio) >= 3, 15), "the second save never asked for the track")
        time.sleep(1.5)
        return path, whole

    # --- big pages -----------------------------------------------------------------------

    def check_big_page(self, number, what):
        if self.role != "big pages" or not self.player.running():
            self.site.front = anchors_page(2)
            self.site.drip_front = False
            self.site.pages = {2: anchors_page(100000), 3: thirty_mb_page()}
            self.wait_loaded(self.start_player("big pages"))
            # A click on "previous page" goes from page 1 to 2, then from 2 to 3.
            for page in range(2, number):
                self.x.click(self.player.window, *self.previous_page_button())
                require(wait_until(lambda: self.site.count("/page/%d/" % page) >= 2, 60), "page %d not read" % page)
        target = "/page/%d/" % number
        probe = subprocess.Popen([self.args.ping_probe, str(self.player.window)], env=self.x.env,
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        time.sleep(0.5)
        self.x.click(self.player.window, *self.previous_page_button())
        loaded = wait_until(lambda: self.site.count(target) >= 2, 60) and wait_until(
            lambda: self.bus.property_or_none("CanGoNext") == "(<true>,)", 120, interval=0.2)
        time.sleep(0.5)
        summary, _ = probe.communicate(timeout=30)
        require(loaded, "page %d did not load; requests: %s" % (number, self.site.requests()[-5:]))
        words = summary.split()
        pings, answered, longest = int(words[1]), int(words[3]), int(words[5])
        self.figures.append("page of %s: longest window stall %d ms over %d pings" % (what, longest, pings))
        require(pings > 10 and answered == pings, "the window answered %d of %d pings" % (answered, pings))
        require(longest < STALL_BOUND_MS, "the window stalled for %d ms" % longest)
        self.expect_no_box()
        return summary.strip()


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--player", required=True)
    parser.add_argument("--probe", required=True, help="tests/e2e's x11_probe")
    parser.add_argument("--ping-probe", required=True, help="the window-answer probe")
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--only", nargs="*", help="run only the checks whose names hold one of these words")
    return parser.parse_args()


def run(args, workdir, processes):
    x = start_display(processes, workdir)
    bus = MediaPlayerBus(workdir)
    bus.start(processes)
    site = LifeSite(os.path.join(workdir, "tones"))
    try:
        site.start()
        checks = LifeChecks(args, workdir, processes, x, bus, site)
        runner = checks.run_all()
    finally:
        processes.stop_all()    # the players first, while the site still answers them
        site.stop()
    print("measured:\n  " + "\n  ".join(checks.figures))
    with open(os.path.join(args.artifacts, "figures.txt"), "w") as f:
        f.write("\n".join(checks.figures) + "\n")
    return runner


def main():
    args = parse_arguments()
    problems = setup_problems(executables=(("vornelplayer", args.player), ("x11_probe", args.probe),
                                           ("life_ping_probe", args.ping_probe)), tools=TOOLS)
    return run_checks("life checks", lambda workdir, processes: run(args, workdir, processes),
                      prefix="vornel-life-", problems=problems, artifacts=args.artifacts)


if __name__ == "__main__":
    sys.exit(main())
