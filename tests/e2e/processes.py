"""Starts the helper processes of a run and stops each of them, by its own id, at the end."""
import os
import signal
import subprocess
import time


class Processes:
    def __init__(self):
        self._started = []      # (name, Popen), in start order

    def start(self, name, argv, env=None, stdout=None, stderr=None, pass_fds=()):
        process = subprocess.Popen(argv, env=env, stdout=stdout or subprocess.DEVNULL,
                                   stderr=stderr or subprocess.DEVNULL, stdin=subprocess.DEVNULL,
                                   pass_fds=pass_fds, start_new_session=True)
        self._started.append((name, process))
        return process

    def stop(self, process, grace=5.0):
        """SIGTERM, then SIGKILL after the grace period. Returns the exit status."""
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(timeout=grace)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait(timeout=grace)
        return process.returncode

    def stop_all(self):
        for _, process in reversed(self._started):
            self.stop(process)
        self._started.clear()


def wait_until(condition, timeout, interval=0.05):
    """Polls condition() until it returns something true or the time is up; returns its
    last result."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result or time.monotonic() >= deadline:
            return result
        time.sleep(interval)
