"""System integration after silent installations: links, program registration, uninstall entry and
file types, read back from the prefix's registry and link files.

The setup program's switches select all image rows or all rows; the sequence with other selections
(and a declined question) runs through the register_with_shell fixture, which calls the same
RegisterWithShell of glimmerly_core in the prefix. Expectations come from the tables of
integration_checks.py, written out by hand from the registration tables, not from the program.
"""
import os
import unittest

from integration_checks import (CLASSES_KEY, COMMON_DESKTOP, COMMON_PROGRAMS, FILE_EXTS, IMAGE_ROWS, START_MENU,
                                STRING_11, UNINSTALL_KEY, USER_DESKTOP, USER_PROGRAMS, IntegrationChecks, classes,
                                extensions, open_command, register)
from test_settings import parse_ini
from winetest import ARCH, Prefix


class IntegrationTest(IntegrationChecks, unittest.TestCase):
    # --- the families -----------------------------------------------------------------------------
    def test_windows7_everything_chosen_then_a_second_run_finds_the_folder(self):
        folder = "C:\\Programme\\Glimmerly\\"
        with Prefix("win7") as p:
            for old in ("Glimmerly 4.59.lnk", "Glimmerly 4.60.lnk", "Glimmerly 4.61.lnk", "Notizen.txt"):
                p.put_file(USER_PROGRAMS + "\\" + old, b"old")
            p.set_value("system", r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Glimmerly",
                        "DisplayVersion", "4.59")
            p.set_value("system", r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Glimmerly", "Comments", "kept")
            p.set_value("system", r"Software\Classes\Glimmerly\DefaultIcon", "", "old.ico")
            # Windows has the list of registered applications; a new Wine prefix does not.
            p.set_value("system", r"Software\RegisteredApplications", "Other", "SOFTWARE\\Other\\Capabilities")
            # Blanks around the folder and no trailing backslash.
            self.install(p, '/folder="  C:\\Programme\\Glimmerly  " /group=1 /desktop=1 /thumbs=1')

            # Only the links of 4.59 and 4.60 go; other files of the folder stay.
            self.assert_start_menu(p, USER_PROGRAMS, folder, with_uninstaller=True, others=["Glimmerly 4.61.lnk"])
            self.assertTrue(p.exists(USER_PROGRAMS + "\\Notizen.txt"))
            self.assert_desktop(p, USER_DESKTOP, folder, ["Glimmerly.lnk", "Glimmerly Thumbnails.lnk"])
            self.assertEqual(self.links_in(p, COMMON_DESKTOP), [])

            system, user = p.registry("system"), p.registry("user")
            self.assert_verbs(system, folder)
            self.assert_program_class(system, folder)
            self.assert_uninstall_entry(system, folder)
            self.assertEqual(system[UNINSTALL_KEY]["Comments"], "kept")
            # Nothing selected on the Vista family: every class and capability, three machine defaults.
            self.assert_application_key(system, folder, extensions())
            self.assertEqual(len(system["software\\glimmerly\\capabilities\\fileassociations"]), 87)
            self.assert_classes(system, folder, classes())
            self.assertEqual(len(classes()), 69)
            self.assertEqual(self.machine_defaults(system),
                             {"jpg": "Glimmerly.jpg", "png": "Glimmerly.png", "tif": "Glimmerly.tif"})
            self.assertEqual(self.user_choices(user), {})
            self.assert_no_open_with(user, False)

            # Without "/folder=" the next installation reads the folder back from the open command.
            os.remove(p.host(folder + "gl_about.txt"))
            self.install(p, "")
            self.assertTrue(p.exists(folder + "gl_about.txt"))
            self.assertFalse(p.exists("C:\\Program Files\\Glimmerly"))
            self.assertEqual(p.registry("system")[UNINSTALL_KEY]["InstallLocation"], folder)

    def test_windows10_all_users_with_the_image_rows(self):
        folder = "C:\\Tools\\Glimmerly\\"
        with Prefix("win10") as p:
            self.install(p, "/folder=C:\\Tools\\Glimmerly\\ /group=1 /thumbs=1 /allusers=1 /assoc=1")

            # Windows 10 reports 6.2: no uninstaller link.
            self.assert_start_menu(p, COMMON_PROGRAMS, folder, with_uninstaller=False)
            self.assert_desktop(p, COMMON_DESKTOP, folder, ["Glimmerly Thumbnails.lnk"])
            self.assertEqual(self.links_in(p, USER_PROGRAMS), [])
            self.assertEqual(self.links_in(p, USER_DESKTOP), [])

            system, user = p.registry("system"), p.registry("user")
            self.assert_verbs(system, folder)
            self.assert_program_class(system, folder)
            self.assert_uninstall_entry(system, folder)
            self.assert_application_key(system, folder, extensions(), registered=False)
            self.assert_classes(system, folder, classes())
            images = {ext: "Glimmerly." + cls for ext, cls in extensions(IMAGE_ROWS).items()}
            self.assertEqual(self.machine_defaults(system), images)
            self.assertEqual(self.user_choices(user), images)
            self.assertNotIn("mp3", self.user_choices(user))
            self.assert_no_open_with(user, True)

    def test_windows_xp_links_and_the_users_file_exts(self):
        folder = "C:\\Tools\\Glimmerly\\"
        with Prefix("winxp") as p:
            self.install(p, "/folder=C:\\Tools\\Glimmerly /desktop=1 /thumbs=1")
            self.assert_desktop(p, USER_DESKTOP, folder, ["Glimmerly.lnk", "Glimmerly Thumbnails.lnk"])
            self.assertEqual(self.links_in(p, USER_PROGRAMS), [])
            system, user = p.registry("system"), p.registry("user")
            self.assert_program_class(system, folder)
            self.assert_uninstall_entry(system, folder)
            self.assert_no_verbs(system)
            self.assert_no_application_key(system)
            self.assert_classes(system, folder, {})
            self.assertEqual(self.machine_defaults(system), {})
            self.assertEqual(self.file_exts(user), {})

            # Row 2 alone for the current user: the user's FileExts, no machine default.
            register(p, folder, rows=[2])
            system, user = p.registry("system"), p.registry("user")
            self.assertEqual(self.file_exts(user), {"bmp": "Glimmerly.bmp", "dib": "Glimmerly.bmp"})
            self.assertEqual(user[FILE_EXTS + "bmp"][""], "")
            self.assert_classes(system, folder, classes([2]))
            self.assertEqual(self.machine_defaults(system), {})
            self.assertEqual(self.user_choices(user), {})
            self.assert_no_application_key(system)

            # Row 16 for all users: the machine default as well.
            register(p, folder, rows=[16], assoc_all_users=1)
            system, user = p.registry("system"), p.registry("user")
            self.assertEqual(self.file_exts(user), {"bmp": "Glimmerly.bmp", "dib": "Glimmerly.bmp",
                                                    "gif": "Glimmerly.gif"})
            self.assertEqual(self.machine_defaults(system), {"gif": "Glimmerly.gif"})
            self.assert_classes(system, folder, classes([2, 16]))

    def test_windows2000_registers_the_selected_rows_on_the_machine(self):
        folder = "C:\\Tools\\Glimmerly\\"
        with Prefix("win2k") as p:
            register(p, "C:\\Tools\\Glimmerly", rows=[16, 19], group=1)
            self.assertEqual(self.links_in(p, USER_PROGRAMS), sorted(row[0] for row in START_MENU))
            system, user = p.registry("system"), p.registry("user")
            self.assert_classes(system, folder, {"gif": ",0", "ico": "%1"})
            self.assertEqual(self.machine_defaults(system), {"gif": "Glimmerly.gif", "ico": "Glimmerly.ico"})
            self.assertEqual(self.file_exts(user), {})
            self.assertEqual(self.user_choices(user), {})
            self.assert_no_application_key(system)
            self.assert_program_class(system, folder)
            self.assert_uninstall_entry(system, folder)

    def test_row_23_renews_the_user_choice_and_a_declined_question_selects_nothing(self):
        folder = "C:\\Tools\\Glimmerly\\"
        jpeg = {"jpg": "Glimmerly.jpg", "jpeg": "Glimmerly.jpg", "jfif": "Glimmerly.jpg", "jpe": "Glimmerly.jpg"}
        with Prefix("win7") as p:
            register(p, folder, rows=[2, 23], confirmed=0)
            system, user = p.registry("system"), p.registry("user")
            self.assertEqual(self.machine_defaults(system),
                             {"jpg": "Glimmerly.jpg", "png": "Glimmerly.png", "tif": "Glimmerly.tif"})
            self.assertEqual(self.user_choices(user), {})
            self.assert_classes(system, folder, classes())
            self.assert_no_verbs(system)

            p.set_value("user", FILE_EXTS + "jpg\\UserChoice", "Hash", "stale")
            register(p, folder, rows=[23])
            system, user = p.registry("system"), p.registry("user")
            self.assertEqual(self.user_choices(user), jpeg)
            self.assertEqual(user[FILE_EXTS + "jpg\\userchoice"], {"Progid": "Glimmerly.jpg"})
            self.assertEqual(self.machine_defaults(system), dict(jpeg, png="Glimmerly.png", tif="Glimmerly.tif"))
            # Windows 7 is not Windows 8 or later.
            self.assert_no_open_with(user, False)

        with Prefix("win10") as p:
            register(p, folder, rows=[23])
            user = p.registry("user")
            self.assertEqual(self.user_choices(user), jpeg)
            self.assert_no_open_with(user, True)

    # --- one folder ---------------------------------------------------------------------------------
    # How the folder is given: the switches, a registered open command (type, text) or none, and the
    # folder that must then hold the files and be named by everything else.
    FOLDER_FORMS = [
        ("relative to the current directory", "/folder=Glimmerly", None, "C:\\work\\Glimmerly\\"),
        ("a blank before a backslash", "/folder=C:\\a \\Glimmerly", None, "C:\\a\\Glimmerly\\"),
        ("an expandable registered command", "",
         ("expand", '"%ProgramFiles%\\Bilder\\gl_main32.exe" "%1"'), "C:\\Program Files\\Bilder\\"),
    ]

    def test_every_form_of_folder_names_the_folder_that_holds_the_files(self):
        for form, switches, command, folder in self.FOLDER_FORMS:
            with self.subTest(form), Prefix("win7") as p:
                if command:
                    p.set_value("system", r"Software\Classes\Glimmerly\shell\open\command", "", command)
                self.install(p, switches + " /group=1 /desktop=1 /thumbs=1 /ini=C:\\Einstellungen")
                self.assertTrue(p.exists(folder + "gl_main32.exe"))
                system = p.registry("system")
                self.assert_program_class(system, folder)
                self.assert_uninstall_entry(system, folder)
                self.assert_verbs(system, folder)
                self.assertEqual(system[CLASSES_KEY + "glimmerly.jpg\\shell\\open\\command"][""], open_command(folder))
                self.assertEqual(system["software\\glimmerly\\shell\\open\\command"][""], '"%sgl_main32.exe"' % folder)
                self.assert_desktop(p, USER_DESKTOP, folder, ["Glimmerly.lnk", "Glimmerly Thumbnails.lnk"])
                self.assert_start_menu(p, USER_PROGRAMS, folder, with_uninstaller=True)
                pointer = parse_ini(p.read_bytes(folder + "gl_main32.ini").decode("cp1252"))
                self.assertEqual(pointer, {"Others": {"INI_Folder": "C:\\Einstellungen"}})

    @unittest.skipIf(ARCH == "win64", "this machine cannot run 32-bit programs")
    def test_the_32_bit_installer_on_64_bit_windows_registers_the_application_in_the_64_bit_view(self):
        folder = "C:\\Program Files (x86)\\Glimmerly\\"
        wow = "software\\wow6432node\\"
        wow_uninstall = wow + UNINSTALL_KEY[len("software\\"):]
        with Prefix("win7", arch="win64") as p:
            p.set_value("system", r"Software\RegisteredApplications", "Other", "SOFTWARE\\Other\\Capabilities")
            self.install(p, "/assoc=1")
            self.assertTrue(p.exists(folder + "gl_main32.exe"))
            system, user = p.registry("system"), p.registry("user")
            # The 64-bit view holds the application key, its capabilities and the Default Programs entry,
            self.assert_application_key(system, folder, extensions())
            # the setup's own record of its completed run is in the 32-bit view, where the setup reads it,
            records = wow + "glimmerly\\setup\\journals"
            self.assertEqual([k for k in system if k.startswith(wow + "glimmerly")], [records])
            self.assertEqual(list(system[records]), [folder[:-1]])
            self.assertIn("|installed:", system[records][folder[:-1]])
            self.assertNotIn(wow + "registeredapplications", system)
            # while the uninstall entry stays in the 32-bit view and the classes are shared.
            self.assertNotIn(UNINSTALL_KEY, system)
            self.assert_uninstall_entry({UNINSTALL_KEY: system[wow_uninstall]}, folder)
            self.assert_program_class(system, folder)
            self.assert_classes(system, folder, classes())
            images = {ext: "Glimmerly." + cls for ext, cls in extensions(IMAGE_ROWS).items()}
            self.assertEqual(self.user_choices(user), images)

    # --- bounds -----------------------------------------------------------------------------------
    def test_the_longest_accepted_folder_installs_and_one_more_is_refused(self):
        # 225 characters with the trailing backslash is the longest folder accepted.
        accepted = "C:\\" + "\\".join(["g" * 54, "g" * 54, "g" * 55, "g" * 55])
        self.assertEqual(len(accepted) + 1, 225)
        refused = accepted + "x"
        with Prefix("win7") as p:
            p.run('/silent /folder="%s" /group=1' % refused, cwd="C:\\work")
            log = p.read_bytes("C:\\work\\Glimmerly_Install.log")
            self.assertIn(STRING_11, log)
            self.assertFalse(p.exists(refused), "a refused folder is not created")
            self.assertNotIn(UNINSTALL_KEY, p.registry("system"))
            self.assertEqual(self.links_in(p, USER_PROGRAMS), [])

            os.remove(p.host("C:\\work\\Glimmerly_Install.log"))
            self.install(p, '/folder="%s" /group=1 /thumbs=1' % accepted)
            folder = accepted + "\\"
            self.assertTrue(p.exists(folder + "Toolbars\\gnome-colors-human_48.png"))
            system = p.registry("system")
            self.assert_uninstall_entry(system, folder)
            self.assert_program_class(system, folder)
            self.assert_verbs(system, folder)
            self.assert_start_menu(p, USER_PROGRAMS, folder, with_uninstaller=True)


if __name__ == "__main__":
    unittest.main()
