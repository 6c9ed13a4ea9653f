"""Follows the sound the player writes through SDL's disk driver and tells which tone it is.

The disk driver writes raw signed 16-bit little-endian stereo at 44100 Hz, at the pace of a
real device, silence included. The monitor reads what was added since the last look and
analyses short windows of the left channel with Goertzel filters tuned to the demo's
pitches.
"""
import array
import math
import sys
import time

RATE = 44100
FRAME_BYTES = 4                 # two 16-bit channels
WINDOW_FRAMES = 2048            # about 46 ms analysed ...
HOP_FRAMES = 8820               # ... every 200 ms of sound
SILENCE_RMS = 60.0              # the demo's tones have an RMS near 11600
TONE_MIN_RMS = 1000.0


def _hann(n):
    return [0.5 - 0.5 * math.cos(2.0 * math.pi * i / (n - 1)) for i in range(n)]


class Window:
    """One analysed stretch of sound: when it starts, how loud it is, which tone it carries."""

    def __init__(self, start_seconds, rms, pitch):
        self.start_seconds = start_seconds
        self.rms = rms
        self.pitch = pitch      # the dominant candidate pitch, or None

    @property
    def silent(self):
        return self.rms < SILENCE_RMS

    def describe(self):
        if self.silent:
            return "silence"
        return "%s Hz (rms %.0f)" % (self.pitch, self.rms) if self.pitch else "no clear tone (rms %.0f)" % self.rms


class AudioMonitor:
    def __init__(self, path, candidate_pitches):
        self.path = path
        self.pitches = sorted(set(candidate_pitches))
        self._hann = _hann(WINDOW_FRAMES)
        self._hann_sum = sum(self._hann)
        self._coefficients = [2.0 * math.cos(2.0 * math.pi * f / RATE) for f in self.pitches]
        self._pending = b""
        self._frames_consumed = 0
        self.windows = []
        self.bytes_read = 0
        self.last_growth = time.monotonic()

    # --- reading -------------------------------------------------------------------------

    def poll(self):
        """Reads what the driver wrote since the last call and analyses the new windows."""
        try:
            with open(self.path, "rb") as f:
                f.seek(self.bytes_read)
                data = f.read()
        except FileNotFoundError:
            return
        if data:
            self.bytes_read += len(data)
            self.last_growth = time.monotonic()
            self._pending += data
        hop_bytes = HOP_FRAMES * FRAME_BYTES
        while len(self._pending) >= hop_bytes:
            chunk = self._pending[: WINDOW_FRAMES * FRAME_BYTES]
            self._pending = self._pending[hop_bytes:]
            self.windows.append(self._analyse(chunk, self._frames_consumed / RATE))
            self._frames_consumed += HOP_FRAMES

    def _analyse(self, chunk, start_seconds):
        samples = array.array("h")
        samples.frombytes(chunk)
        if sys.byteorder != "little":
            samples.byteswap()
        left = samples[0::2]
        rms = math.sqrt(sum(x * x for x in left) / len(left))
        if rms < TONE_MIN_RMS:
            return Window(start_seconds, rms, None)
        weighted = [x * h for x, h in zip(left, self._hann)]
        best_pitch, best_amplitude = None, 0.0
        for pitch, coefficient in zip(self.pitches, self._coefficients):
            s1 = s2 = 0.0
            for x in weighted:
                s1, s2 = x + coefficient * s1 - s2, s1
            power = s1 * s1 + s2 * s2 - coefficient * s1 * s2
            amplitude = 2.0 * math.sqrt(max(power, 0.0)) / self._hann_sum
            if amplitude > best_amplitude:
                best_pitch, best_amplitude = pitch, amplitude
        # A pure tone of amplitude A has an RMS of A/sqrt(2); ask for most of it to be the tone.
        if best_amplitude < 0.7 * rms * math.sqrt(2.0):
            return Window(start_seconds, rms, None)
        return Window(start_seconds, rms, best_pitch)

    # --- questions -----------------------------------------------------------------------

    def mark(self):
        """An index into the windows: later questions look only at windows after it."""
        self.poll()
        return len(self.windows)

    def wait_for_pitch(self, pitch, timeout, since=None, run=3):
        """Waits until `run` consecutive windows carry the pitch. Returns (found, summary)."""
        start = self.mark() if since is None else since
        return self._wait(lambda w: w.pitch == pitch and not w.silent, run, start, timeout)

    def wait_for_silence(self, timeout, since=None, run=4):
        """Waits until `run` consecutive silent windows came, or the file stopped growing for
        as long. Returns (found, summary)."""
        start = self.mark() if since is None else since
        still = run * HOP_FRAMES / RATE
        return self._wait(lambda w: w.silent, run, start, timeout, stalled_counts=still)

    def windows_since(self, since):
        self.poll()
        return self.windows[since:]

    def _wait(self, matches, run, start, timeout, stalled_counts=None):
        deadline = time.monotonic() + timeout
        while True:
            self.poll()
            streak = 0
            for w in self.windows[start:]:
                streak = streak + 1 if matches(w) else 0
                if streak >= run:
                    return True, self.summary(start)
            if stalled_counts is not None and time.monotonic() - self.last_growth >= stalled_counts:
                return True, "no sound written for %.1f s" % (time.monotonic() - self.last_growth)
            if time.monotonic() >= deadline:
                return False, self.summary(start)
            time.sleep(0.05)

    def summary(self, since=0, limit=40):
        """A short text of what the windows since the index carried, runs collapsed."""
        runs = []
        for w in self.windows[since:]:
            label = w.describe().split(" (")[0]
            if runs and runs[-1][0] == label:
                runs[-1][1] += 1
            else:
                runs.append([label, 1])
        text = ", ".join("%s x%d" % (label, n) for label, n in runs[-limit:])
        return "%d bytes of sound, windows since mark: %s" % (self.bytes_read, text or "none")
