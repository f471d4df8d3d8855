"""The setup program's wizard, worked from another process in the same prefix as a user would.

The driver (fixtures/wizard_driver.exe) runs for the whole session and answers one line per command;
see its source for the commands."""
import os
import subprocess

import winetest

SHEET_BACK, SHEET_NEXT, SHEET_FINISH, SHEET_CANCEL = 12323, 12324, 12325, 2
IDYES, IDNO, IDOK = 6, 7, 1
# Controls of the pages, by the ids of their dialog templates.
FOLDER, BROWSE, DESKTOP, START_MENU, TITLE, CURRENT_USER, ALL_USERS, NO_SHORTCUTS, THUMBNAILS, EULA, \
    VERSION_LINE = 1000, 1009, 1011, 1012, 1013, 1016, 1017, 1019, 1021, 1045, 1056
CHANGES = 1000
ASSOC_ALL_USERS, SELECT_ALL, SELECT_NONE, IMAGES_ONLY, ASSOC_LIST, WRITE_ASSOCIATIONS = \
    1037, 1080, 1081, 1091, 1579, 3311
TARGET_LINE, READY_TITLE, SETTINGS_IN_PROGRAM, SETTINGS_IN_APPDATA, STATUS_LINE, INSTALL_PROGRESS = \
    1010, 1014, 1038, 1039, 1044, 1046
FINISH_TITLE, START_VIEWER, SHOW_FAQ, FINISH_TEXT, RESTART_NOW, RESTART_LATER = 1015, 1020, 1022, 1023, 1024, 1025
LOGO_CONTROL, SPACE_LINE, PROGRESS_STEP = 1026, 1027, 1028
# The folder most tests install into.
APPS = "C:\\Apps\\Glimmerly"
KEYS = {"Return": 0x0D, "Escape": 0x1B, "Tab": 0x09, "Down": 0x28}


def _unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append({"n": "\n", "r": "\r"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


class Wizard:
    """Starts the setup program without "/silent" in prefix and attaches the driver to its sheet."""

    def __init__(self, prefix, command_line="", cwd="C:\\", display=None, attach=True, exe=None):
        extra = {"DISPLAY": display} if display else None
        self.prefix = prefix
        self.process = prefix.start(command_line, cwd=cwd, exe=exe, extra_env=extra)
        driver = os.path.join(winetest.FIXTURES, "wizard_driver.exe")
        self.driver = subprocess.Popen([winetest.WINE, driver], env=winetest._env(prefix.path, extra, prefix.arch),
                                       stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL, text=True, encoding="utf-8")
        if attach:
            self.attach()

    def attach(self):
        """Waits for the sheet; a question asked while the first page is set up comes before it."""
        self.ok("sheet", 60000)

    def do(self, *words):
        self.driver.stdin.write(" ".join(str(w) for w in words) + "\n")
        self.driver.stdin.flush()
        return self.driver.stdout.readline().rstrip("\n")

    def ok(self, *words):
        answer = self.do(*words)
        if not answer.startswith("ok"):
            raise AssertionError("%s: %s" % (" ".join(str(w) for w in words), answer))
        return answer[3:]

    # --- what a user sees -------------------------------------------------------------------------
    def page(self):
        return int(self.ok("page"))

    def text(self, control):
        return _unescape(self.ok("text", control))

    def state(self, control):
        """(enabled, visible, checked) of a control of the current page or the sheet."""
        return tuple(int(v) for v in self.ok("state", control).split())

    def enabled(self, control):
        return self.state(control)[0] == 1

    def checked(self, control):
        return self.state(control)[2] == 1

    def list_states(self, control=ASSOC_LIST):
        """The state image of every row: '1' unchecked, '2' checked."""
        count, _, states = self.ok("list", control).partition(" ")
        assert int(count) == len(states)
        return states

    def box(self, timeout=15000):
        """The message box that is open now: (default button id, text)."""
        default, _, text = self.ok("box", timeout).partition(" ")
        return int(default), _unescape(text)

    def no_box(self, timeout=1500):
        return self.do("box", timeout) == "error no box"

    # --- what a user does -------------------------------------------------------------------------
    def click(self, control):
        self.ok("click", control)

    def set_text(self, control, text):
        self.ok("settext", control, text)

    def next(self):
        self.click(SHEET_NEXT)

    def back(self):
        self.click(SHEET_BACK)

    def answer(self, button):
        self.ok("answer", button)

    def keys(self, *names):
        """Presses keys by name ("Return", "shift+Tab", "alt+n"), one after the other."""
        for name in names:
            modifier, _, key = name.rpartition("+")
            code = KEYS[key] if key in KEYS else ord(key.upper())
            self.ok("key", code, {"": 0, "shift": 0x10, "alt": 0x12}[modifier])

    def wait_page(self, index, timeout=60):
        import time
        deadline = time.time() + timeout
        while time.time() < deadline:
            if self.page() == index:
                return
            time.sleep(0.1)
        raise AssertionError("page %d did not come (now %d)" % (index, self.page()))

    def ended(self, timeout=60):
        """Waits for the setup program to end; True when it did."""
        try:
            self.process.wait(timeout=timeout)
            return True
        except subprocess.TimeoutExpired:
            return False

    def status(self):
        """The setup program's exit status, once it has ended."""
        return winetest.exit_status(self.process.communicate(timeout=30)[0])

    def close(self):
        if self.driver.poll() is None:
            self.driver.stdin.close()
            self.driver.wait(timeout=30)
        self.driver.stdout.close()


def to_page(w, index):
    """Next until the page at index is shown (no question on the way)."""
    while w.page() < index:
        current = w.page()
        w.next()
        w.wait_page(current + 1)
