"""The private session bus as a desktop's media controls use it: playerctl and gdbus calls
to the player's MPRIS2 interface."""
import subprocess

from .session_bus import SessionBus

MPRIS_NAME = "org.mpris.MediaPlayer2.vornelplayer"
MPRIS_PATH = "/org/mpris/MediaPlayer2"
PLAYER_INTERFACE = "org.mpris.MediaPlayer2.Player"


class MediaPlayerBus(SessionBus):
    def playerctl(self, *args):
        """playerctl's output for the player, or None when it failed."""
        result = self.run(["playerctl", "-p", "vornelplayer"] + list(args))
        return result.stdout.strip() if result.returncode == 0 else None

    def call(self, interface, method, *args):
        """A method of the player's object; the completed gdbus process."""
        return self.run(["gdbus", "call", "--session", "--dest", MPRIS_NAME, "--object-path", MPRIS_PATH,
                         "--method", "%s.%s" % (interface, method)] + list(args))

    def property(self, interface, name):
        """Properties.Get as gdbus prints it, such as "(<true>,)", or None."""
        result = self.call("org.freedesktop.DBus.Properties", "Get", interface, name)
        return result.stdout.strip() if result.returncode == 0 else None

    def player_property(self, name):
        return self.property(PLAYER_INTERFACE, name)

    def property_or_none(self, name):
        """player_property, or None also when the player is too busy to answer in time."""
        try:
            return self.player_property(name)
        except subprocess.TimeoutExpired:
            return None

    def set_player_property(self, name, value):
        """Properties.Set with a GVariant text such as "<0.3>"; the completed process."""
        return self.call("org.freedesktop.DBus.Properties", "Set", PLAYER_INTERFACE, name, value)

    def name_owned(self):
        return self.has_owner(MPRIS_NAME)
