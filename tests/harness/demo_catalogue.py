"""The demo catalogue for a run: started on the ports the player has compiled in, with its
request log read while it grows."""
import os

from .processes import wait_until

CATALOGUE = "127.0.0.1:8690"
FILE_HOST = "127.0.0.2:8691"
PORT_BUSY_STATUS = 3        # vornel-demo's exit status when a port cannot be bound


def pitch_of(track_id):
    """The tone of a demo track: page 1 from 330 Hz in steps of 110, pages 2 and 3 shifted
    by 35 and 70 Hz."""
    page, index = divmod(track_id - 1, 10)
    return 330 + 110 * index + 35 * page


ALL_PITCHES = [pitch_of(i) for i in range(1, 31)]


def track_file(cache_dir, track_id, seconds):
    return os.path.join(cache_dir, "track-%02d-%dhz-%ds.mp3" % (track_id, pitch_of(track_id), seconds))


class DemoCatalogue:
    def __init__(self, executable, workdir, track_seconds):
        self.executable = executable
        self.log_path = os.path.join(workdir, "demo-requests.log")
        self.out_path = os.path.join(workdir, "demo.out")
        self.cache_dir = os.path.join(workdir, "tracks")
        self.track_seconds = track_seconds
        self.process = None

    def start(self, processes):
        """Starts the demo on the player's compiled-in ports. The tests run it in a network
        namespace of their own, where those ports are always free."""
        out = open(self.out_path, "w")
        self.process = processes.start("vornel-demo", [
            self.executable, "--track-seconds", str(self.track_seconds),
            "--log", self.log_path, "--cache-dir", self.cache_dir], stdout=out, stderr=out)
        out.close()
        if wait_until(lambda: self._ready() or self.process.poll() is not None, 120) and self._ready():
            return
        status = self.process.poll()
        if status == PORT_BUSY_STATUS:
            raise RuntimeError("ports 8690/8691 are taken by another program (a demo left running?); "
                               "run this inside tests/support/private_network.sh: %s" % self._output())
        raise RuntimeError("vornel-demo did not start (status %s): %s" % (status, self._output()))

    def _ready(self):
        return "ready" in self._output().split("\n")

    def _output(self):
        try:
            with open(self.out_path) as f:
                return f.read().strip()
        except FileNotFoundError:
            return ""

    # --- request log ---------------------------------------------------------------------

    def requests(self):
        """Every logged request so far, as (host:port, target)."""
        try:
            with open(self.log_path) as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return []
        return [tuple(line.split(" ", 1)) for line in lines if " " in line]

    def count(self, server, target):
        return sum(1 for s, t in self.requests() if s == server and t == target)

    def wait_for_count(self, server, target, count, timeout):
        return wait_until(lambda: self.count(server, target) >= count, timeout, interval=0.1)

    def tail(self, n=25):
        return "\n".join("%s %s" % r for r in self.requests()[-n:])
