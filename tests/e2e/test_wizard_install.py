"""The wizard's installations end to end: the real setup program in a fresh prefix, worked by the driver
as a user would: what the installation leaves, its progress, and the finish actions."""
import os
import shutil
import stat
import struct
import tempfile
import time
import re
import unittest
import zipfile
import zlib

import winetest
from test_binary import STRINGS
from winetest import USER, Prefix
from wizard import *  # noqa: F401,F403 (control ids, to_page)


# The wizard's record of choices after the installation of the first test below: every value the
# design's defaults give on Windows 7, with the image types chosen.
CHOICES_KEY = "software\\glimmerly\\setup\\choices"
CHOICES = {"DesktopShortcut": 1, "ThumbnailsShortcut": 1, "StartMenuGroup": 1, "ShortcutsForAllUsers": 0,
           "WriteAssociations": 1, "AssociationsForAllUsers": 0, "SettingsInApplicationData": 1,
           "AssociationSelection": "1" * 49 + "0" * 15}


def end_without_finish_actions(test, w):
    """Clears both boxes of the finish page and ends the wizard with its button."""
    w.click(SHOW_FAQ)
    w.click(START_VIEWER)
    w.click(SHEET_CANCEL)
    test.assertTrue(w.ended(30))


class Installation(unittest.TestCase):
    def test_wizard_leaves_what_the_matching_silent_installation_leaves_and_its_choices_for_the_next(self):
        with Prefix("win7") as silent:
            silent.run("/silent /folder=%s /desktop=1 /group=1 /assoc=1" % APPS)
            expected = silent.snapshot()
        with Prefix("win7") as p:
            w = Wizard(p)
            try:
                w.set_text(FOLDER, APPS)
                w.click(THUMBNAILS)
                to_page(w, 2)
                w.click(WRITE_ASSOCIATIONS)
                w.click(IMAGES_ONLY)
                self.assertEqual(w.list_states(), "2" * 49 + "1" * 14)
                to_page(w, 3)
                self.assertTrue(w.checked(SETTINGS_IN_APPDATA))
                w.next()
                self.assertEqual(w.box(), (IDNO, STRINGS[9]))
                w.answer(IDYES)
                w.wait_page(4)
                self.assertEqual((w.enabled(SHEET_BACK), w.enabled(SHEET_NEXT), w.text(SHEET_CANCEL)),
                                 (False, False, STRINGS[2]))
                end_without_finish_actions(self, w)
            finally:
                w.close()
            actual = p.snapshot()
            # Beyond what the silent road leaves: the wizard's record of its choices.
            record = actual["system"].pop(CHOICES_KEY)
            for parent in ("software\\glimmerly\\setup", "software\\glimmerly"):
                if parent not in expected["system"] and actual["system"].get(parent) == {}:
                    actual["system"].pop(parent)
            self.assertEqual(record, dict(CHOICES, ThumbnailsShortcut=0))
            # The record of the completed run names the folder by its volume and number, which differ
            # between the two prefixes.
            for snapshot in (actual, expected):
                journals = snapshot["system"].get("software\\glimmerly\\setup\\journals", {})
                for name, value in journals.items():
                    journals[name] = re.sub(r"(\|installed:)[0-9a-f]{24}$", r"\1(folder)", value)
            self.assertEqual(sorted(actual["files"]), sorted(expected["files"]))
            for path, data in expected["files"].items():
                self.assertEqual(actual["files"][path], data, path)
            for hive in ("system", "user"):
                self.assertEqual(actual[hive], expected[hive], hive)

            # The upgrade starts from that record; what it changes is recorded in turn.
            w = Wizard(p)
            try:
                self.assertEqual([w.checked(c) for c in (DESKTOP, THUMBNAILS, START_MENU, CURRENT_USER, ALL_USERS)],
                                 [True, False, True, True, False])
                w.click(THUMBNAILS)
                w.click(ALL_USERS)
                to_page(w, 2)
                self.assertEqual((w.checked(WRITE_ASSOCIATIONS), w.enabled(ASSOC_LIST), w.list_states()),
                                 (True, True, "2" * 49 + "1" * 14))
                w.click(WRITE_ASSOCIATIONS)
                to_page(w, 3)
                self.assertTrue(w.checked(SETTINGS_IN_APPDATA))
                w.click(SETTINGS_IN_PROGRAM)
                w.next()
                w.wait_page(4)
                end_without_finish_actions(self, w)
            finally:
                w.close()
            self.assertEqual(p.key("system", CHOICES_KEY),
                             dict(CHOICES, ShortcutsForAllUsers=1, WriteAssociations=0, SettingsInApplicationData=0,
                                  AssociationSelection="0" * 64))
            w = Wizard(p)
            try:
                self.assertEqual([w.checked(c) for c in (DESKTOP, THUMBNAILS, START_MENU, CURRENT_USER, ALL_USERS)],
                                 [True, True, True, False, True])
                to_page(w, 2)
                self.assertEqual((w.checked(WRITE_ASSOCIATIONS), w.enabled(ASSOC_LIST)), (False, False))
                to_page(w, 3)
                self.assertEqual((w.checked(SETTINGS_IN_PROGRAM), w.checked(SETTINGS_IN_APPDATA)), (True, False))
            finally:
                w.close()

    def test_failed_folder_keeps_every_choice_and_no_keeps_the_associations(self):
        with Prefix("win7") as p:
            w = Wizard(p)
            try:
                w.set_text(FOLDER, "Q:\\Nowhere\\Glimmerly")
                w.click(NO_SHORTCUTS)
                to_page(w, 2)
                w.click(WRITE_ASSOCIATIONS)
                w.ok("listcheck", ASSOC_LIST, 31, 1)
                w.ok("listcheck", ASSOC_LIST, 58, 1)
                chosen = w.list_states()
                to_page(w, 3)
                w.back()
                w.wait_page(2)
                self.assertEqual(w.list_states(), chosen, "Back from the ready page")
                to_page(w, 3)
                w.next()
                self.assertEqual(w.box(), (IDOK, STRINGS[18] % "Q:" + ": Q:\\Nowhere\\Glimmerly\\"))
                w.answer(IDOK)
                w.wait_page(0)
                self.assertEqual(w.ok("focus"), "%d page" % FOLDER, "the field to change has the focus")
                self.assertFalse(w.enabled(SHEET_BACK))
                self.assertEqual((w.text(FOLDER), w.checked(DESKTOP), w.enabled(CURRENT_USER)),
                                 ("Q:\\Nowhere\\Glimmerly", False, False))
                w.set_text(FOLDER, APPS)
                to_page(w, 2)
                self.assertEqual(w.list_states(), chosen)
                to_page(w, 3)
                self.assertFalse(w.state(STATUS_LINE)[1], "nothing is being installed after a failed run")
                w.next()
                self.assertEqual(w.box()[1], STRINGS[9])
                w.answer(IDNO)
                w.wait_page(4)
            finally:
                w.close()
            system, user = p.registry("system"), p.registry("user")
            # The Vista family always makes the viewer the machine's choice for these three.
            defaults = {key for key, values in system.items() if key.startswith("software\\classes\\.")
                        and str(values.get("", "")).startswith("Glimmerly.")}
            self.assertEqual(defaults, {"software\\classes\\." + e for e in ("jpg", "png", "tif")})
            self.assertEqual([key for key in user if "fileexts" in key and key.endswith("\\userchoice")], [])
            self.assertTrue(p.exists(APPS + "\\gl_main32.exe"))

    def test_ready_page_default_follows_the_windows_family_and_keeps_the_users_choice(self):
        for version, appdata in [("winxp", False), ("win7", True)]:
            with self.subTest(version), Prefix(version) as p:
                w = Wizard(p)
                try:
                    to_page(w, 2)
                    self.assertEqual(w.state(ASSOC_ALL_USERS)[1], int(not appdata), "box 1037 only on XP")
                    buttons = (ASSOC_LIST, IMAGES_ONLY, SELECT_ALL, SELECT_NONE)
                    disabled = "c0c0c0 003080 c0c0c0"
                    self.assertEqual((w.list_states(), w.ok("listcolors", ASSOC_LIST)), ("1" * 63, disabled))
                    self.assertEqual([w.enabled(c) for c in buttons], [False] * 4)
                    first, second, width = (int(v) for v in w.ok("columns", ASSOC_LIST).split())
                    self.assertEqual((first, second), (width // 3, 2 * width // 3 - 25))
                    w.click(WRITE_ASSOCIATIONS)
                    self.assertEqual([w.enabled(c) for c in buttons], [True] * 4)
                    self.assertEqual(w.ok("listcolors", ASSOC_LIST), "ffffff ff000000 ffffff", "the list's own")
                    w.click(SELECT_ALL)
                    w.click(IMAGES_ONLY)
                    self.assertEqual(w.list_states(), "2" * 49 + "1" * 14)
                    w.click(SELECT_ALL)
                    w.click(SELECT_NONE)
                    self.assertEqual(w.list_states(), "1" * 63)
                    w.click(WRITE_ASSOCIATIONS)
                    self.assertEqual(w.ok("listcolors", ASSOC_LIST), disabled)
                    to_page(w, 3)
                    self.assertEqual(w.checked(SETTINGS_IN_APPDATA), appdata)
                    w.click(SETTINGS_IN_APPDATA if not appdata else SETTINGS_IN_PROGRAM)
                    w.back()
                    w.wait_page(2)
                    to_page(w, 3)
                    self.assertEqual((w.checked(SETTINGS_IN_APPDATA), w.checked(SETTINGS_IN_PROGRAM)),
                                     (not appdata, appdata), "Back and Next keep the user's choice")
                finally:
                    w.close()


def with_large_payload(p, work, megabytes):
    """A copy of the setup program whose payload holds the sample's members and megabytes more in
    files of 100 KB."""
    payload = os.path.join(work, "payload.zip")
    with zipfile.ZipFile(os.path.join(winetest.PRODUCT_DIR, "payload", "sample_payload.zip")) as sample, \
            zipfile.ZipFile(payload, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as large:
        for member in sample.infolist():
            large.writestr(member, sample.read(member))
        for i in range(megabytes * 10):
            large.writestr("Filler/%02d/%04d.txt" % (i // 100, i), (b"%08d gamma colour palette\r\n" % i) * 3200)
    with open(payload, "rb") as data, open(payload + "sum", "wb") as record:
        archive = data.read()
        record.write(struct.pack("<II", len(archive), zlib.crc32(archive)))
    exe = shutil.copy(winetest.SETUP_EXE, os.path.join(work, "glimmerly-setup.exe"))
    swap, *paths = ("Z:" + path.replace("/", "\\") for path in (
        os.path.join(winetest.FIXTURES, "swap_payload.exe"), exe, payload, payload + "sum"))
    assert p.run_program(swap, " ".join(paths)).returncode == 0
    return exe


class LargeInstallation(unittest.TestCase):
    def test_window_answers_shows_progress_and_drops_input_while_installing(self):
        megabytes = int(os.environ.get("GLIMMERLY_WIZARD_PAYLOAD_MB", "60"))
        with tempfile.TemporaryDirectory() as work, Prefix("win7") as p:
            w = Wizard(p, exe=with_large_payload(p, work, megabytes))
            try:
                w.set_text(FOLDER, APPS)
                to_page(w, 2)
                w.click(WRITE_ASSOCIATIONS)
                w.click(IMAGES_ONLY)
                to_page(w, 3)
                # The space as the installation reckons it: the members' bytes and 4 KB for each member.
                with zipfile.ZipFile(os.path.join(work, "payload.zip")) as payload:
                    needed = sum(m.file_size + 4096 for m in payload.infolist()) / 1048576.0
                space = re.fullmatch(r"Benötigter Speicherplatz: (\d+),(\d) MB, frei auf Laufwerk C: \d+,\d [MG]B",
                                     w.text(SPACE_LINE))
                self.assertIsNotNone(space, w.text(SPACE_LINE))
                self.assertAlmostEqual(int(space.group(1)) + int(space.group(2)) / 10.0, needed, delta=0.051)
                w.ok("watch", 1)
                w.next()
                positions, steps, acted = [], set(), False
                while len(positions) < 200 and w.no_box(20):
                    positions.append(int(w.ok("send", INSTALL_PROGRESS, 0x408)))  # PBM_GETPOS
                    steps.add(w.text(PROGRESS_STEP))
                    # Once the line has named one of the small files, which come after the large ones, and
                    # the bar has moved (the requests below take a while, long enough for a quick
                    # extraction to end meanwhile), or at the fortieth look.
                    moved = any(0 < v < 900 for v in positions)
                    if not acted and (len(positions) == 40 or
                                      (moved and any(t.startswith(STRINGS[22] % "Filler\\") for t in steps))):
                        acted = True
                        w.keys("Escape")
                        w.do("close")
                        # Another program, and the system before it shuts down, ask the sheet to end.
                        w.ok("sheetpost", 0x10)  # WM_CLOSE
                        ended_session = w.ok("sheetsend", 0x11)  # WM_QUERYENDSESSION
                        # Straight to the sheet, as another program could send them: Cancel, Back, Next,
                        # Finish and OK.
                        for button in (SHEET_CANCEL, SHEET_BACK, SHEET_NEXT, SHEET_FINISH, IDOK):
                            w.ok("post", 0x111, button)  # WM_COMMAND
                self.assertTrue(acted, "the requests were sent while it installed")
                self.assertEqual(positions, sorted(positions), "the bar only moves forward")
                self.assertTrue(any(0 < v < 900 for v in positions) and positions[-1] <= 950, positions)
                self.assertEqual(w.box()[1], STRINGS[9], "Esc, the close box and WM_CLOSE asked nothing")
                self.assertTrue([t for t in steps if t.startswith(STRINGS[22] % "Filler\\")], steps)
                time.sleep(0.5)
                self.assertEqual(w.text(PROGRESS_STEP), STRINGS[23], "the settings are written when it asks")
                self.assertEqual(ended_session, "0", "no shutdown while installing")
                self.assertEqual(w.page(), 3, "Back and Next did nothing")
                self.assertEqual(w.ok("boxowner"), "1", "shown by the sheet's thread, owned by the sheet")
                w.answer(IDYES)
                w.wait_page(4)
                self.assertEqual(w.ok("send", INSTALL_PROGRESS, 0x408), "966", "the last step was shown")
                slowest, answers = (int(v) for v in w.ok("watch", 0).split())
                print("\n%d MB: the slowest of %d answers took %d ms; bar %s" % (megabytes, answers, slowest, positions))
                self.assertLess(slowest, 250)
                time.sleep(1)
                self.assertTrue(w.no_box(500) and not w.ended(1), "the finish page waits")
            finally:
                w.close()


class FinishActions(unittest.TestCase):
    def finish(self, p, keep_faq, keep_viewer, key, viewer_found=True, after_install=None):
        """Installs through the wizard and presses "&Fertig stellen" by key with the boxes as given."""
        w = Wizard(p)
        try:
            # Installed into C:\Apps\Glimmerly; the viewer is started from there, not from the text.
            w.set_text(FOLDER, "C:\\Apps \\Glimmerly  ")
            to_page(w, 4)
            if after_install:
                after_install()
            if not keep_faq:
                w.click(SHOW_FAQ)
            if not keep_viewer:
                w.click(START_VIEWER)
            w.keys(key)
            self.assertTrue(w.no_box(), "no question on the finish page")
            foreground = w.ok("foreground") if keep_viewer and viewer_found else None
            self.assertTrue(w.ended(30))
            self.assertEqual(w.status(), 0)
            return foreground
        finally:
            w.close()

    def test_each_box_alone_pressed_by_enter_or_access_key_and_none_by_escape(self):
        with tempfile.TemporaryDirectory() as work, Prefix("win7") as p:
            record = os.path.join(work, "opened")
            browser = os.path.join(work, "browser.sh")
            with open(browser, "w") as script:
                script.write('#!/bin/sh\necho "$1" >> "%s"\n' % record)
            os.chmod(browser, stat.S_IRWXU)
            p.set_value("user", r"Software\Wine\WineBrowser", "Browsers", browser)

            # Enter and the button's access key both press "&Fertig stellen"; each box acts alone.
            self.finish(p, keep_faq=True, keep_viewer=False, key="Return")
            deadline = time.time() + 20
            while not os.path.exists(record) and time.time() < deadline:
                time.sleep(0.2)
            time.sleep(3)
            self.assertFalse(p.window_exists("Glimmerly"))
            with open(record) as opened:
                self.assertEqual(opened.read().split(), ["https://www.glimmerly.example/deutsch/faq.html"])

            # Esc closes the wizard as it closes any window: neither box acts.
            self.finish(p, keep_faq=True, keep_viewer=True, key="Escape", viewer_found=False)
            time.sleep(3)
            self.assertFalse(p.window_exists("Glimmerly"))
            with open(record) as opened:
                self.assertEqual(len(opened.read().split()), 1, "Esc opened the FAQ page")

            self.assertEqual(self.finish(p, keep_faq=False, keep_viewer=True, key="alt+f"), "Glimmerly")
            time.sleep(3)
            with open(record) as opened:
                self.assertEqual(len(opened.read().split()), 1, "the FAQ page is not opened again")

    def test_restart_needed_offers_now_or_later_and_no_viewer(self):
        held = APPS + "\\gl_about.txt"
        with Prefix("win7") as p:
            p.run("/silent /folder=" + APPS)
            # Held until the prefix ends, however slowly a busy machine runs the wizard meanwhile.
            p.start(held + " 600 C:\\held", exe=os.path.join(winetest.FIXTURES, "hold_file.exe"))
            deadline = time.time() + 60
            while not p.exists("C:\\held") and time.time() < deadline:
                time.sleep(0.1)
            self.assertTrue(p.exists("C:\\held"), "the file is held before the wizard starts")
            w = Wizard(p)
            try:
                to_page(w, 4)
                self.assertEqual((w.text(FINISH_TITLE), w.text(FINISH_TEXT)), (STRINGS[13], STRINGS[12]))
                # (enabled, visible, checked): later is the default; the new viewer is there only after it.
                self.assertEqual([w.state(c) for c in (RESTART_NOW, RESTART_LATER, START_VIEWER)],
                                 [(1, 1, 0), (1, 1, 1), (0, 1, 0)])
                w.click(SHOW_FAQ)
                w.keys("Return")
                self.assertTrue(w.ended(30))
                self.assertEqual(w.status(), 3010)
            finally:
                w.close()

    def test_viewer_is_started_only_as_this_installation_wrote_it(self):
        viewer = "C:\\Apps\\Glimmerly\\gl_main32.exe"
        with Prefix("win7") as p:
            # Another program of the user swaps the installed viewer before "&Fertig stellen".
            def swap():
                p.put_file(viewer, p.read_bytes(viewer) + b"planted")
            self.finish(p, keep_faq=False, keep_viewer=True, key="Return", viewer_found=False, after_install=swap)
            time.sleep(3)
            self.assertFalse(p.window_exists("Glimmerly"))

    def test_a_shortcut_skipped_for_a_link_leaves_the_installation_incomplete(self):
        link = "C:\\users\\%s\\Desktop\\Glimmerly.lnk" % USER
        with Prefix("win7") as p:
            p.put_file("C:\\windows\\foreign.dll", b"not the user's")
            os.makedirs(os.path.dirname(p.host(link)), exist_ok=True)
            os.symlink(p.host("C:\\windows\\foreign.dll"), p.host(link))
            w = Wizard(p)
            try:
                w.set_text(FOLDER, APPS)
                to_page(w, 4)
                self.assertEqual((w.text(FINISH_TITLE), w.text(FINISH_TEXT)), (STRINGS[16], STRINGS[15] + ": " + link))
                end_without_finish_actions(self, w)
                self.assertEqual(w.status(), 681)
            finally:
                w.close()


if __name__ == "__main__":
    unittest.main()
