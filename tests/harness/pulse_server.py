"""A PulseAudio server of the run's own: a null sink "test" on a socket in a private
folder, recorded from the sink's monitor with parec, and killed, started again on the same
socket, frozen and thawed as a desktop's sound server comes and goes."""
import os
import shutil
import signal
import subprocess
import time

from .processes import wait_until

TOOLS = ["pulseaudio", "pactl", "parec"]


class PulseServer:
    def __init__(self, processes, folder):
        self.processes = processes
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        self.socket = os.path.join(folder, "native")
        self.server = "unix:" + self.socket
        self.process = None
        self.frozen = False
        self._recorder = None
        self._recordings = 0

    def start(self, timeout=20):
        """Starts the daemon (again, on the same socket); returns once it answers."""
        env = dict(os.environ, XDG_RUNTIME_DIR=self.folder, HOME=self.folder)
        self.process = self.processes.start("pulseaudio", [
            "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
            "--disable-shm=yes", "--load=module-null-sink sink_name=test",
            "--load=module-native-protocol-unix socket=%s auth-anonymous=1" % self.socket], env=env)
        if not wait_until(self.answers, timeout, interval=0.05):
            raise RuntimeError("the private PulseAudio server did not start")

    def answers(self):
        return self.pactl("info") is not None

    def pactl(self, *arguments):
        result = subprocess.run(["pactl"] + list(arguments), env=dict(os.environ, PULSE_SERVER=self.server),
                                capture_output=True, text=True, timeout=10)
        return result.stdout if result.returncode == 0 else None

    def kill(self):
        """SIGKILL by its PID, as a crash; the recording ends with it."""
        self.thaw()
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGKILL)
            self.process.wait(timeout=10)
        self.stop_recording()

    def freeze(self):
        if self.process and not self.frozen:
            self.process.send_signal(signal.SIGSTOP)
            self.frozen = True

    def thaw(self):
        if self.process and self.frozen:
            self.process.send_signal(signal.SIGCONT)
            self.frozen = False

    def stop(self):
        self.thaw()
        self.stop_recording()
        if self.process:
            self.processes.stop(self.process)
            self.process = None

    def record(self):
        """Starts recording the null sink's monitor into a new file (raw S16LE stereo at
        44100 Hz, as audio_monitor.AudioMonitor reads it); returns (path, started)."""
        self.stop_recording()
        self._recordings += 1
        path = os.path.join(self.folder, "monitor-%d.raw" % self._recordings)
        out = open(path, "wb")
        started = time.monotonic()
        self._recorder = self.processes.start("parec", [
            "parec", "-d", "test.monitor", "--format=s16le", "--rate=44100", "--channels=2",
            "--latency-msec=20"], env=dict(os.environ, PULSE_SERVER=self.server), stdout=out)
        out.close()
        return path, started

    def stop_recording(self):
        if self._recorder:
            self.processes.stop(self._recorder)
            self._recorder = None

    def remove(self):
        self.stop()
        shutil.rmtree(self.folder, ignore_errors=True)
