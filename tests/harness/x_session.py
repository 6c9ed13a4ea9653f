"""A private X display for a run: Xvfb on a free display number, a tray host, and the
xdotool and ImageMagick calls the checks use."""
import os
import select
import subprocess

from .processes import wait_until

SCREEN = "1280x1024x24"


def start_xvfb(processes, log):
    """Starts Xvfb on a display number it picks itself; returns the DISPLAY string."""
    read_end, write_end = os.pipe()
    processes.start("Xvfb", ["Xvfb", "-displayfd", str(write_end), "-screen", "0", SCREEN,
                             "-nolisten", "tcp", "-noreset"],
                    stderr=log, pass_fds=(write_end,))
    os.close(write_end)
    number = b""
    ready, _, _ = select.select([read_end], [], [], 30)
    while ready:
        chunk = os.read(read_end, 16)
        if not chunk:
            break
        number += chunk
        if number.endswith(b"\n"):
            break
        ready, _, _ = select.select([read_end], [], [], 5)
    os.close(read_end)
    number = number.strip().decode()
    if not number.isdigit():
        raise RuntimeError("Xvfb did not report a display number")
    return ":" + number


def start_display(processes, workdir, tray=False):
    """Xvfb on a free display and, when asked, a tray host, both logging to workdir/xvfb.log;
    returns the XSession."""
    with open(os.path.join(workdir, "xvfb.log"), "w") as log:
        x = XSession(start_xvfb(processes, log), os.environ)
        if tray:
            x.start_tray(processes, log)
    return x


class XSession:
    def __init__(self, display, env):
        self.display = display
        self.env = dict(env, DISPLAY=display)

    def run(self, argv, timeout=15, check=False):
        result = subprocess.run(argv, env=self.env, capture_output=True, text=True, timeout=timeout)
        if check and result.returncode != 0:
            raise RuntimeError("%s failed (%d): %s" % (" ".join(argv), result.returncode, result.stderr.strip()))
        return result

    def start_tray(self, processes, log):
        return processes.start("trayer", ["trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                                          "--height", "24", "--transparent", "false"],
                               env=self.env, stderr=log)

    def find_window(self, title, timeout):
        """The id of the first visible window whose title is exactly `title`, or None."""
        def search():
            result = self.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title])
            ids = result.stdout.split()
            return int(ids[0]) if result.returncode == 0 and ids else None
        return wait_until(search, timeout, interval=0.2)

    def geometry(self, window):
        """(x, y, width, height) of the window on the screen."""
        out = self.run(["xdotool", "getwindowgeometry", "--shell", str(window)], check=True).stdout
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def focus(self, window):
        self.run(["xdotool", "windowfocus", "--sync", str(window)])

    def key(self, *keys):
        self.run(["xdotool", "key", "--clearmodifiers"] + list(keys), check=True)

    def click(self, window, x, y):
        """A left click at (x, y) inside the window."""
        self.run(["xdotool", "mousemove", "--window", str(window), "--sync", str(x), str(y)], check=True)
        self.run(["xdotool", "click", "1"], check=True)

    def screenshot(self, path):
        return self.run(["import", "-window", "root", path], timeout=30).returncode == 0

    def bright_pixels(self, x, y, width, height):
        """How many pixels of the screen rectangle have a channel at 0x80 or above."""
        result = subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (width, height, x, y),
                                 "-depth", "8", "rgb:-"], env=self.env, capture_output=True, timeout=30)
        data = result.stdout
        return sum(1 for i in range(0, len(data) - 2, 3) if max(data[i], data[i + 1], data[i + 2]) >= 0x80)
