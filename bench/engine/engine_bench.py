#!/usr/bin/env python3
"""Audio engine figures against a loopback HTTP server on 127.0.0.1.

  engine_bench.py [--build DIR] [--realtime] [--runs N]

- CPU time and peak resident memory of real-time playback of a 20 s and a 60 s 128 kbps MP3
  into a PulseAudio null sink: vornel-play (its libpulse output, SDL_AUDIODRIVER unset) against
  `mpg123 -o pulse`, on one private PulseAudio server that the benchmark starts (whole
  processes, best of --runs).
- Time from the start of the process to the first sound on the null sink's monitor (parec),
  vornel-play against `mpg123 -o pulse` (median of 5 each).
- Idle cost: vornel-play with its device open and nothing playing (its URL's server accepts
  and never answers): wake-ups and CPU of the device's thread (libpulse's threaded-ml) and
  the engine's sweeper, and CPU of the sound server.
- The longest render of the default (libpulse) device while one stream's server stops
  sending mid-stream and another stream plays (on the same null sink).
- CPU time of the engine decoding and mixing a 60 s 128 kbps MP3 (in-memory output, as fast
  as it can) against the mpg123 CLI decoding it to /dev/null (mpg123 -s).
  With --realtime also vornel-play's CPU time for 60 s of real-time playback (SDL's disk
  driver).
- Time from the open call to the first sample handed to the output (engine_bench).
- Peak memory above the idle process for a 10 MB file, normal and block mode (engine_bench).
"""
import argparse
import array
import functools
import http.server
import math
import os
import resource
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time


def make_mp3(directory, name, seconds, bitrate):
    # 441 Hz repeats every 100 samples at 44100 Hz, so one period tiles the whole tone.
    period = array.array("h")
    for i in range(100):
        sample = int(math.sin(2 * math.pi * i / 100) * 16000)
        period.extend((sample, sample))
    raw = os.path.join(directory, name + ".raw")
    with open(raw, "wb") as out:
        block = period.tobytes() * 441
        for _ in range(seconds):
            out.write(block)
    mp3 = os.path.join(directory, name)
    subprocess.run(["lame", "--quiet", "-r", "--signed", "--little-endian", "--bitwidth", "16", "-s", "44.1",
                    "--cbr", "-b", str(bitrate), raw, mp3], check=True, stderr=subprocess.DEVNULL)
    os.remove(raw)
    return mp3


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.path.startswith("/stall/"):
            self.send_stalling(self.path[len("/stall/"):])
        else:
            super().do_GET()

    def send_stalling(self, name):
        # The head and about 3 s of the file, then nothing until the client goes away.
        with open(os.path.join(self.directory, name), "rb") as f:
            body = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "audio/mpeg")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body[:48000])
        self.wfile.flush()
        time.sleep(60)

    def handle(self):
        try:
            super().handle()
        except (BrokenPipeError, ConnectionResetError):
            pass  # the engine freed a stream before its download was over


def serve(directory):
    handler = functools.partial(QuietHandler, directory=directory)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def child_cpu(command, env=None, stdout=subprocess.PIPE):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    result = subprocess.run(command, env=env, stdout=stdout, stderr=subprocess.DEVNULL, timeout=300)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return cpu, result


def vornel_play_env(delay):
    env = dict(os.environ, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE="/dev/null")
    if delay is not None:
        env["SDL_DISKAUDIODELAY"] = str(delay)
    return env


def mpg123_decode_cpu(url, runs):
    times = []
    for _ in range(runs):
        with open(os.devnull, "wb") as null:
            cpu, result = child_cpu(["mpg123", "-q", "-s", url], stdout=null)
        if result.returncode != 0:
            sys.exit("mpg123 failed")
        times.append(cpu)
    return min(times)


def decode_comparison(build, url, runs=5):
    # The engine plays in real time only (its decode threads fill a ring ahead of the
    # device), so the decoding work is compared through the in-memory output.
    engine = []
    for _ in range(runs):
        result = subprocess.run([os.path.join(build, "engine_bench"), "decode", url], stdout=subprocess.PIPE,
                                timeout=300, check=True)
        engine.append(float(result.stdout.decode().split("decode-cpu-seconds:")[1]))
    e, b = min(engine), mpg123_decode_cpu(url, runs)
    print(f"cpu, decoding and mixing a 60 s 128 kbps MP3 in the engine: {e:.3f} s against {b:.3f} s for"
          f" mpg123 -s to /dev/null (whole process) = {e / b:.2f}x (goal <= 1.2x; best of {runs})")


def cpu_realtime(build, url):
    cpu, result = child_cpu([os.path.join(build, "vornel-play"), url], env=vornel_play_env(None))
    print(f"cpu, 60 s real-time playback with vornel-play (SDL disk driver): {cpu:.3f} s"
          f" = {100 * cpu / 60:.2f}% of one core")


