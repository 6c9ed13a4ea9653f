"""The catalogue and file host of a "life" run, served on the addresses compiled into the
player (catalogue 127.0.0.1:8690, file host 127.0.0.2:8691), inside the run's private network
namespace. Unlike the demo it can trickle a page or a saved track, slow the track pages
down, and serve pages of any size. Every request is logged.

Catalogue:  /            the front page: `front` entries, or a trickling page (drip_front)
            /page/N/     `pages[N]`, bytes set by the run
File host:  /file/N      the track page of entry N, after `track_page_delay` seconds
            /audio/N.mp3 a tone (one of PITCHES, by N); from request number
                         `trickle_audio_from` on, the reply trickles
"""
import http.server
import os
import re
import socketserver
import subprocess
import threading
import time

CATALOGUE = ("127.0.0.1", 8690)
FILE_HOST = ("127.0.0.2", 8691)
PITCHES = (440, 660, 880)
RATE = 44100


def pitch_of(entry):
    return PITCHES[entry % len(PITCHES)]


def track_title(entry):
    return "Track %d" % entry


def entry_links(entries, first=1):
    return "".join('<li><a href="http://%s:%d/file/%d">%s</a></li>\n' % (FILE_HOST + (n, track_title(n)))
                   for n in range(first, first + entries))


def html_page(body):
    return ("<!DOCTYPE html><html><head><title>life</title></head><body>%s</body></html>" % body).encode()


def anchors_page(entries):
    """A catalogue page of `entries` entries, Track 1 onwards, and a link to the next page."""
    return html_page('<ul>\n%s</ul><a href="/page/2/">older</a>' % entry_links(entries))


def tone_mp3(pitch, seconds, cache_dir):
    """A mono sine tone encoded by lame, cached by pitch and length."""
    path = os.path.join(cache_dir, "tone-%d-%ds.mp3" % (pitch, seconds))
    if not os.path.exists(path):
        import array
        import math
        samples = array.array("h", (int(12000 * math.sin(2 * math.pi * pitch * i / RATE))
                                    for i in range(RATE * seconds)))
        subprocess.run(["lame", "--quiet", "-r", "-s", "44.1", "--bitwidth", "16", "--signed", "--little-endian",
                        "-m", "m", "-b", "128", "-", path], input=samples.tobytes(), check=True)
    with open(path, "rb") as f:
        return f.read()


class _Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


class LifeSite:
    def __init__(self, cache_dir, track_seconds=20):
        self.cache_dir = cache_dir
        self.track_seconds = track_seconds
        self.front = anchors_page(5)
        self.drip_front = False
        self.pages = {}
        self.track_page_delay = 0.0
        self.trickle_audio_from = None
        self._audio_counts = {}
        self._tones = {}
        self._log = []
        self._lock = threading.Lock()
        self._stopping = threading.Event()
        self._servers = []

    # --- running -------------------------------------------------------------------------

    def start(self):
        os.makedirs(self.cache_dir, exist_ok=True)
        for pitch in PITCHES:
            self._tones[pitch] = tone_mp3(pitch, self.track_seconds, self.cache_dir)
        for address in (CATALOGUE, FILE_HOST):
            server = _Server(address, self._handler())
            threading.Thread(target=server.serve_forever, daemon=True).start()
            self._servers.append(server)

    def stop(self):
        self._stopping.set()
        for server in self._servers:
            server.shutdown()
            server.server_close()

    def tone(self, entry):
        """The bytes of entry's track."""
        return self._tones[pitch_of(entry)]

    # --- the request log -----------------------------------------------------------------

    def requests(self):
        """Every request so far as (host:port, target), in arrival order."""
        with self._lock:
            return list(self._log)

    def count(self, target, host=None):
        return sum(1 for h, t in self.requests() if t == target and (host is None or h == host))

    def track_pages(self, since=0):
        """The entry numbers whose track pages were requested, from the index `since` of the log."""
        return [int(t[len("/file/"):]) for _, t in self.requests()[since:] if t.startswith("/file/")]

    def _note(self, host, target):
        with self._lock:
            self._log.append((host, target))
            if target.startswith("/audio/"):
                self._audio_counts[target] = self._audio_counts.get(target, 0) + 1
                return self._audio_counts[target]
        return 0

    # --- serving -------------------------------------------------------------------------

    def _handler(self):
        site = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.0"

            def log_message(self, *args):
                pass

            def do_GET(self):
                host = "%s:%d" % self.server.server_address[:2]
                number = site._note(host, self.path)
                try:
                    site._serve(self, self.server.server_address[:2], number)
                except (BrokenPipeError, ConnectionResetError):
                    pass

        return Handler

    def _serve(self, request, address, number):
        path = request.path
        if address == CATALOGUE:
            if path == "/" and self.drip_front:
                return self._trickle(request, "text/html", b" " * 100000, piece=1, pause=1.0)
            body = self.front if path == "/" else self.pages.get(self._page_number(path))
            return self._reply(request, "text/html; charset=utf-8", body)
        match = re.fullmatch(r"/file/(\d+)", path)
        if match:
            time.sleep(self.track_page_delay)
            entry = int(match.group(1))
            page = '<p>%s</p><p>{mp3:"http://%s:%d/audio/%d.mp3"}</p>' % ((track_title(entry),) + FILE_HOST + (entry,))
            return self._reply(request, "text/html; charset=utf-8", page.encode())
        match = re.fullmatch(r"/audio/(\d+)\.mp3", path)
        if match:
            tone = self._tones[pitch_of(int(match.group(1)))]
            if self.trickle_audio_from is not None and number >= self.trickle_audio_from:
                return self._trickle(request, "audio/mpeg", tone, piece=2048, pause=0.5)
            return self._reply(request, "audio/mpeg", tone)
        return self._reply(request, "text/html", None)

    @staticmethod
    def _page_number(path):
        match = re.fullmatch(r"/page/(\d+)/", path)
        return int(match.group(1)) if match else None

    @staticmethod
    def _reply(request, content_type, body):
        if body is None:
            request.send_response(404)
            body = b"not here"
        else:
            request.send_response(200)
        request.send_header("Content-Type", content_type)
        request.send_header("Content-Length", str(len(body)))
        request.end_headers()
        request.wfile.write(body)

    def _trickle(self, request, content_type, body, piece, pause):
        """The head at once, then the body in pieces with a pause before each, until it is all
        sent, the client goes away or the site stops."""
        request.send_response(200)
        request.send_header("Content-Type", content_type)
        request.send_header("Content-Length", str(len(body)))
        request.end_headers()
        request.wfile.flush()
        for start in range(0, len(body), piece):
            if self._stopping.wait(pause):
                return
            request.wfile.write(body[start:start + piece])
            request.wfile.flush()
