"""The end-to-end checks, in the order a user meets them. Each check raises CheckFailed with
what it saw; a failed check does not stop the ones after it."""
import os
import subprocess
import time

from harness.checks import CheckFailed, CheckRunner, require
from harness.demo_catalogue import CATALOGUE, FILE_HOST, pitch_of, track_file
from harness.player_session import PLAYLIST, PREVIOUS_PAGE_BUTTON, WINDOW_TITLE
from harness.processes import wait_until

PLAY_TIMEOUT = 25           # resolution, connection and buffering of a local track
HOTKEYS_TAKEN = 1           # x11_probe grab-hotkeys: 0 all free, 1 some taken


class PlayerChecks:
    def __init__(self, x, demo, player, audio, probe, artifacts):
        self.x = x
        self.demo = demo
        self.player = player
        self.audio = audio
        self.probe = probe
        self.artifacts = artifacts

    # --- running -------------------------------------------------------------------------

    def run_all(self):
        """Runs every check; returns the CheckRunner with their results."""
        runner = CheckRunner()
        after_exit = (self.check_close, self.check_hotkeys_released)
        for name, check in [
            ("start: the window appears, page 1 is requested twice and the playlist fills", self.check_start),
            ("the four hot keys are held by the player while it runs", self.check_hotkeys_taken),
            ("Enter plays the first entry (Track 01, 330 Hz)", self.check_enter_plays_first),
            ("Ctrl+Shift+W plays the next entry (Track 02, 440 Hz)", self.check_next_hotkey),
            ("Ctrl+Shift+P pauses (silence) and resumes (440 Hz again)", self.check_pause_resume),
            ("the end of a track starts the next entry (Track 03, 550 Hz)", self.check_end_of_track),
            ("a dead entry is marked and skipped (Track 04 has no snippet; Track 05, 770 Hz plays)", self.check_dead_entry),
            ("Ctrl+Shift+D saves the playing track byte for byte into the Downloads folder", self.check_download),
            ("\"previous page\" loads page 2 (requested twice)", self.check_previous_page),
            ("after a page load the end of the track plays the new page's second entry (Track 12, 475 Hz)",
             self.check_advance_after_page_load),
            ("Ctrl+Shift+Q plays the previous entry (Track 11, 365 Hz)", self.check_previous_hotkey),
            ("once a track plays, a plain Enter in the playlist saves it (Download is the default button)",
             self.check_enter_downloads),
            ("closing the window ends the player with exit status 0", self.check_close),
            ("the hot keys are free again after the player ended", self.check_hotkeys_released),
        ]:
            runner.run(name, check, blocker=None if check in after_exit else self.player.not_running())
        return runner

    # --- helpers -------------------------------------------------------------------------

    def _screenshot(self, name):
        path = os.path.join(self.artifacts, name)
        return path if self.x.screenshot(path) else "(screenshot failed)"

    def _probe(self, *args):
        return subprocess.run([self.probe] + list(args), env=self.x.env, capture_output=True, text=True, timeout=15)

    def _expect_pitch(self, track_id, since, timeout=PLAY_TIMEOUT):
        found, summary = self.audio.wait_for_pitch(pitch_of(track_id), timeout, since=since)
        require(found, "no %d Hz tone of track %02d within %d s; %s" % (pitch_of(track_id), track_id, timeout, summary))

    def _expect_request(self, server, target, count=1, timeout=PLAY_TIMEOUT):
        require(self.demo.wait_for_count(server, target, count, timeout),
                "%s %s was requested %d time(s), expected %d; last requests:\n%s"
                % (server, target, self.demo.count(server, target), count, self.demo.tail()))

    def _window_origin(self):
        x, y, _, _ = self.x.geometry(self.player.window)
        return x, y

    def _playlist_brightness(self):
        ox, oy = self._window_origin()
        left, top, width, height = PLAYLIST
        return self.x.bright_pixels(ox + left, oy + top, width, height)

    # --- checks --------------------------------------------------------------------------

    def check_start(self):
        self.player.window = self.x.find_window(WINDOW_TITLE, 30)
        require(self.player.window, "no visible window titled \"%s\" within 30 s" % WINDOW_TITLE)
        self._expect_request(CATALOGUE, "/", 2, timeout=30)
        # Entries are drawn in a light colour on the black playlist.
        lit = wait_until(lambda: self._playlist_brightness() >= 150, 15, interval=0.3)
        shot = self._screenshot("01-playlist.png")
        require(lit, "the playlist area shows no entry text (%d light pixels); see %s"
                % (self._playlist_brightness(), shot))
        early = [t for s, t in self.demo.requests() if s == FILE_HOST]
        require(not early, "the file host was asked before any entry was picked: %s" % early)
        return "window 0x%x, %d catalogue requests, screenshot %s" % (
            self.player.window, len(self.demo.requests()), shot)

    def check_hotkeys_taken(self):
        result = self._probe("grab-hotkeys")
        require(result.returncode == HOTKEYS_TAKEN and result.stdout.count("taken") == 4,
                "another client could still grab some of Ctrl+Shift+D/W/Q/P: %s" % result.stdout.split("\n"))
        return ""

    def check_enter_plays_first(self):
        self.x.focus(self.player.window)
        since = self.audio.mark()
        self.x.key("Return")
        self._expect_request(FILE_HOST, "/file/01")
        self._expect_request(FILE_HOST, "/audio/01.mp3")
        self._expect_pitch(1, since)
        return ""

    def check_next_hotkey(self):
        since = self.audio.mark()
        self.x.key("ctrl+shift+w")
        self._expect_request(FILE_HOST, "/file/02")
        self._expect_pitch(2, since)
        return ""

    def check_pause_resume(self):
        since = self.audio.mark()
        self.x.key("ctrl+shift+p")
        silent, how = self.audio.wait_for_silence(10, since=since)
        require(silent, "no silence after Ctrl+Shift+P within 10 s; %s" % self.audio.summary(since))
        held = self.audio.mark()
        time.sleep(1.5)
        sounding = [w for w in self.audio.windows_since(held) if not w.silent]
        require(not sounding, "sound while paused: %s" % self.audio.summary(held))
        paused_windows = len(self.audio.windows_since(held))
        since = self.audio.mark()
        self.x.key("ctrl+shift+p")
        self._expect_pitch(2, since, timeout=10)
        again = self.demo.count(FILE_HOST, "/audio/02.mp3")
        require(again == 1, "resuming fetched the track again (%d requests of /audio/02.mp3)" % again)
        driver = "writes silence" if paused_windows else "writes nothing"
        return "while paused the disk driver %s (%s)" % (driver, how)

    def check_end_of_track(self):
        since = self.audio.mark()
        self._expect_request(FILE_HOST, "/file/03", timeout=self.demo.track_seconds + PLAY_TIMEOUT)
        self._expect_pitch(3, since, timeout=self.demo.track_seconds + PLAY_TIMEOUT)
        return ""

    def check_dead_entry(self):
        since = self.audio.mark()
        self.x.key("ctrl+shift+w")
        self._expect_request(FILE_HOST, "/file/04")
        self._expect_request(FILE_HOST, "/file/05")
        self._expect_pitch(5, since)
        require(self.demo.count(FILE_HOST, "/audio/04.mp3") == 0, "the dead entry's audio was requested")
        shot = self._screenshot("02-dead-entry.png")
        return "the mark in front of Track 04 shows in %s" % shot

    def check_download(self):
        expected_path = track_file(self.demo.cache_dir, 5, self.demo.track_seconds)
        with open(expected_path, "rb") as f:
            expected = f.read()
        before = set(self.player.saved_files())
        self.x.key("ctrl+shift+d")
        name = wait_until(lambda: self._new_file_equal_to(before, expected), 20, interval=0.2)
        require(name, "no file equal to %s appeared in %s within 20 s; it holds %s"
                % (expected_path, self.player.downloads, self.player.saved_files()))
        require(name.endswith(".mp3") and "Track 05" in name, "saved under an unexpected name: %r" % name)
        return "saved as %r (%d bytes)" % (name, len(expected))

    def check_previous_page(self):
        left, top, width, height = PREVIOUS_PAGE_BUTTON
        self.x.click(self.player.window, left + width // 2, top + height // 2)
        self._expect_request(CATALOGUE, "/page/2/", 2, timeout=20)
        lit = wait_until(lambda: self._playlist_brightness() >= 150, 15, interval=0.3)
        shot = self._screenshot("03-page-2.png")
        require(lit, "the playlist shows no entries after page 2 loaded; see %s" % shot)
        return "screenshot %s" % shot

    def check_advance_after_page_load(self):
        since = self.audio.mark()
        timeout = self.demo.track_seconds + PLAY_TIMEOUT
        self._expect_request(FILE_HOST, "/file/12", timeout=timeout)
        self._expect_pitch(12, since, timeout=timeout)
        return ""

    def check_previous_hotkey(self):
        since = self.audio.mark()
        self.x.key("ctrl+shift+q")
        self._expect_request(FILE_HOST, "/file/11")
        self._expect_pitch(11, since)
        return ""

    def check_enter_downloads(self):
        expected_path = track_file(self.demo.cache_dir, 11, self.demo.track_seconds)
        with open(expected_path, "rb") as f:
            expected = f.read()
        pages_before = self.demo.count(FILE_HOST, "/file/11")
        before = set(self.player.saved_files())
        self.x.focus(self.player.window)
        self.x.key("Return")
        name = wait_until(lambda: self._new_file_equal_to(before, expected), 20, interval=0.2)
        require(name, "no file equal to %s appeared in %s within 20 s; it holds %s"
                % (expected_path, self.player.downloads, self.player.saved_files()))
        require(self.demo.count(FILE_HOST, "/file/11") == pages_before,
                "Enter also resolved the selected entry again")
        return "saved as %r" % name

    def _new_file_equal_to(self, before, expected):
        for name in set(self.player.saved_files()) - before:
            try:
                with open(os.path.join(self.player.downloads, name), "rb") as f:
                    if f.read() == expected:
                        return name
            except OSError:
                pass
        return None

    def check_close(self):
        require(self.player.window, "no window to close")
        if self.player.running():
            result = self._probe("close", str(self.player.window))
            require(result.returncode == 0, "could not send the close request: %s" % result.stderr.strip())
        try:
            status = self.player.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            raise CheckFailed("the player still runs 20 s after its window was asked to close")
        require(status == 0, "exit status %s; output:\n%s" % (status, self.player.output_tail()))
        return ""

    def check_hotkeys_released(self):
        require(not self.player.running(), "the player still runs")
        result = self._probe("grab-hotkeys")
        require(result.returncode == 0, "some hot keys are still taken: %s" % result.stdout.split("\n"))
        return ""
