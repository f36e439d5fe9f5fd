"""XFCE's thumbnail service, tumbler, makes map previews through thumb's thumbnailer entry: run
inside dbus-run-session, asked over org.freedesktop.thumbnails.Thumbnailer1 for the normal and
large flavours, with thumb installed into a staging folder that the service's environment names.

Usage: dbus-run-session -- python3 test_tumbler.py CMAKE BUILD_DIR"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import clientsupport as cs  # noqa: E402

from gi.repository import Gio, GLib  # noqa: E402

TUMBLERD = "/usr/lib/x86_64-linux-gnu/tumbler-1/tumblerd"
BUS_NAME = "org.freedesktop.thumbnails.Thumbnailer1"
OBJECT = "/org/freedesktop/thumbnails/Thumbnailer1"


class Tumbler(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.environ.get("DBUS_SESSION_BUS_ADDRESS"):
            raise unittest.SkipTest("no session bus: run inside dbus-run-session")
        if not os.access(TUMBLERD, os.X_OK):
            raise unittest.SkipTest("tumbler is not installed (scripts/install-deps.sh installs it)")
        cls.work = tempfile.mkdtemp(prefix="thumb-tumbler-")
        usr = cs.stage_install(CMAKE, BUILD, os.path.join(cls.work, "stage"))
        cls.thumb = os.path.join(usr, "bin", "thumb")
        home = os.path.join(cls.work, "home")
        cls.cache = os.path.join(home, ".cache")
        env = dict(os.environ, HOME=home, XDG_CACHE_HOME=cls.cache,
                   XDG_DATA_HOME=os.path.join(home, ".local", "share"),
                   XDG_DATA_DIRS=os.path.join(usr, "share") + ":/usr/share",
                   PATH=os.path.join(usr, "bin") + ":" + os.environ["PATH"])
        cls.home = home
        with open(os.path.join(cls.work, "tumblerd.log"), "w") as log:
            cls.service = subprocess.Popen([TUMBLERD], env=env, stdout=subprocess.DEVNULL, stderr=log)
        cls.bus = Gio.bus_get_sync(Gio.BusType.SESSION)
        cls.proxy = None
        deadline = GLib.get_monotonic_time() + 20_000_000
        while GLib.get_monotonic_time() < deadline:
            owner = cls.bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                      "NameHasOwner", GLib.Variant("(s)", (BUS_NAME,)), None,
                                      Gio.DBusCallFlags.NONE, -1, None).unpack()[0]
            if owner:
                break
            GLib.usleep(50_000)
        else:
            raise AssertionError("tumblerd did not take " + BUS_NAME)

    @classmethod
    def tearDownClass(cls):
        cls.service.terminate()
        cls.service.wait()
        shutil.rmtree(cls.work, ignore_errors=True)

    def queue(self, paths, flavor):
        """Queues paths and collects the service's signals until it reports the request finished."""
        loop = GLib.MainLoop()
        seen = {"ready": [], "error": [], "handle": None, "finished": False}

        def on_signal(_bus, _sender, _path, _iface, name, params, _data):
            args = params.unpack()
            if seen["handle"] is not None and args[0] != seen["handle"]:
                return
            if name == "Ready":
                seen["ready"] += args[1]
            elif name == "Error":
                seen["error"] += [(u, args[3]) for u in args[1]]
            elif name == "Finished":
                seen["finished"] = True
                loop.quit()

        subscription = self.bus.signal_subscribe(None, BUS_NAME, None, OBJECT, None,
                                                 Gio.DBusSignalFlags.NONE, on_signal, None)
        uris = [cs.uri(p) for p in paths]
        seen["handle"] = self.bus.call_sync(
            BUS_NAME, OBJECT, BUS_NAME, "Queue",
            GLib.Variant("(asasssu)", (uris, [cs.MIME_TYPE] * len(uris), flavor, "foreground", 0)),
            None, Gio.DBusCallFlags.NONE, -1, None).unpack()[0]
        GLib.timeout_add_seconds(60, loop.quit)
        loop.run()
        self.bus.signal_unsubscribe(subscription)
        self.assertTrue(seen["finished"], "no Finished signal within 60 s")
        return seen

    def test_good_maps_get_previews_in_both_flavours_and_a_bad_map_an_error(self):
        maps = [cs.write_map(os.path.join(self.home, "maps", "square.ivm"), 40, 40),
                cs.write_map(os.path.join(self.home, "maps", "with space", "wide.ivm"), 30, 12)]
        bad = cs.write_map(os.path.join(self.home, "maps", "short.ivm"), 10, 10, size=100)
        for flavor, size in (("normal", 128), ("large", 256)):
            seen = self.queue(maps + [bad], flavor)
            self.assertEqual(sorted(seen["ready"]), sorted(cs.uri(m) for m in maps), flavor)
            self.assertEqual([u for u, _ in seen["error"]], [cs.uri(bad)], flavor)
            for m in maps:
                png = cs.cached_thumbnail(self.cache, flavor, m)
                self.assertTrue(os.path.exists(png), png)
                self.assertEqual(cs.GdkPixbuf.Pixbuf.new_from_file(png).get_option("tEXt::Thumb::URI"), cs.uri(m))
                self.assertEqual(cs.pixels(png), cs.expected_pixels(self.thumb, m, size, self.work), m)
            self.assertFalse(os.path.exists(cs.cached_thumbnail(self.cache, flavor, bad)))


if __name__ == "__main__":
    CMAKE, BUILD = sys.argv[1], sys.argv[2]
    cs.main()
