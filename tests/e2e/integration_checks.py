"""What the system integration tests read back: the expected rows, links and keys, written out by hand
from the registration tables, not from the program, and the checks that read them from a prefix."""
import os

from winetest import FIXTURES, USER, lnkinfo

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


class IntegrationChecks:
    """The reading back, for a unittest.TestCase."""

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
