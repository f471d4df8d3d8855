"""System integration after silent installations: links, program registration, uninstall entry and
file types, read back from the prefix's registry and link files.

The setup program's switches select all image rows or all rows; the sequence with other selections
(and a declined question) runs through the register_with_shell fixture, which calls the same
RegisterWithShell of glimmerly_core in the prefix. Expectations come from the tables below, written
out by hand from the registration tables, not from the program.
"""
import os
import unittest

from test_settings import parse_ini
from winetest import ARCH, FIXTURES, Prefix, USER, lnkinfo

REGISTER = os.path.join(FIXTURES, "register_with_shell.exe")

# The registration table: per catalogue row its extensions ("x=y": x joins the class of y) and icon
# (",N": the viewer's executable followed by ",N").
ROWS = [
    ("ani", "%1"), ("b3d", ",0"), ("bmp dib=bmp", ",0"), ("clp", ",0"), ("crw cr2 cr3", ",0"),
    ("cur", "%1"), ("dcm acr=dcm ima=dcm", ",0"), ("dcx", ",0"), ("dds", ",0"), ("djvu iw44=djvu", ",0"),
    ("dxf", ",0"), ("ecw", ",0"), ("emf", ",0"), ("eps ps=eps", ",0"), ("exr", ",0"), ("g3", ",0"),
    ("gif", ",0"), ("hdp jxr=hdp wdp=hdp", ",0"), ("heic", ",0"), ("ico", "%1"), ("iff lbm=iff", ",0"),
    ("jls", ",0"), ("jp2 jpc=jp2 j2k=jp2", ",0"), ("jpg jpeg=jpg jfif=jpg jpe=jpg", ",0"), ("jpm", ",0"),
    ("jxl", ",0"), ("mng jng", ",0"), ("pbm", ",0"), ("pcd", ",0"), ("pcx", ",0"), ("pgm", ",0"),
    ("png", ",0"), ("ppm", ",0"), ("psd", ",0"), ("psp", ",0"), ("qoi", ",0"), ("ras sun=ras", ",0"),
    ("raw", ",0"), ("rle", ",0"), ("sff", ",0"), ("sgi rgb=sgi", ",0"), ("sid", ",0"), ("tga", ",0"),
    ("tif tiff=tif", ",0"), ("wbmp", ",0"), ("webp", ",0"), ("wmf", ",0"), ("xbm", ",0"), ("xpm", ",0"),
    ("swf flv", ",0"), ("ttf", ",0"), ("asf", ",9"), ("avi", ",9"), ("mpg mpe mpeg=mpg", ",9"), ("mov", ",9"),
    ("wmv", ",9"), ("aif", ",8"), ("mid rmi", ",8"), ("mp3", ",8"), ("ogg", ",8"), ("au snd=au", ",8"),
    ("wav", ",8"), ("wma", ",8"),
]
IMAGE_ROWS = range(49)


def extensions(rows=range(len(ROWS))):
    """{extension: class suffix} of the rows."""
    result = {}
    for row in rows:
        for word in ROWS[row][0].split():
            ext, _, cls = word.partition("=")
            result[ext] = cls or ext
    return result


def classes(rows=range(len(ROWS))):
    """{class suffix: icon kind} of the rows."""
    return {cls: ROWS[row][1] for row in rows for cls in extensions([row]).values()}


# Start-menu links: name, file joined to the installation folder, arguments, icon (file, index).
UNINSTALLER_LINK = ("Glimmerly deinstallieren.lnk", "gl_uninstall.exe", None, None)
START_MENU = [
    ("Glimmerly 4.62.lnk", "gl_main32.exe", None, None),
    ("Glimmerly - Thumbnails.lnk", "gl_main32.exe", "/thumbs", ("gl_main32.exe", 7)),
    UNINSTALLER_LINK,
    ("\u00dcber Glimmerly.lnk", "gl_about.txt", None, None),
    ("Was ist neu.lnk", "gl_changes.txt", None, None),
    ("Kommandozeilen-Optionen.lnk", "gl_options.txt", None, None),
    ("Verf\u00fcgbare PlugIns.lnk", "gl_plugins.txt", None, None),
    ("Verf\u00fcgbare Sprachen.lnk", "gl_languages.txt", None, None),
    ("Glimmerly Hilfe.lnk", "\\help\\gl_main32_deutsch.chm", None, None),
]
# Desktop links: name, arguments, icon (file, index), description.
DESKTOP = {
    "Glimmerly.lnk": (None, None, "Glimmerly - Bildbetrachter"),
    "Glimmerly Thumbnails.lnk": ("/thumbs", ("gl_main32.exe", 7), "Glimmerly - Thumbnails"),
}

