"""Starts the helper processes of a run and stops each of them, by its own id, at the end."""
import ctypes
import signal
import subprocess
import time

_PR_SET_PDEATHSIG = 1


def _die_with_parent():
    """Runs in the child before exec: it gets SIGTERM when the harness ends in any way, so
    that a killed run does not leave a display, a demo on the shared ports or a player."""
    ctypes.CDLL(None, use_errno=True).prctl(_PR_SET_PDEATHSIG, signal.SIGTERM)


class Processes:
    """Every helper process of a run; as a context, all of them are stopped when it ends,
    however it ends."""

    def __init__(self):
        self._started = []      # (name, Popen), in start order

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.stop_all()
        return False

    def start(self, name, argv, env=None, stdout=None, stderr=None, pass_fds=()):
        process = subprocess.Popen(argv, env=env, stdout=stdout or subprocess.DEVNULL,
                                   stderr=stderr or subprocess.DEVNULL, stdin=subprocess.DEVNULL,
                                   pass_fds=pass_fds, preexec_fn=_die_with_parent)
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


def stop_on_signals():
    """SIGTERM and SIGHUP end the runner through SystemExit, so that its clean-up runs."""
    def stop(number, _frame):
        raise SystemExit("stopped by signal %d" % number)
    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGHUP, stop)


def wait_until(condition, timeout, interval=0.05):
    """Polls condition() until it returns something true or the time is up; returns its
    last result."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result or time.monotonic() >= deadline:
            return result
        time.sleep(interval)
