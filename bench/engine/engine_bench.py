#!/usr/bin/env python3
"""Audio engine figures against a loopback HTTP server on 127.0.0.1.

  engine_bench.py [--build DIR] [--realtime]

- CPU time of vornel-play against the mpg123 CLI for a 60 s 128 kbps MP3, both writing raw
  PCM to /dev/null as fast as they can (SDL's disk driver without delay; mpg123 -s).
  With --realtime also vornel-play's CPU time for 60 s of real-time playback.
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
import subprocess
import sys
import tempfile
import threading


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


def best_cpu(build, url, runs):
    ours, theirs = [], []
    for _ in range(runs):
        cpu, result = child_cpu([os.path.join(build, "vornel-play"), url], env=vornel_play_env(0))
        if b"ended" not in result.stdout:
            sys.exit("vornel-play did not play to the end:\n" + result.stdout.decode(errors="replace"))
        ours.append(cpu)
        with open(os.devnull, "wb") as null:
            cpu, result = child_cpu(["mpg123", "-q", "-s", url], stdout=null)
        if result.returncode != 0:
            sys.exit("mpg123 failed")
        theirs.append(cpu)
    return min(ours), min(theirs)


def cpu_comparison(build, url, short_url, runs=5):
    a, b = best_cpu(build, url, runs)
    a1, b1 = best_cpu(build, short_url, runs)
    engine = []
    for _ in range(runs):
        result = subprocess.run([os.path.join(build, "engine_bench"), "decode", url], stdout=subprocess.PIPE,
                                timeout=300, check=True)
        engine.append(float(result.stdout.decode().split("decode-cpu-seconds:")[1]))
    e = min(engine)
    print(f"cpu, 60 s 128 kbps MP3 to /dev/null: vornel-play {a:.3f} s, mpg123 {b:.3f} s"
          f" = {a / b:.2f}x (goal <= 1.2x; whole processes, best of {runs})")
    print(f"cpu, the same for a 1 s MP3 (start-up, connection, device): vornel-play {a1:.3f} s, mpg123 {b1:.3f} s;"
          f" the 59 s more cost {a - a1:.3f} s against {b - b1:.3f} s")
    print(f"cpu, decoding and mixing the 60 s in the engine: {e:.3f} s"
          f" = {e / b:.2f}x mpg123's whole process (goal <= 1.2x)")


def cpu_realtime(build, url):
    cpu, result = child_cpu([os.path.join(build, "vornel-play"), url], env=vornel_play_env(None))
    print(f"cpu, 60 s real-time playback with vornel-play (SDL disk driver): {cpu:.3f} s"
          f" = {100 * cpu / 60:.2f}% of one core")


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
    options = parser.parse_args()
    for tool in ("lame", "mpg123"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is needed for this benchmark")
    directory = tempfile.mkdtemp(prefix="vornel-engine-bench-")
    try:
        make_mp3(directory, "tone60.mp3", 60, 128)
        make_mp3(directory, "tone1.mp3", 1, 128)
        make_mp3(directory, "big.mp3", 262, 320)  # about 10 MB
        server = serve(directory)
        base = f"http://127.0.0.1:{server.server_address[1]}/"
        cpu_comparison(options.build, base + "tone60.mp3", base + "tone1.mp3")
        if options.realtime:
            cpu_realtime(options.build, base + "tone60.mp3")
        engine_bench(options.build, "first-sample", base + "tone60.mp3", "20")
        engine_bench(options.build, "first-sample-device", base + "tone60.mp3", "20", env=vornel_play_env(None))
        engine_bench(options.build, "memory", base + "big.mp3")
        engine_bench(options.build, "memory", base + "big.mp3", "--blocks")
        server.shutdown()
    finally:
        shutil.rmtree(directory, ignore_errors=True)


if __name__ == "__main__":
    main()
