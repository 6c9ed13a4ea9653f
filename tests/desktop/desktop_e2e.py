#!/usr/bin/env python3
"""End-to-end checks of the player's desktop integration on a Wayland-like session: a
private D-Bus session bus with the real xdg-desktop-portal frontend in front of a test
backend for global shortcuts, the real vornelplayer under Xvfb against the demo catalogue,
sound captured through SDL's disk driver, and playerctl, gdbus and dbus-monitor as the
desktop's media controls.

Built on the end-to-end harness in tests/harness. Exit status 0 when every check
passed, 1 when one failed, 2 when the run could not be set up.
"""
import argparse
import os
import re
import subprocess
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from harness.audio_monitor import AudioMonitor                                 # noqa: E402
from harness.checks import CheckFailed, CheckRunner, require                   # noqa: E402
from harness.demo_catalogue import ALL_PITCHES, CATALOGUE, FILE_HOST, DemoCatalogue, pitch_of  # noqa: E402
from harness.media_player_bus import MPRIS_PATH, MediaPlayerBus                # noqa: E402
from harness.player_session import PREVIOUS_PAGE_BUTTON, WINDOW_TITLE, PlayerSession  # noqa: E402
from harness.processes import wait_until                                       # noqa: E402
from harness.runner import run_checks, setup_problems                          # noqa: E402
from harness.session_bus import read                                           # noqa: E402
from harness.x_session import start_display                                    # noqa: E402

TOOLS = ["Xvfb", "trayer", "xdotool", "xwininfo", "lame", "dbus-daemon", "dbus-monitor", "gdbus", "playerctl"]
PORTAL_FRONTEND = "/usr/libexec/xdg-desktop-portal"
BACKEND_NAME = "org.freedesktop.impl.portal.desktop.vorneltest"
PLAY_TIMEOUT = 25
QUICK = 5                   # seconds for an action to reach the demo; tracks last 15
SHORTCUTS = {"download": "CTRL+SHIFT+d", "next": "CTRL+SHIFT+w", "previous": "CTRL+SHIFT+q",
             "pause": "CTRL+SHIFT+p"}
SEEK_BAR = (456 + 3, 211 + 31, 275, 29)   # x, y, width, height in the client area
KEPT_FILES = ("player.out", "portal.out", "portal-backend.out", "dbus-monitor.out", "demo-requests.log")
TRACK_ID = re.compile(r"^/org/vornelplayer/track/\d+$")
# The tray icon's window as xwininfo -tree lists it: its size and its place on the screen.
TRAY_ICON = re.compile(r'"VornelPlayer": \("vornelplayer" "VornelPlayer"\)\s+(\d+)x(\d+)[+-]\d+[+-]\d+\s+\+(-?\d+)\+(-?\d+)')

PORTAL_FILE = """[portal]
DBusName=%s
Interfaces=org.freedesktop.impl.portal.GlobalShortcuts;
UseIn=vorneltest
""" % BACKEND_NAME


