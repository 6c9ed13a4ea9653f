#!/usr/bin/env python3
"""The real vornelplayer against the demo catalogue, playing into a PulseAudio server of the
run's own (a null sink recorded from its monitor) while that server comes and goes:

- killed mid-track and started again on the same socket: the tone is heard again, and no
  error box appears meanwhile;
- frozen (SIGSTOP) at start: the player comes up on a fallback device or shows its device
  box, and then exits with status 0;
- SIGTERM ends the player while it plays, with the server gone, with the server frozen
  mid-play, and with the server frozen while the player opens its device.

Prints the seconds from the server's restart to sound and from each SIGTERM to the exit.
Exit status 0 when every check passed, 1 when one failed, 2 when the run could not be set up.
"""
import argparse
import os
import signal
import subprocess
import sys
import time

sys.dont_write_bytecode = True   # keep the source folder clean
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from harness.audio_monitor import AudioMonitor                                  # noqa: E402
from harness.checks import CheckFailed, CheckRunner, require                    # noqa: E402
from harness.demo_catalogue import ALL_PITCHES, FILE_HOST, DemoCatalogue, pitch_of  # noqa: E402
from harness.player_session import PLAYLIST, WINDOW_TITLE, PlayerSession        # noqa: E402
from harness.processes import wait_until                                        # noqa: E402
from harness.pulse_server import TOOLS as PULSE_TOOLS, PulseServer              # noqa: E402
from harness.runner import run_checks, setup_problems                           # noqa: E402
from harness.x_session import start_display                                     # noqa: E402

TOOLS = ["Xvfb", "xdotool", "import", "lame"] + PULSE_TOOLS
TRACK_SECONDS = 40          # long enough for everything a check does mid-track
PLAY_TIMEOUT = 25
BOX_TITLE = "VornelPlayer"  # an error box bears the application's title