class PrivatePulse:
    """A PulseAudio server of the benchmark's own with one null sink, on a private socket."""

    def __init__(self):
        self.directory = tempfile.mkdtemp(prefix="vornel-bench-pulse-")
        self.socket = os.path.join(self.directory, "native")
        env = dict(os.environ, XDG_RUNTIME_DIR=self.directory, HOME=self.directory)
        self.process = subprocess.Popen(
            ["pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "--use-pid-file=no",
             "--disable-shm=yes", "--load=module-null-sink sink_name=bench",
             f"--load=module-native-protocol-unix socket={self.socket} auth-anonymous=1"],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Without SDL_AUDIODRIVER the engine picks its libpulse output.
        self.env = dict(os.environ, PULSE_SERVER="unix:" + self.socket)
        self.env.pop("SDL_AUDIODRIVER", None)
        for _ in range(100):
            if subprocess.run(["pactl", "info"], env=self.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0:
                return
            time.sleep(0.1)
        self.close()
        sys.exit("the private PulseAudio server did not start")

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        shutil.rmtree(self.directory, ignore_errors=True)


def peak_rss_kib(pid):
    """The process's resident high-water mark so far (VmHWM, since its exec), or 0."""
    try:
        with open(f"/proc/{pid}/status") as f:
            return int(next(l for l in f if l.startswith("VmHWM:")).split()[1])
    except (OSError, StopIteration):
        return 0


def run_measured(command, env):
    """Runs the command to its end; returns (CPU seconds, peak RSS in KiB, exit status, output)
    of that process alone. The peak is read from the running program, since the rusage one
    also counts the forked copy of this script before the exec."""
    with tempfile.TemporaryFile() as out:
        process = subprocess.Popen(command, env=env, stdout=out, stderr=subprocess.DEVNULL)
        peak = 0
        while True:
            pid, status, usage = os.wait4(process.pid, os.WNOHANG)
            if pid:
                break
            peak = max(peak, peak_rss_kib(process.pid))
            time.sleep(0.05)
        process.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        return usage.ru_utime + usage.ru_stime, peak, process.returncode, out.read()


def cpu_on_pulse(build, pulse, url, seconds, runs):
    ours, theirs = [], []
    for _ in range(runs):
        cpu, rss, _, output = run_measured([os.path.join(build, "vornel-play"), url], pulse.env)
        if b"ended" not in output:
            sys.exit("vornel-play did not play to the end:\n" + output.decode(errors="replace"))
        ours.append((cpu, rss))
        cpu, rss, status, _ = run_measured(["mpg123", "-q", "-o", "pulse", url], pulse.env)
        if status != 0:
            sys.exit("mpg123 -o pulse failed")
        theirs.append((cpu, rss))
    a, b = min(c for c, _ in ours), min(c for c, _ in theirs)
    ra, rb = min(r for _, r in ours) / 1024, min(r for _, r in theirs) / 1024
    print(f"cpu, {seconds} s 128 kbps MP3 played in real time into a PulseAudio null sink: vornel-play"
          f" {a:.3f} s, mpg123 -o pulse {b:.3f} s = {a / b:.2f}x (goal <= 1.0x; whole processes, best of {runs})")
    print(f"peak RSS, the same: vornel-play {ra:.1f} MiB, mpg123 -o pulse {rb:.1f} MiB = {ra / rb:.2f}x"
          f" (goal <= 1.3x)")


class MonitorListener:
    """parec on the null sink's monitor, read on a thread: when loud sound first arrived after
    a given moment."""

    BLOCK = 441 * 4  # 10 ms of S16LE stereo

    def __init__(self, pulse):
        self.process = subprocess.Popen(
            ["parec", "-d", "bench.monitor", "--format=s16le", "--rate=44100", "--channels=2",
             "--latency-msec=10"], env=pulse.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.lock = threading.Lock()
        self.loud = []  # arrival times of loud blocks
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        while True:
            block = self.process.stdout.read(self.BLOCK)
            if not block:
                return
            samples = array.array("h")
            samples.frombytes(block[: len(block) // 2 * 2])
            if samples and max(abs(x) for x in samples) > 2000:
                with self.lock:
                    self.loud.append(time.monotonic())

    def first_loud_after(self, moment):
        with self.lock:
            return next((t for t in self.loud if t >= moment), None)

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=10)


def process_ticks(pid, names=None):
    """(CPU seconds, voluntary context switches) of a process, over all its threads or those
    with the given names."""
    cpu, switches = 0.0, 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            if names:
                with open(f"/proc/{pid}/task/{task}/comm") as f:
                    if f.read().strip() not in names:
                        continue
            with open(f"/proc/{pid}/task/{task}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            cpu += (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
            with open(f"/proc/{pid}/task/{task}/status") as f:
                switches += int(next(l for l in f if l.startswith("voluntary_ctxt_switches")).split()[1])
        except (OSError, StopIteration):
            pass
    return cpu, switches


def idle_cost(build, pulse, seconds=20):
    silent = socket.socket()
    silent.bind(("127.0.0.1", 0))
    silent.listen(1)
    url = f"http://127.0.0.1:{silent.getsockname()[1]}/never.mp3"
    process = subprocess.Popen([os.path.join(build, "vornel-play"), url], env=pulse.env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(2)  # the device is open; the open of the URL waits for the silent server
        engine = ("threaded-ml", "vornel-sweeper")
        ours0, server0 = process_ticks(process.pid, engine), process_ticks(pulse.process.pid)
        time.sleep(seconds)
        ours1, server1 = process_ticks(process.pid, engine), process_ticks(pulse.process.pid)
    finally:
        process.terminate()
        process.wait(timeout=10)
        silent.close()
    per_minute = 60 / seconds
    print(f"idle, device open and nothing playing, over {seconds} s: vornel-play's device thread and sweeper"
          f" {(ours1[1] - ours0[1]) / seconds:.1f} wake-ups/s (goal <= 5/s),"
          f" {(ours1[0] - ours0[0]) * per_minute:.3f} s CPU/min; the sound server"
          f" {(server1[0] - server0[0]) * per_minute:.3f} s CPU/min (goal <= 0.05)")


def first_sound(listener, command, env):
    started = time.monotonic()
    process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    heard = None
    while heard is None and time.monotonic() - started < 10:
        time.sleep(0.002)
        heard = listener.first_loud_after(started)
    process.terminate()
    process.wait(timeout=10)
    time.sleep(0.5)  # the sink plays out and is silent again
    if heard is None:
        sys.exit(f"{os.path.basename(command[0])}: no sound within 10 s")
    return (heard - started) * 1000


def first_sound_comparison(build, pulse, url, runs=5):
    listener = MonitorListener(pulse)
    try:
        time.sleep(3)  # an idle null sink wakes in blocks of up to 2 s; after that it runs in short ones
        ours, theirs = [], []
        for _ in range(runs):
            ours.append(first_sound(listener, [os.path.join(build, "vornel-play"), url], pulse.env))
            theirs.append(first_sound(listener, ["mpg123", "-q", "-o", "pulse", url], pulse.env))
    finally:
        listener.close()
    a, b = sorted(ours)[runs // 2], sorted(theirs)[runs // 2]
    print(f"process start to first sound on the sink's monitor: vornel-play {a:.0f} ms, mpg123 -o pulse {b:.0f} ms"
          f" = {a / b:.2f}x (goal <= 1.0x; median of {runs}; ours {min(ours):.0f}-{max(ours):.0f} ms,"
          f" theirs {min(theirs):.0f}-{max(theirs):.0f} ms)")


def engine_bench(build, *args, env=None):
    result = subprocess.run([os.path.join(build, "engine_bench"), *args], stdout=subprocess.PIPE, timeout=600,
                            env=env, stderr=subprocess.DEVNULL)
    sys.stdout.write(result.stdout.decode(errors="replace"))
    if result.returncode != 0:
        sys.exit("engine_bench failed")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--realtime", action="store_true")
    parser.add_argument("--runs", type=int, default=1, help="real-time runs per program and track")
    options = parser.parse_args()
    for tool in ("lame", "mpg123", "pulseaudio", "pactl", "parec"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is needed for this benchmark")
    directory = tempfile.mkdtemp(prefix="vornel-engine-bench-")
    try:
        make_mp3(directory, "tone60.mp3", 60, 128)
        make_mp3(directory, "tone20.mp3", 20, 128)
        make_mp3(directory, "big.mp3", 262, 320)  # about 10 MB
        server = serve(directory)
        base = f"http://127.0.0.1:{server.server_address[1]}/"
        pulse = PrivatePulse()
        try:
            cpu_on_pulse(options.build, pulse, base + "tone20.mp3", 20, options.runs)
            cpu_on_pulse(options.build, pulse, base + "tone60.mp3", 60, options.runs)
            first_sound_comparison(options.build, pulse, base + "tone60.mp3")
            idle_cost(options.build, pulse)
            engine_bench(options.build, "stall-callback", base + "stall/tone60.mp3", base + "tone20.mp3", "8",
                         env=pulse.env)
            engine_bench(options.build, "first-sample-device", base + "tone60.mp3", "20", env=pulse.env)
        finally:
            pulse.close()
        decode_comparison(options.build, base + "tone60.mp3")
        if options.realtime:
            cpu_realtime(options.build, base + "tone60.mp3")
        engine_bench(options.build, "first-sample", base + "tone60.mp3", "20")
        engine_bench(options.build, "memory", base + "big.mp3")
        engine_bench(options.build, "memory", base + "big.mp3", "--blocks")
        server.shutdown()
    finally:
        shutil.rmtree(directory, ignore_errors=True)


if __name__ == "__main__":
    main()
