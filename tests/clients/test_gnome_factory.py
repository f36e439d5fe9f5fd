"""GNOME's thumbnail factory (the one Nautilus uses) makes map previews through thumb's
thumbnailer entry. The factory runs thumbnailers in a sandbox that sees /usr but no build folder,
so the built .deb is installed for the test and removed again; that needs root.

Usage: python3 test_gnome_factory.py CPACK BUILD_DIR"""

import glob
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import clientsupport as cs  # noqa: E402

import gi  # noqa: E402

gi.require_version("GnomeDesktop", "3.0")
from gi.repository import GLib, GnomeDesktop  # noqa: E402

PACKAGE = "ironvale-thumb"


def installed(package):
    result = subprocess.run(["dpkg-query", "-W", "-f=${Status}", package], capture_output=True, text=True)
    return "install ok installed" in result.stdout


class GnomeThumbnailFactory(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if os.geteuid() != 0:
            raise unittest.SkipTest("installing the built .deb needs root; skipped for this user")
        if installed(PACKAGE):
            raise unittest.SkipTest(PACKAGE + " is already installed here; this test installs and "
                                    "removes its own build, so it leaves that one alone")
        cls.work = tempfile.mkdtemp(prefix="thumb-gnome-")
        subprocess.run([CPACK, "-G", "DEB", "-B", os.path.join(cls.work, "deb")], cwd=BUILD, check=True,
                       stdout=subprocess.DEVNULL)
        deb = glob.glob(os.path.join(cls.work, "deb", PACKAGE + "_*.deb"))
        assert len(deb) == 1, deb
        subprocess.run(["dpkg", "-i", deb[0]], check=True, stdout=subprocess.DEVNULL)
        cls.addClassCleanup(subprocess.run, ["dpkg", "-r", PACKAGE], check=True, stdout=subprocess.DEVNULL)
        home = os.path.join(cls.work, "home")
        os.makedirs(home)
        os.environ.update(HOME=home, XDG_CACHE_HOME=os.path.join(home, ".cache"))
        cls.home = home

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_previews_in_both_sizes_and_none_for_a_bad_map(self):
        maps = [cs.write_map(os.path.join(self.home, "maps", "square.ivm"), 40, 40),
                cs.write_map(os.path.join(self.home, "maps", "with space", "tall.ivm"), 9, 70)]
        bad = cs.write_map(os.path.join(self.home, "maps", "huge.ivm"), -5, 100000)
        for flavor, size in (("normal", 128), ("large", 256)):
            factory = GnomeDesktop.DesktopThumbnailFactory.new(
                GnomeDesktop.DesktopThumbnailSize.NORMAL if size == 128 else GnomeDesktop.DesktopThumbnailSize.LARGE)
            for m in maps:
                mtime = int(os.stat(m).st_mtime)
                self.assertTrue(factory.can_thumbnail(cs.uri(m), cs.MIME_TYPE, mtime), m)
                pixbuf = factory.generate_thumbnail(cs.uri(m), cs.MIME_TYPE)
                factory.save_thumbnail(pixbuf, cs.uri(m), mtime)
                png = cs.cached_thumbnail(os.environ["XDG_CACHE_HOME"], flavor, m)
                self.assertEqual(cs.GdkPixbuf.Pixbuf.new_from_file(png).get_option("tEXt::Thumb::URI"), cs.uri(m))
                self.assertEqual(cs.pixels(png), cs.expected_pixels("/usr/bin/thumb", m, size, self.work), m)
            with self.assertRaises(GLib.Error):
                factory.generate_thumbnail(cs.uri(bad), cs.MIME_TYPE)


if __name__ == "__main__":
    CPACK, BUILD = sys.argv[1], sys.argv[2]
    cs.main()
