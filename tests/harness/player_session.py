"""The real vornelplayer under test: its private home with an XDG Downloads folder, its
sound captured by SDL's disk driver, its window found by title."""
import os
import subprocess

WINDOW_TITLE = "VornelPlayer v1.1"
CLIENT_WIDTH, CLIENT_HEIGHT = 749, 496
PLAYLIST = (8, 211, 439, 230)            # x, y, width, height in the client area
PREVIOUS_PAGE_BUTTON = (8, 444, 97, 25)


def make_home(workdir):
    """A home folder whose user-dirs.dirs names its own Downloads folder; returns
    (home, downloads)."""
    home = os.path.join(workdir, "home")
    downloads = os.path.join(home, "Music-Downloads")
    config = os.path.join(home, ".config")
    os.makedirs(downloads)
    os.makedirs(config)
    with open(os.path.join(config, "user-dirs.dirs"), "w") as f:
        f.write('XDG_DOWNLOAD_DIR="$HOME/Music-Downloads"\n')
    return home, downloads


def player_environment(base_env, workdir, home, display):
    runtime = os.path.join(workdir, "runtime")
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    env = {k: v for k, v in base_env.items()
           if k not in ("DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "XDG_CONFIG_HOME", "XDG_DATA_HOME",
                        "XDG_CACHE_HOME", "QT_QPA_PLATFORM", "SDL_AUDIODRIVER", "SDL_DISKAUDIOFILE",
                        "SESSION_MANAGER")}
    env.update({
        "HOME": home,
        "DISPLAY": display,
        "XDG_RUNTIME_DIR": runtime,
        "QT_QPA_PLATFORM": "xcb",
        "SDL_AUDIODRIVER": "disk",
        "SDL_DISKAUDIOFILE": os.path.join(workdir, "sound.raw"),
        "LANG": "C.UTF-8",
    })
    return env


class PlayerSession:
    def __init__(self, executable, workdir, display):
        self.executable = executable
        self.workdir = workdir
        self.home, self.downloads = make_home(workdir)
        self.env = player_environment(os.environ, workdir, self.home, display)
        self.sound_path = self.env["SDL_DISKAUDIOFILE"]
        self.out_path = os.path.join(workdir, "player.out")
        self.process = None
        self.window = None

    def start(self, processes):
        out = open(self.out_path, "w")
        self.process = processes.start("vornelplayer", [self.executable], env=self.env,
                                       stdout=out, stderr=subprocess.STDOUT)
        out.close()
        return self.process

    def running(self):
        return self.process is not None and self.process.poll() is None

    def not_running(self):
        """Why a check of the running player cannot run, or None when it can."""
        if self.running():
            return None
        return "the player is not running (exit status %s)" % (self.process and self.process.poll())

    def output_tail(self, lines=30):
        try:
            with open(self.out_path, errors="replace") as f:
                return "\n".join(f.read().splitlines()[-lines:])
        except FileNotFoundError:
            return ""

    def saved_files(self):
        return sorted(os.listdir(self.downloads))