USER_PROGRAMS = "C:\\users\\%s\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Glimmerly" % USER
COMMON_PROGRAMS = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Glimmerly"
USER_DESKTOP = "C:\\users\\%s\\Desktop" % USER
COMMON_DESKTOP = "C:\\users\\Public\\Desktop"

CLASSES_KEY = "software\\classes\\"
FILE_EXTS = "software\\microsoft\\windows\\currentversion\\explorer\\fileexts\\."
UNINSTALL_KEY = "software\\microsoft\\windows\\currentversion\\uninstall\\glimmerly"
VERB = "durchsuchen mit &glimmerly"
APP_CLASSES = ["AppXvhc4p7vz4b485xfp46hhk3fq3grkdgjg", "AppXk0g4vb8gvt7b93tg50ybcy892pge6jmt",
               "AppX43hnxtbyyps62jhe9sqpdzxn1790zetc", "AppX9rkaq77s0jzh1tyccadx9ghba15r6t3h",
               "AppX6eg8h5sxqq90pv53845wmnbewywdqq5h"]
DESCRIPTION = "Picture viewer, editor and converter - one of the most popular viewers worldwide"
STRING_11 = "Kann Zielverzeichnis nicht erstellen!".encode("cp1252")


def open_command(folder):
    return '"%sgl_main32.exe" "%%1"' % folder


def register(p, folder, rows=(), confirmed=1, group=0, desktop=0, thumbs=0, all_users=0, assoc_all_users=0):
    """RegisterWithShell in the prefix through the fixture; requested when rows are given."""
    # A backslash before the closing quote would escape it.
    quoted = folder + "\\" if folder.endswith("\\") else folder
    args = '"%s" %d %d %d %d %d %d %d %s' % (quoted, confirmed, 1 if rows else 0, group, desktop, thumbs, all_users,
                                             assoc_all_users, ",".join(map(str, rows)) or "-")
    result = p.run(args, cwd="C:\\work", exe=REGISTER)
    if result.returncode != 0:
        raise AssertionError("register_with_shell failed: %r" % result.returncode)