class SoundServerRun:
    def __init__(self, args, workdir, processes):
        self.args = args
        self.workdir = workdir
        self.processes = processes
        self.x = start_display(processes, workdir)
        self.display = self.x.display
        self.demo = DemoCatalogue(args.demo, workdir, TRACK_SECONDS)
        self.demo.start(processes)
        self.figures = []
        self.servers = []   # of the running check, removed after it
        self.players = []

    # --- helpers ---------------------------------------------------------------------------

    def pulse(self, name):
        server = PulseServer(self.processes, os.path.join(self.workdir, "pulse-" + name))
        self.servers.append(server)
        server.start()
        return server

    def player(self, name, pulse):
        player = PlayerSession(self.args.player, os.path.join(self.workdir, name), self.display)
        for variable in ("SDL_AUDIODRIVER", "SDL_DISKAUDIOFILE"):
            player.env.pop(variable, None)
        player.env["PULSE_SERVER"] = pulse.server
        self.players.append(player)
        return player

    def playlist_lit(self, window):
        x, y, _, _ = self.x.geometry(window)
        left, top, width, height = PLAYLIST
        return self.x.bright_pixels(x + left, y + top, width, height) >= 150

    def start_playing(self, player, pulse):
        """Starts the player and plays the first entry until its tone is heard on the sink."""
        path, _ = pulse.record()
        audio = AudioMonitor(path, ALL_PITCHES)
        requested = self.demo.count(FILE_HOST, "/audio/01.mp3")
        player.start(self.processes)
        player.window = self.x.find_window(WINDOW_TITLE, 30)
        require(player.window, "no window within 30 s; output:\n" + player.output_tail())
        require(wait_until(lambda: self.playlist_lit(player.window), 30, interval=0.3), "the playlist stayed empty")
        self.x.focus(player.window)
        since = audio.mark()
        self.x.key("Return")
        require(self.demo.wait_for_count(FILE_HOST, "/audio/01.mp3", requested + 1, PLAY_TIMEOUT),
                "Track 01's audio was not requested")
        found, summary = audio.wait_for_pitch(pitch_of(1), PLAY_TIMEOUT, since=since)
        require(found, "Track 01's tone was not heard: " + summary)
        return audio

    def box_shown(self):
        """A visible window of the player titled as its boxes are, or None."""
        found = self.x.run(["xdotool", "search", "--onlyvisible", "--class", "vornelplayer"])
        for window in found.stdout.split() if found.returncode == 0 else []:
            if self.x.run(["xdotool", "getwindowname", window]).stdout.strip() == BOX_TITLE:
                return int(window)
        return None

    def terminate(self, player, state):
        """SIGTERM; returns the exit status, having noted the seconds to the exit."""
        signalled = time.monotonic()
        player.process.send_signal(signal.SIGTERM)
        try:
            status = player.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            raise CheckFailed("still running 30 s after SIGTERM (%s)" % state)
        self.figures.append(("seconds from SIGTERM to exit, %s" % state, time.monotonic() - signalled))
        return status

    def clean_up(self):
        for player in self.players:
            if player.running():
                self.processes.stop(player.process)
        for server in self.servers:
            server.remove()
        self.players.clear()
        self.servers.clear()

    # --- checks ----------------------------------------------------------------------------

    def check_restart_mid_track(self):
        pulse = self.pulse("restart")
        player = self.player("restart", pulse)
        self.start_playing(player, pulse)
        time.sleep(2)
        pulse.kill()
        time.sleep(2)
        require(player.running(), "the player ended when the server went away: %s" % player.output_tail())
        require(not self.box_shown(), "an error box appeared when the server went away")
        restarted = time.monotonic()
        pulse.start()
        answering = time.monotonic()
        path, recording_started = pulse.record()
        audio = AudioMonitor(path, ALL_PITCHES)
        found, summary = audio.wait_for_pitch(pitch_of(1), 20, since=0)
        require(found, "the tone was not heard again within 20 s of the server's restart: " + summary)
        first = next(w for w in audio.windows if w.pitch == pitch_of(1) and not w.silent)
        sound = recording_started + first.start_seconds
        # The recording can start only once the server answers; a tone in its first window
        # was there already, so the figure is then an upper bound.
        bound = "at most " if first is audio.windows[0] else ""
        self.figures.append(("seconds from the server's restart (spawn) to sound: %s%.2f; from the server"
                             " answering (pactl info) to sound: %s%.2f s, within a 0.2 s analysis hop"
                             % (bound, sound - restarted, bound, sound - answering), None))
        require(not self.box_shown(), "an error box appeared after the server came back")
        # The server freezes mid-play: SIGTERM still ends the player.
        pulse.freeze()
        time.sleep(1.5)
        status = self.terminate(player, "server frozen mid-play")
        require(status == 0, "exit status %s with the server frozen; output:\n%s" % (status, player.output_tail()))
        return "tone heard again after the restart"

    def check_sigterm_while_playing(self):
        pulse = self.pulse("playing")
        player = self.player("playing", pulse)
        self.start_playing(player, pulse)
        status = self.terminate(player, "playing, server up")
        require(status == 0, "exit status %s; output:\n%s" % (status, player.output_tail()))
        return ""

    def check_sigterm_server_gone(self):
        pulse = self.pulse("gone")
        player = self.player("gone", pulse)
        self.start_playing(player, pulse)
        pulse.kill()
        time.sleep(1.5)
        status = self.terminate(player, "server gone mid-play")
        require(status == 0, "exit status %s; output:\n%s" % (status, player.output_tail()))
        return ""

    def check_frozen_at_start(self):
        pulse = self.pulse("frozen")
        pulse.freeze()
        player = self.player("frozen", pulse)
        started = time.monotonic()
        player.start(self.processes)
        shown = wait_until(lambda: self.x.find_window(WINDOW_TITLE, 0) or self.box_shown() or not player.running(),
                           60, interval=0.2)
        require(shown, "neither the window nor a box within 60 s of the start")
        require(player.running(), "the player ended without a box (status %s)" % player.process.poll())
        box = self.box_shown()
        outcome = "the device box" if box else "the window, on a fallback device"
        self.figures.append(("seconds from start to %s, server frozen" % outcome, time.monotonic() - started))
        if box:
            self.x.focus(box)
            self.x.key("Return")
            try:
                status = player.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                raise CheckFailed("still running 20 s after the device box was closed")
        else:
            status = self.terminate(player, "on a fallback device")
        require(status == 0, "exit status %s; output:\n%s" % (status, player.output_tail()))
        return outcome

    def check_sigterm_frozen_at_start(self):
        pulse = self.pulse("frozen-signal")
        pulse.freeze()
        player = self.player("frozen-signal", pulse)
        player.start(self.processes)
        time.sleep(1.5)  # opening the device, waiting for the frozen server
        status = self.terminate(player, "server frozen while the device opens")
        return "ended with status %s" % status

    def run_all(self):
        """Runs every check, each with servers and players of its own; returns the CheckRunner."""
        runner = CheckRunner()
        for name, check in [
            ("the server killed mid-track and started again: the tone is heard again, no error box",
             self.check_restart_mid_track),
            ("SIGTERM ends the player while it plays", self.check_sigterm_while_playing),
            ("SIGTERM ends the player with the server gone mid-play", self.check_sigterm_server_gone),
            ("a server frozen at start: the player comes up on a fallback or shows its device box, then exits 0",
             self.check_frozen_at_start),
            ("SIGTERM ends the player while it waits for a frozen server at start",
             self.check_sigterm_frozen_at_start),
        ]:
            try:
                runner.run(name, check)
            finally:
                self.clean_up()
        for label, seconds in self.figures:
            print("figure: %s" % label + (": %.2f s" % seconds if seconds is not None else ""), flush=True)
        return runner


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--player", required=True)
    parser.add_argument("--demo", required=True)
    args = parser.parse_args()
    problems = setup_problems(executables=(("vornelplayer", args.player), ("vornel-demo", args.demo)),
                              tools=TOOLS)
    return run_checks("sound-server checks",
                      lambda workdir, processes: SoundServerRun(args, workdir, processes).run_all(),
                      prefix="vornel-sound-e2e-", problems=problems)


if __name__ == "__main__":
    sys.exit(main())