class DesktopBus(MediaPlayerBus):
    """The private session bus with the portal frontend and its test backend on it, and a
    monitor of the player's signals."""

    def __init__(self, workdir, backend):
        super().__init__(workdir)
        self.backend = backend
        self.backend_out = os.path.join(workdir, "portal-backend.out")
        self.monitor_out = os.path.join(workdir, "dbus-monitor.out")

    def start(self, processes):
        super().start(processes)
        out = open(self.backend_out, "w")
        processes.start("portal backend", [self.backend], env=self.env, stdout=out, stderr=subprocess.STDOUT)
        out.close()
        if not wait_until(lambda: "ready" in read(self.backend_out), 10):
            raise RuntimeError("the portal test backend did not start: %s" % read(self.backend_out))
        portals = os.path.join(self.workdir, "portals")
        os.makedirs(portals)
        with open(os.path.join(portals, "vorneltest.portal"), "w") as f:
            f.write(PORTAL_FILE)
        portal_env = dict(self.env, XDG_DESKTOP_PORTAL_DIR=portals, XDG_CURRENT_DESKTOP="vorneltest")
        log = open(os.path.join(self.workdir, "portal.out"), "w")
        processes.start("xdg-desktop-portal", [PORTAL_FRONTEND, "-v"], env=portal_env, stdout=log,
                        stderr=subprocess.STDOUT)
        log.close()
        if not wait_until(lambda: self.portal_version() is not None, 15, interval=0.2):
            raise RuntimeError("the portal frontend offers no GlobalShortcuts: %s"
                               % read(os.path.join(self.workdir, "portal.out"))[-2000:])
        out = open(self.monitor_out, "w")
        processes.start("dbus-monitor", ["dbus-monitor", "--address", self.address,
                                         "type='signal',path='%s'" % MPRIS_PATH], stdout=out)
        out.close()

    def portal_version(self):
        result = self.run(["gdbus", "call", "--session", "--dest", "org.freedesktop.portal.Desktop",
                           "--object-path", "/org/freedesktop/portal/desktop", "--method",
                           "org.freedesktop.DBus.Properties.Get", "org.freedesktop.portal.GlobalShortcuts",
                           "version"])
        return result.stdout.strip() if result.returncode == 0 else None

    def press(self, shortcut):
        return self.run(["gdbus", "call", "--session", "--dest", BACKEND_NAME, "--object-path",
                         "/org/freedesktop/portal/desktop", "--method", "org.vornel.PortalTest.Press", shortcut])

    def bound_shortcuts(self):
        """{id: trigger} of every shortcut the backend was asked to bind."""
        bound = {}
        for line in read(self.backend_out).splitlines():
            parts = line.split(" ", 3)
            if parts[0] == "bound" and len(parts) >= 3:
                bound[parts[1]] = parts[2]
        return bound

    def bind_count(self):
        return sum(1 for line in read(self.backend_out).splitlines() if line.startswith("bound "))

    def monitored(self):
        return read(self.monitor_out)


