"""The wizard end to end: the real setup program in a fresh prefix, worked by the driver as a user
would: the welcome page's choices, the keyboard, and leaving the wizard before installing."""
import time
import unittest

from test_binary import STRINGS
from winetest import Prefix
from wizard import *  # noqa: F401,F403 (control ids, to_page)


class WelcomePage(unittest.TestCase):
    def test_folder_check_buttons_and_shortcut_choices(self):
        with Prefix("win7") as p:
            w = Wizard(p)
            try:
                self.assertEqual(w.text(TITLE), "Willkommen zur Glimmerly 32 Installation!")
                self.assertEqual(w.text(VERSION_LINE), "Dieses Programm wird Glimmerly Version  4.62  (32 bit) auf "
                                 "Ihrem PC installieren.\n(Bitte mit Admin-Rechten ausführen)")
                self.assertEqual((w.text(SHEET_BACK), w.text(SHEET_NEXT), w.text(SHEET_CANCEL)),
                                 ("< &Zurück", "&Weiter >", STRINGS[1]))
                self.assertEqual([w.checked(c) for c in (DESKTOP, THUMBNAILS, START_MENU, CURRENT_USER, ALL_USERS)],
                                 [True, True, True, True, False])
                self.assertFalse(w.enabled(SHEET_BACK))

                for folder in ["", "\\\\server\\share\\Glimmerly", "Glimmerly"]:
                    w.set_text(FOLDER, folder)
                    w.next()
                    self.assertEqual(w.box(), (IDOK, STRINGS[5]), folder)
                    w.answer(IDOK)
                    self.assertEqual(w.page(), 0)
                    self.assertFalse(w.enabled(SHEET_BACK), "Back after a refused folder")

                w.click(ALL_USERS)
                w.click(NO_SHORTCUTS)
                self.assertEqual([w.state(c)[::2] for c in (DESKTOP, THUMBNAILS, START_MENU, CURRENT_USER, ALL_USERS)],
                                 [(1, 0), (1, 0), (1, 0), (0, 0), (0, 1)])
                w.click(THUMBNAILS)
                self.assertEqual([w.state(c)[::2] for c in (CURRENT_USER, ALL_USERS)], [(1, 0), (1, 1)])

                w.set_text(FOLDER, "D:")
                to_page(w, 3)
                self.assertEqual(w.ok("title"), "Glimmerly 32-bit Setup", "the title stays on every page")
                self.assertTrue(w.enabled(SHEET_BACK))
                self.assertEqual(w.text(TARGET_LINE), "Zielverzeichnis: D:")
                for page in (2, 1, 0):
                    w.back()
                    w.wait_page(page)
                self.assertFalse(w.enabled(SHEET_BACK), "Back on every activation of the welcome page")
                self.assertEqual((w.text(FOLDER), w.checked(THUMBNAILS), w.checked(DESKTOP), w.checked(ALL_USERS)),
                                 ("D:", True, False, True))
            finally:
                w.close()

    def test_existing_installation_and_running_viewer(self):
        with Prefix("win7") as p:
            p.run("/silent /folder=" + APPS)
            p.start_viewer()
            w = Wizard(p, attach=False)
            try:
                self.assertEqual(w.box(), (IDOK, STRINGS[10]))
                w.answer(IDOK)
                w.attach()
                self.assertEqual(w.text(FOLDER), APPS + "\\")
                w.next()
                w.wait_page(1)
                w.back()
                self.assertEqual(w.box(), (IDOK, STRINGS[10]), "warned on every activation")
                w.answer(IDOK)
                to_page(w, 3)
                w.next()
                self.assertEqual(w.box(), (IDOK, STRINGS[10]), "no installation while the viewer runs")
                w.answer(IDOK)
                self.assertEqual(w.page(), 3)
            finally:
                w.close()


def tab_cycle(w):
    """The controls that Tab visits, by id, until the focus is back where it was."""
    start, seen = w.ok("focus"), []
    while len(seen) < 20 and (not seen or seen[-1] != start):
        w.keys("Tab")
        seen.append(w.ok("focus"))
    return [int(focus.split()[0]) for focus in seen]