class IntegrationTest(unittest.TestCase):
    # --- reading back ---------------------------------------------------------------------------
    def install(self, p, switches):
        p.run("/silent " + switches, cwd="C:\\work")
        self.assertFalse(p.exists("C:\\work\\Glimmerly_Install.log"), "the installation logged a failure")

    @staticmethod
    def pointing_to_us(keys, prefix, value_name, suffix=""):
        """{extension: value} of the keys prefix<ext>suffix whose value names one of our classes."""
        result = {}
        for key, values in keys.items():
            if not key.startswith(prefix) or not key.endswith(suffix):
                continue
            ext = key[len(prefix):len(key) - len(suffix)]
            if "\\" not in ext and str(values.get(value_name, "")).startswith("Glimmerly."):
                result[ext] = values[value_name]
        return result

    def machine_defaults(self, system):
        return self.pointing_to_us(system, CLASSES_KEY + ".", "")

    def user_choices(self, user):
        return self.pointing_to_us(user, FILE_EXTS, "Progid", "\\userchoice")

    def file_exts(self, user):
        return self.pointing_to_us(user, FILE_EXTS, "ProgID")

    def assert_classes(self, system, folder, expected):
        """Exactly the expected classes, each with description, open command and icon."""
        found = {key[len(CLASSES_KEY) + 10:] for key in system
                 if key.startswith(CLASSES_KEY + "glimmerly.") and "\\" not in key[len(CLASSES_KEY):]}
        self.assertEqual(found, set(expected))
        for cls, icon in expected.items():
            key = CLASSES_KEY + "glimmerly." + cls
            self.assertEqual(system[key][""], "Glimmerly %s File" % cls.upper())
            self.assertEqual(system[key + "\\shell\\open\\command"][""], open_command(folder))
            self.assertEqual(system[key + "\\defaulticon"][""], icon if icon == "%1" else folder + "gl_main32.exe" + icon)

    def assert_program_class(self, system, folder):
        self.assertEqual(system[CLASSES_KEY + "glimmerly"][""], "Glimmerly")
        self.assertEqual(system[CLASSES_KEY + "glimmerly\\shell\\open\\command"][""], open_command(folder))
        self.assertNotIn(CLASSES_KEY + "glimmerly\\defaulticon", system)
        # Writes through the classes root land in the machine's classes.
        self.assertEqual(system[CLASSES_KEY + "applications\\gl_main32.exe\\shell\\open\\command"][""],
                         open_command(folder))
        self.assertEqual(system[CLASSES_KEY + "applications\\gl_main32.exe"]["FriendlyAppName"], "Glimmerly 32-bit")

    def assert_uninstall_entry(self, system, folder):
        values = dict(system[UNINSTALL_KEY])
        values.pop("Comments", None)
        self.assertEqual(values, {
            "": "",
            "DisplayName": "Glimmerly 4.62 (32-bit)",
            "UninstallString": '"%sgl_uninstall.exe"' % folder,
            "Publisher": "Glimmerly Works",
            "InstallLocation": folder,
            "DisplayVersion": "4.62",
            "DisplayIcon": folder + "gl_main32.exe,0",
            "VersionMajor": 4,
            "VersionMinor": 62,
            "EstimatedSize": 6144,
        })

    def assert_application_key(self, system, folder, extensions_written, registered=True):
        self.assertEqual(system["software\\glimmerly\\shell\\open\\command"][""], '"%sgl_main32.exe"' % folder)
        self.assertEqual(system["software\\glimmerly\\capabilities"], {"ApplicationDescription": DESCRIPTION})
        self.assertEqual(system["software\\glimmerly\\capabilities\\fileassociations"],
                         {"." + ext: "Glimmerly." + cls for ext, cls in extensions_written.items()})
        # The list of registered applications is opened, never created.
        if registered:
            self.assertEqual(system["software\\registeredapplications"]["Glimmerly"],
                             "SOFTWARE\\Glimmerly\\Capabilities")
        else:
            self.assertNotIn("software\\registeredapplications", system)

    def assert_no_application_key(self, system):
        # The setup's own record of its completed run (its journals key) is no application key.
        self.assertFalse([k for k in system if k.startswith("software\\glimmerly")
                          and not k.startswith("software\\glimmerly\\setup\\journals")])
        self.assertNotIn("Glimmerly", system.get("software\\registeredapplications", {}))

    def assert_verbs(self, system, folder):
        command = '"%sgl_main32.exe" "%%1" /thumbs' % folder
        for shell in ("directory", "drive"):
            key = CLASSES_KEY + shell + "\\shell\\" + VERB
            self.assertEqual(system[key][""], "Durchsuchen mit &Glimmerly")
            self.assertEqual(system[key + "\\command"][""], command)

    def assert_no_verbs(self, system):
        self.assertFalse([k for k in system if VERB in k])

    def assert_no_open_with(self, user, expected):
        for app in APP_CLASSES:
            values = user.get(CLASSES_KEY + app.lower())
            self.assertEqual(values, {"NoOpenWith": ""} if expected else None, app)

    def link(self, p, folder, name):
        path = p.host(folder + "\\" + name)
        self.assertTrue(os.path.exists(path), "missing link " + name)
        return lnkinfo(path)

    def links_in(self, p, folder):
        host = p.host(folder)
        return sorted(n for n in os.listdir(host) if n.endswith(".lnk")) if os.path.isdir(host) else []

    def assert_link(self, info, target, arguments, icon, description):
        # The link object stores the target as a full path, so a doubled separator comes back single.
        self.assertEqual(info.get("Local path"), target.replace("\\\\", "\\"))
        self.assertEqual(info.get("Command line arguments"), arguments)
        self.assertEqual(info.get("Icon location"), icon and icon[0])
        if icon:
            self.assertEqual(info.get("Icon index"), str(icon[1]))
        self.assertEqual(info.get("Description"), description)

    def assert_start_menu(self, p, group, folder, with_uninstaller, others=()):
        expected = [row for row in START_MENU if with_uninstaller or row is not UNINSTALLER_LINK]
        self.assertEqual(self.links_in(p, group), sorted([row[0] for row in expected] + list(others)))
        for name, file_name, arguments, icon in expected:
            with self.subTest(link=name):
                self.assert_link(self.link(p, group, name), folder + file_name, arguments,
                                 icon and (folder + icon[0], icon[1]), None)

    def assert_desktop(self, p, desktop, folder, names):
        self.assertEqual(self.links_in(p, desktop), sorted(names))
        for name in names:
            arguments, icon, description = DESKTOP[name]
            self.assert_link(self.link(p, desktop, name), folder + "gl_main32.exe", arguments,
                             icon and (folder + icon[0], icon[1]), description)

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