class DesktopChecks:
    def __init__(self, x, bus, demo, player, audio, probe):
        self.x, self.bus, self.demo, self.player, self.audio, self.probe = x, bus, demo, player, audio, probe

    def run_all(self):
        """Runs every check; returns the CheckRunner with their results."""
        runner = CheckRunner()
        for name, check in [
            ("start: the window, a filled playlist, and vornelplayer on the bus, stopped", self.check_start),
            ("the portal session binds the four shortcuts; no X11 key grabs", self.check_portal_bound),
            ("play-pause plays the selected entry (Track 01, 330 Hz) and shows it", self.check_play),
            ("play-pause pauses (silence) and resumes (330 Hz again), announced", self.check_pause_resume),
            ("the portal's Activated for \"next\" plays the next entry (Track 02, 440 Hz)", self.check_portal_next),
            ("position follows playback and SetPosition moves it", self.check_position),
            ("Volume 0.3 reads back, is announced and heard at 0.3; a string is refused", self.check_volume),
            ("Rate 0.0 pauses", self.check_rate_zero),
            ("next plays Track 03 (550 Hz), previous Track 02 (440 Hz)", self.check_next_previous),
            ("track ids differ across a page change, for the same row", self.check_ids_across_pages),
            ("stop frees the stream: silence, Stopped, no track", self.check_stop),
            ("on an empty page CanPlay is false and Play does nothing", self.check_empty_page),
            ("a second start raises the hidden player and exits 0 without a window", self.check_second_start),
            ("Quit closes the player with exit status 0", self.check_quit),
        ]:
            runner.run(name, check, blocker=None if check == self.check_quit else self.player.not_running())
        return runner

    # --- helpers -------------------------------------------------------------------------

    def expect_pitch(self, track_id, since, timeout=PLAY_TIMEOUT):
        found, summary = self.audio.wait_for_pitch(pitch_of(track_id), timeout, since=since)
        require(found, "no %d Hz tone of track %02d within %d s; %s" % (pitch_of(track_id), track_id, timeout, summary))

    def expect_status(self, status, timeout=10):
        seen = wait_until(lambda: self.bus.playerctl("status") == status, timeout, interval=0.1)
        require(seen, "status is %r, expected %r" % (self.bus.playerctl("status"), status))

    def expect_title(self, track_id, timeout=10):
        """The entry "<artist> - Track NN (F Hz)" shows as its artist and its title."""
        expected = "Track %02d (%d Hz)" % (track_id, pitch_of(track_id))
        title = wait_until(lambda: self.bus.playerctl("metadata", "xesam:title") == expected and expected,
                           timeout, interval=0.1)
        require(title, "metadata title is %r, expected %r" % (self.bus.playerctl("metadata", "xesam:title"), expected))
        artist = self.bus.playerctl("metadata", "xesam:artist")
        require(artist in ("Demo Band", "Demo Band & Friends"), "metadata artist is %r" % artist)
        return "%s / %s" % (artist, title)

    def track_id(self):
        return (self.bus.playerctl("metadata", "mpris:trackid") or "").strip("'\"")

    def tone_level(self, since, windows=3, timeout=10, accept=lambda rms: True):
        """The median loudness of the first `windows` toned stretches since the mark whose level
        accept() takes, or None."""
        def levels():
            found = [w.rms for w in self.audio.windows_since(since) if w.pitch and accept(w.rms)]
            return found if len(found) >= windows else None
        found = wait_until(levels, timeout, interval=0.1)
        return sorted(found[:windows])[windows // 2] if found else None

    def click_previous_page(self, page):
        left, top, width, height = PREVIOUS_PAGE_BUTTON
        before = self.demo.count(CATALOGUE, "/page/%d/" % page)
        # Not x.click: its --sync would wait for a motion that never comes when the pointer is
        # already there from the click before.
        self.x.run(["xdotool", "mousemove", "--window", str(self.player.window), str(left + width // 2),
                    str(top + height // 2), "click", "1"], check=True)
        require(self.demo.wait_for_count(CATALOGUE, "/page/%d/" % page, before + 2, 20),
                "page %d was not loaded" % page)

    def tray_icon_centre(self):
        listing = self.x.run(["xwininfo", "-root", "-tree"]).stdout
        for width, height, x, y in TRAY_ICON.findall(listing):
            if int(width) < 64:      # not the main window or the overlay
                return int(x) + int(width) // 2, int(y) + int(height) // 2
        return None

    # --- checks --------------------------------------------------------------------------

    def check_start(self):
        self.player.window = self.x.find_window(WINDOW_TITLE, 30)
        require(self.player.window, "no visible window titled %r within 30 s" % WINDOW_TITLE)
        require(self.demo.wait_for_count(CATALOGUE, "/", 2, 30), "page 1 was not loaded")
        listed = wait_until(lambda: "vornelplayer" in (self.bus.run(["playerctl", "-l"]).stdout or ""), 15)
        require(listed, "playerctl -l does not list vornelplayer")
        self.expect_status("Stopped")
        identity = self.bus.property("org.mpris.MediaPlayer2", "Identity") or ""
        require("VornelPlayer" in identity, "Identity reads %r" % identity)
        require(self.bus.player_property("CanGoPrevious") == "(<false>,)", "CanGoPrevious at the first entry: %s"
                % self.bus.player_property("CanGoPrevious"))
        require(self.bus.player_property("CanGoNext") == "(<true>,)", "CanGoNext at the first entry: %s"
                % self.bus.player_property("CanGoNext"))
        return ""

    def check_portal_bound(self):
        bound = wait_until(lambda: self.bus.bound_shortcuts() if len(self.bus.bound_shortcuts()) >= 4 else None, 10)
        require(bound == SHORTCUTS, "bound %s, expected %s" % (self.bus.bound_shortcuts(), SHORTCUTS))
        probe = subprocess.run([self.probe, "grab-hotkeys"], env=self.x.env, capture_output=True, text=True,
                               timeout=15)
        require(probe.returncode == 0, "the player grabbed keys on X11 as well: %s" % probe.stdout.split("\n"))
        return ""

    def check_play(self):
        since = self.audio.mark()
        require(self.bus.playerctl("play-pause") is not None, "playerctl play-pause failed")
        self.expect_pitch(1, since)
        self.expect_status("Playing")
        title = self.expect_title(1)
        url = self.bus.playerctl("metadata", "xesam:url") or ""
        require(url.endswith("/audio/01.mp3"), "xesam:url is %r" % url)
        length = int(self.bus.playerctl("metadata", "mpris:length") or "0")
        expected = self.demo.track_seconds * 1000000
        require(abs(length - expected) < 1000000, "mpris:length %d us, the track lasts %d us" % (length, expected))
        return "title %r, length %d us" % (title, length)

    def check_pause_resume(self):
        since = self.audio.mark()
        self.bus.playerctl("play-pause")
        silent, how = self.audio.wait_for_silence(10, since=since)
        require(silent, "no silence after play-pause; %s" % self.audio.summary(since))
        self.expect_status("Paused")
        since = self.audio.mark()
        self.bus.playerctl("play-pause")
        self.expect_pitch(1, since, timeout=10)
        self.expect_status("Playing")
        require(self.demo.count(FILE_HOST, "/audio/01.mp3") == 1, "resuming fetched the track again")
        signals = self.bus.monitored()
        for text in ('"PlaybackStatus"', 'string "Paused"', 'string "Playing"', '"Metadata"'):
            require(text in signals, "no PropertiesChanged with %s seen by dbus-monitor" % text)
        return "while paused: %s" % how

    def check_position(self):
        first = float(self.bus.playerctl("position") or "-1")
        time.sleep(1.0)
        second = float(self.bus.playerctl("position") or "-1")
        require(0 <= first < second, "position did not advance: %.2f then %.2f" % (first, second))
        seeked_before = self.bus.monitored().count("member=Seeked")
        target = max(0.5, second - 1.0) if second > 3 else second + 2.0
        self.bus.playerctl("position", "%.1f" % target)
        moved = wait_until(lambda: abs(float(self.bus.playerctl("position") or "-100") - target) < 0.8, 5, 0.1)
        require(moved, "position %s after SetPosition to %.1f" % (self.bus.playerctl("position"), target))
        require(wait_until(lambda: self.bus.monitored().count("member=Seeked") > seeked_before, 5),
                "no Seeked signal after SetPosition")
        # A click on the seek bar three quarters along: the window's own seek is announced too.
        seeked_before = self.bus.monitored().count("member=Seeked")
        left, top, width, height = SEEK_BAR
        self.x.click(self.player.window, left + width * 3 // 4, top + height // 2)
        clicked = 0.75 * self.demo.track_seconds
        moved = wait_until(lambda: abs(float(self.bus.playerctl("position") or "-100") - clicked) < 1.5, 5, 0.1)
        require(moved, "position %s after a click at %.1f s on the seek bar" % (self.bus.playerctl("position"), clicked))
        require(wait_until(lambda: self.bus.monitored().count("member=Seeked") > seeked_before, 5),
                "no Seeked signal after the seek bar moved playback")
        self.bus.playerctl("position", "%.1f" % target)
        return "%.2f s -> %.2f s, then set to %.1f s, clicked to %.1f s" % (first, second, target, clicked)

    def check_portal_next(self):
        since = self.audio.mark()
        result = self.bus.press("next")
        require(result.returncode == 0 and "true" in result.stdout, "the backend could not press: %s %s"
                % (result.stdout, result.stderr))
        pressed = time.monotonic()
        require(self.demo.wait_for_count(FILE_HOST, "/file/02", 1, PLAY_TIMEOUT), "Track 02 was not resolved")
        resolved = time.monotonic() - pressed
        # Track 01 has seconds left to play: its own end must not be what started Track 02.
        require(resolved < QUICK, "Track 02 was resolved %.1f s after the press, not by it" % resolved)
        self.expect_pitch(2, since)
        self.expect_title(2)
        return "resolved %.1f s after the press, playing %.1f s after it" % (resolved, time.monotonic() - pressed)

    def check_next_previous(self):
        since = self.audio.mark()
        pressed = time.monotonic()
        self.bus.playerctl("next")
        require(self.demo.wait_for_count(FILE_HOST, "/file/03", 1, PLAY_TIMEOUT), "Track 03 was not resolved")
        resolved = time.monotonic() - pressed
        require(resolved < QUICK, "Track 03 was resolved %.1f s after the call, not by it" % resolved)
        self.expect_pitch(3, since)
        self.expect_title(3)
        since = self.audio.mark()
        self.bus.playerctl("previous")
        self.expect_pitch(2, since)
        self.expect_title(2)
        require(self.bus.player_property("CanGoPrevious") == "(<true>,)", "CanGoPrevious at the second entry: %s"
                % self.bus.player_property("CanGoPrevious"))
        return "next resolved %.1f s after the call" % resolved

    def check_volume(self):
        since = self.audio.mark()
        full = self.tone_level(since)
        require(full, "no tone heard to measure; %s" % self.audio.summary(since))
        require(self.bus.playerctl("volume", "0.3") is not None, "playerctl volume 0.3 failed")
        read_back = float(self.bus.playerctl("volume") or "-1")
        exact = self.bus.player_property("Volume") or "(<-1>,)"
        require(float(exact.strip("(<>,)")) == 0.3, "Volume reads %s after setting 0.3" % exact)
        require(wait_until(lambda: re.search(r'"Volume"\s+variant\s+double 0\.3', self.bus.monitored()), 5),
                "no PropertiesChanged with Volume 0.3 seen by dbus-monitor")
        since = self.audio.mark()
        lowered = self.tone_level(since, accept=lambda rms: rms < 0.6 * full)
        require(lowered and 0.2 * full <= lowered <= 0.4 * full,
                "at volume 0.3 the tone is heard at %s of its full level %.0f; %s"
                % ("%.2f" % (lowered / full) if lowered else "no lower level", full, self.audio.summary(since)))
        refused = self.bus.set_player_property("Volume", "<'loud'>")
        require(refused.returncode != 0 and "org.freedesktop.DBus.Error.InvalidArgs" in refused.stderr,
                "a string for Volume gave: %s %s" % (refused.stdout, refused.stderr.strip()))
        require(float(self.bus.playerctl("volume") or "-1") == read_back, "the refused write changed the volume")
        self.bus.playerctl("volume", "1.0")
        since = self.audio.mark()
        restored = self.tone_level(since, accept=lambda rms: rms > 0.6 * full)
        require(restored, "the tone did not come back to its full level; %s" % self.audio.summary(since))
        return "tone level %.0f, at 0.3: %.0f (%.2f), back at 1.0: %.0f" % (full, lowered, lowered / full, restored)

    def check_rate_zero(self):
        since = self.audio.mark()
        result = self.bus.set_player_property("Rate", "<0.0>")
        require(result.returncode == 0, "setting Rate 0.0 failed: %s" % result.stderr.strip())
        self.expect_status("Paused")
        silent, how = self.audio.wait_for_silence(10, since=since)
        require(silent, "no silence after Rate 0.0; %s" % self.audio.summary(since))
        require(float(self.bus.player_property("Rate").strip("(<>,)")) == 1.0, "Rate reads %s"
                % self.bus.player_property("Rate"))
        self.bus.playerctl("play")
        self.expect_status("Playing")
        return how

    def check_ids_across_pages(self):
        first = self.track_id()
        require(TRACK_ID.match(first), "the track id is %r" % first)
        self.click_previous_page(2)
        since = self.audio.mark()
        self.bus.playerctl("next")      # row 1 of page 2, the row that Track 02 has on page 1
        require(self.demo.wait_for_count(FILE_HOST, "/file/12", 1, PLAY_TIMEOUT), "Track 12 was not resolved")
        self.expect_pitch(12, since)
        self.expect_title(12)
        second = self.track_id()
        require(TRACK_ID.match(second) and second != first, "Track 12 has the id %r, Track 02 had %r"
                % (second, first))
        return "Track 02 %s, Track 12 %s" % (first, second)

    def check_empty_page(self):
        self.click_previous_page(3)
        self.click_previous_page(4)
        empty = wait_until(lambda: self.bus.player_property("CanPlay") == "(<false>,)", 10, interval=0.1)
        require(empty, "CanPlay on the empty page 4: %s" % self.bus.player_property("CanPlay"))
        require(self.bus.player_property("CanGoNext") == "(<false>,)", "CanGoNext on an empty page: %s"
                % self.bus.player_property("CanGoNext"))
        requests = len(self.demo.requests())
        self.bus.playerctl("play")
        time.sleep(1.0)
        require(self.bus.playerctl("status") == "Stopped", "Play on an empty page: %s" % self.bus.playerctl("status"))
        require(len(self.demo.requests()) == requests, "Play on an empty page asked the servers for something")
        return ""

    def check_second_start(self):
        centre = self.tray_icon_centre()
        require(centre, "the tray icon is not in the panel")
        self.x.run(["xdotool", "mousemove", "--sync", str(centre[0]), str(centre[1]), "click", "1"])
        hidden = wait_until(lambda: not self.x.run(["xdotool", "search", "--onlyvisible", "--name",
                                                    "^%s$" % WINDOW_TITLE]).stdout.strip(), 10, interval=0.2)
        require(hidden, "a click on the tray icon did not hide the window")
        binds = self.bus.bind_count()
        second = subprocess.run([self.player.executable], env=self.player.env, capture_output=True, text=True,
                                timeout=30)
        require(second.returncode == 0, "the second start ended with status %d: %s"
                % (second.returncode, second.stderr[-500:]))
        require(self.x.find_window(WINDOW_TITLE, 10), "the first player's window did not come back")
        windows = self.x.run(["xdotool", "search", "--name", "^%s$" % WINDOW_TITLE]).stdout.split()
        require(len(windows) == 1, "%d windows titled %r" % (len(windows), WINDOW_TITLE))
        require(".instance" not in self.bus.names(), "a second media player name is on the bus")
        require(self.bus.bind_count() == binds, "the second start bound shortcuts")
        require(self.player.running(), "the first player ended")
        return ""

    def check_stop(self):
        since = self.audio.mark()
        self.bus.playerctl("stop")
        silent, how = self.audio.wait_for_silence(10, since=since)
        require(silent, "no silence after stop; %s" % self.audio.summary(since))
        self.expect_status("Stopped")
        trackid = (self.bus.playerctl("metadata", "mpris:trackid") or "").strip("'\"")
        require(trackid == "/org/mpris/MediaPlayer2/TrackList/NoTrack", "track id after stop: %r" % trackid)
        return how

    def check_quit(self):
        result = self.bus.call("org.mpris.MediaPlayer2", "Quit")
        require(result.returncode == 0, "Quit failed: %s" % result.stderr)
        try:
            status = self.player.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            raise CheckFailed("the player still runs 20 s after Quit")
        require(status == 0, "exit status %s" % status)
        return ""


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--player", required=True)
    parser.add_argument("--demo", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--backend", required=True, help="the portal test backend")
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--track-seconds", type=int, default=15)
    return parser.parse_args()


def run(args, workdir, processes):
    x = start_display(processes, workdir, tray=True)
    bus = DesktopBus(workdir, args.backend)
    bus.start(processes)
    demo = DemoCatalogue(args.demo, workdir, args.track_seconds)
    demo.start(processes)
    player = PlayerSession(args.player, workdir, x.display)
    # A Wayland session as the player sees it, with no Wayland server: it must choose X11
    # (XWayland) for its windows and the portal for its shortcuts.
    player.env.update({"DBUS_SESSION_BUS_ADDRESS": bus.address, "WAYLAND_DISPLAY": "vornel-no-wayland",
                       "XDG_SESSION_TYPE": "wayland"})
    player.env.pop("QT_QPA_PLATFORM", None)
    audio = AudioMonitor(player.sound_path, ALL_PITCHES)
    player.start(processes)
    checks = DesktopChecks(x, bus, demo, player, audio, args.probe).run_all()
    if not checks.all_passed():
        print("--- player output ---\n%s\n--- demo requests ---\n%s\n--- portal backend ---\n%s"
              % (player.output_tail(), demo.tail(), read(bus.backend_out)), flush=True)
    return checks


def main():
    args = parse_arguments()
    problems = setup_problems(
        executables=(("vornelplayer", args.player), ("vornel-demo", args.demo), ("x11_probe", args.probe),
                     ("portal_test_backend", args.backend)),
        tools=TOOLS, installed=(("xdg-desktop-portal", PORTAL_FRONTEND),))
    return run_checks("desktop checks", lambda workdir, processes: run(args, workdir, processes),
                      prefix="vornel-desktop-e2e-", problems=problems, artifacts=args.artifacts,
                      keep_files=KEPT_FILES)


if __name__ == "__main__":
    sys.exit(main())