class Keyboard(unittest.TestCase):
    def test_tab_enter_escape_and_access_keys(self):
        with Prefix("win7") as p:
            w = Wizard(p)
            try:
                # Reading order, the licence link included; the disabled Back is left out.
                self.assertEqual(tab_cycle(w), [THUMBNAILS, START_MENU, NO_SHORTCUTS, CURRENT_USER, FOLDER, BROWSE,
                                                EULA, SHEET_NEXT, SHEET_CANCEL, DESKTOP])
                w.click(ALL_USERS)
                w.keys("alt+n")
                self.assertTrue(w.checked(CURRENT_USER) and w.no_box(500), "Alt+N is no longer Beenden's")
                w.keys("Return")
                w.wait_page(1)
                self.assertEqual(w.ok("focus"), "%d page" % CHANGES)
                w.keys("Down", "Down")
                caret = int(w.ok("send", CHANGES, 0xB0))  # EM_GETSEL
                self.assertTrue(0 < caret % 65536 == caret // 65536, "the text box reads the arrow keys")
                self.assertEqual(tab_cycle(w), [SHEET_BACK, SHEET_NEXT, SHEET_CANCEL, CHANGES])
                w.keys("Escape")
                self.assertEqual(w.box(), (IDNO, STRINGS[3]))
                w.answer(IDNO)
                w.keys("Return")
                w.wait_page(2)
                # A pressed Back became the sheet's default; Enter moves on all the same.
                w.back()
                w.wait_page(1)
                # The sheet sets its default by a posted message, before any key typed after the change.
                deadline = time.time() + 5
                while True:
                    frames = [int(w.ok("send", b, 0x87)) & 0x10 for b in (SHEET_BACK, SHEET_NEXT)]
                    if frames == [0, 0x10] or time.time() > deadline:
                        break
                    time.sleep(0.1)
                self.assertEqual(frames, [0, 0x10], "the default frame (WM_GETDLGCODE)")
                w.keys("Return")
                w.wait_page(2)
                w.keys("alt+z", "alt+z")
                w.wait_page(0)
                w.keys("alt+r")
                self.assertEqual(w.ok("focus"), "%d page" % FOLDER, "the folder field by its frame's key")
                w.keys("Return")
                w.wait_page(1)
                # A line longer than the box is wrapped, so it can be read to its end.
                w.set_text(CHANGES, "Eine lange Zeile ohne Umbruch " * 12)
                self.assertGreater(int(w.ok("send", CHANGES, 0xBA)), 2, "lines shown (EM_GETLINECOUNT)")
                w.keys("Return")
                w.wait_page(2)
                # The list and its three buttons by their keys; the list shows where the focus is.
                w.click(WRITE_ASSOCIATIONS)
                w.keys("alt+d")
                self.assertEqual(w.ok("focus"), "%d page" % ASSOC_LIST)
                self.assertEqual(w.ok("send", ASSOC_LIST, 0x100C, -1, 1), "0", "the focused row (LVNI_FOCUSED)")
                for key, states in (("alt+n", "2" * 49 + "1" * 14), ("alt+a", "2" * 63), ("alt+e", "1" * 63)):
                    w.keys(key)
                    self.assertEqual(w.list_states(), states, key)
            finally:
                w.close()


class LeavingTheWizard(unittest.TestCase):
    def test_cancel_and_close_box_ask_once(self):
        with Prefix("win7") as p:
            w = Wizard(p)
            try:
                to_page(w, 2)
                w.click(SHEET_CANCEL)
                self.assertEqual(w.box(), (IDNO, STRINGS[3]))
                w.answer(IDNO)
                w.do("close")
                self.assertEqual(w.box(), (IDNO, STRINGS[3]))
                w.answer(IDNO)
                self.assertEqual(w.page(), 2)
                w.do("close")
                w.box()
                w.answer(IDYES)
                self.assertTrue(w.ended(30), "Yes ends the program without a second question")
            finally:
                w.close()
            program_files = p.key("system", r"Software\Microsoft\Windows\CurrentVersion")["ProgramFilesDir"]
            self.assertFalse(p.exists(program_files + "\\Glimmerly"))
            self.assertIsNone(p.key("system", r"Software\Classes\Glimmerly"))


if __name__ == "__main__":
    unittest.main()
