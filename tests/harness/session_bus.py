"""A private D-Bus session bus for a run: a dbus-daemon of its own on a socket in the run's
folder, without service activation, that lets a monitor eavesdrop."""
import os
import subprocess

from .processes import wait_until

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%s</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


def read(path):
    """The text of a log file, or "" while it does not exist."""
    try:
        with open(path, errors="replace") as f:
            return f.read()
    except FileNotFoundError:
        return ""


class SessionBus:
    def __init__(self, workdir):
        self.workdir = workdir
        self.socket = os.path.join(workdir, "bus")
        self.address = "unix:path=" + self.socket
        self.env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.address)

    def start(self, processes, log=None):
        """Starts the daemon; returns once it answers."""
        config = os.path.join(self.workdir, "bus.conf")
        with open(config, "w") as f:
            f.write(BUS_CONFIG % self.socket)
        processes.start("dbus-daemon", ["dbus-daemon", "--config-file=" + config, "--nofork", "--nopidfile"],
                        stderr=log)
        if not wait_until(self.answers, 10, interval=0.1):
            raise RuntimeError("the private dbus-daemon did not start")

    def run(self, argv, timeout=10):
        return subprocess.run(argv, env=self.env, capture_output=True, text=True, timeout=timeout)

    def bus_call(self, method, *args):
        """A method of the bus itself; the completed gdbus process."""
        return self.run(["gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                         "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus." + method] + list(args))

    def answers(self):
        return os.path.exists(self.socket) and self.bus_call("GetId").returncode == 0

    def names(self):
        return self.bus_call("ListNames").stdout

    def has_owner(self, name):
        return "true" in self.bus_call("NameHasOwner", name).stdout
