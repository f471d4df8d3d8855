"""Screenshots of the wizard's pages: a Wine prefix drawing into Xvfb through a virtual desktop.

Used by the screenshot tests, the README's pictures (tools/screenshots.sh) and the main job."""
import os
import subprocess
import time

import winetest
from wizard import (ASSOC_LIST, FOLDER, IDYES, IMAGES_ONLY, SHEET_NEXT, WRITE_ASSOCIATIONS, Wizard)

PAGE_NAMES = ["1-welcome", "2-whats-new", "3-associations", "4-ready", "5-finish"]


class Display:
    """A private Xvfb server; the wizard's prefix draws into it."""

    def __init__(self, width=1024, height=768):
        read, write = os.pipe()
        self.server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0",
                                        "%dx%dx24" % (width, height), "-nolisten", "tcp"],
                                       pass_fds=(write,), stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as pipe:
            self.name = ":" + pipe.readline().strip()

    def capture(self, path, rect=None):
        """The screen, or the rectangle (left, top, right, bottom) of it, as a PNG file."""
        os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
        raw = path + ".full.png"
        subprocess.run(["import", "-display", self.name, "-window", "root", raw], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        crop = [] if rect is None else ["-crop", "%dx%d+%d+%d" % (rect[2] - rect[0], rect[3] - rect[1],
                                                                 rect[0], rect[1]), "+repage"]
        subprocess.run(["convert", raw, *crop, "-strip", path], check=True)
        os.remove(raw)

    def close(self):
        self.server.terminate()
        self.server.wait(timeout=30)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def visual_prefix(version="win7", dpi=96, size=(1024, 768)):
    """A fresh prefix that draws with the X11 driver into a virtual desktop of size, at the given DPI."""
    prefix = winetest.Prefix(version)
    prefix.set_value("user", r"Software\Wine\Drivers", "Graphics", "x11")
    prefix.set_value("user", r"Software\Wine\Explorer", "Desktop", "Default")
    prefix.set_value("user", r"Software\Wine\Explorer\Desktops", "Default", "%dx%d" % size)
    prefix.set_value("user", r"Control Panel\Desktop", "LogPixels", dpi)
    return prefix


def sheet_rect(wizard):
    return tuple(int(v) for v in wizard.ok("sheetrect").split())


def capture_pages(folder, dpi=96, version="win7", on_page=None, target="C:\\Apps\\Glimmerly", size=(1024, 768)):
    """Walks the wizard through its five pages (installing into target) and saves one picture of each
    page into folder; on_page(index, wizard) runs on each page once it is drawn. Returns the file
    names."""
    shots = []
    with Display(*size) as display, visual_prefix(version, dpi, size) as prefix:
        wizard = Wizard(prefix, display=display.name)
        try:
            wizard.set_text(FOLDER, target)
            for index, name in enumerate(PAGE_NAMES):
                wizard.wait_page(index)
                if index == 2:
                    wizard.click(WRITE_ASSOCIATIONS)
                    wizard.click(IMAGES_ONLY)
                    wizard.ok("listensure", ASSOC_LIST, 0)
                time.sleep(1.0)  # let the page finish painting
                if on_page:
                    on_page(index, wizard)
                path = os.path.join(folder, "%s.png" % name)
                display.capture(path, sheet_rect(wizard))
                shots.append(path)
                if index < 4:
                    wizard.click(SHEET_NEXT)
                if index == 3:
                    wizard.box()
                    wizard.answer(IDYES)
        finally:
            wizard.close()
    return shots
