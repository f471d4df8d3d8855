"""The viewer's settings file after silent installations.

The prefixes use the null graphics driver: a 1024x768 screen whose pixels per inch come from
HKCU\\Control Panel\\Desktop LogPixels. Tests that need a definite skin set LogPixels, so the scale alone
picks the row of the skin table.
"""
import unittest

from winetest import Prefix
from test_version_checks import probe

HEADER = "; UNICODE FILE - edit with care ;-)\r\n\r\n"
TARGET = "C:\\Tools\\Glimmerly"


def parse_ini(text):
    """{section: {key: value}} of a profile text; keys as written."""
    sections = {}
    current = None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            current = sections.setdefault(line[1:-1], {})
        elif current is not None and "=" in line and not line.startswith(";"):
            key, _, value = line.partition("=")
            current[key.strip()] = value.strip()
    return sections


class SettingsTest(unittest.TestCase):
    def install(self, p, switches):
        result = p.run("/silent " + switches, cwd="C:\\work")
        self.assertFalse(p.exists("C:\\work\\Glimmerly_Install.log"), "the installation logged a failure")
        return result

    def unicode_settings(self, p, path):
        """Contents of a settings file that must be UTF-16LE with the header."""
        data = p.read_bytes(path)
        self.assertEqual(data[:2], b"\xff\xfe", path + " is not UTF-16LE")
        text = data[2:].decode("utf-16-le")
        self.assertTrue(text.startswith(HEADER), "header missing in " + path)
        self.assertEqual(text.count("UNICODE FILE"), 1)
        self.assertFalse(p.exists(path + "_temp"), "conversion file left behind")
        return parse_ini(text)

    def ansi_settings(self, p, path):
        data = p.read_bytes(path)
        self.assertNotEqual(data[:2], b"\xff\xfe", path + " should not have been converted")
        return parse_ini(data.decode("cp1252"))

    def appdata(self, p):
        return p.profile + "\\AppData\\Roaming"

    def test_empty_folder_gets_unicode_settings_with_language_and_skin(self):
        # Scale 150 and 175 decide the skin whatever the full-screen height is below 1600.
        rows = [(144, "gnome-colors-wise_32.png", "32"), (168, "gnome-colors-human_48.png", "48")]
        for pixels_per_inch, skin, size in rows:
            with self.subTest(pixels_per_inch=pixels_per_inch), Prefix("win7") as p:
                p.set_value("user", r"Control Panel\Desktop", "LogPixels", pixels_per_inch)
                self.install(p, '/folder="%s" /ini=' % TARGET)
                settings = self.unicode_settings(p, TARGET + "\\gl_main32.ini")
                self.assertEqual(settings["Language"], {"DLL": "DEUTSCH.DLL", "Lang": "Deutsch"})
                self.assertEqual(settings["Toolbar"], {"Skin": skin, "Size": size})
                self.assertNotIn("INI_Folder", settings.get("Others", {}))
                self.assertFalse(p.exists(self.appdata(p) + "\\Glimmerly\\gl_main32.ini"))

    def test_default_display_gets_the_skin_of_its_readings(self):
        with Prefix("win7") as p:
            # The null driver's screen is 1024x768; Wine's full-screen height adds a caption to it
            # where Windows would subtract the task bar, so it lands in the 768..1200 band at 96 ppi.
            readings = probe(p)
            self.assertEqual(readings["dpi"], "96")
            self.assertTrue(768 <= int(readings["fullscreen"]) <= 1200, readings)
            self.install(p, '/folder="%s" /ini=' % TARGET)
            settings = self.unicode_settings(p, TARGET + "\\gl_main32.ini")
            self.assertEqual(settings["Toolbar"], {"Skin": "Moorland_24.png", "Size": "24"})

    def test_settings_folder_gets_the_keys_and_program_folder_the_pointer(self):
        with Prefix("win7") as p:
            p.set_value("user", r"Control Panel\Desktop", "LogPixels", 144)
            self.install(p, '/folder="%s" /ini="%%APPDATA%%\\Glimmerly"' % TARGET)
            pointer = self.ansi_settings(p, TARGET + "\\gl_main32.ini")
            self.assertEqual(pointer, {"Others": {"INI_Folder": "%APPDATA%\\Glimmerly"}})
            settings = self.unicode_settings(p, self.appdata(p) + "\\Glimmerly\\gl_main32.ini")
            self.assertEqual(settings["Language"], {"DLL": "DEUTSCH.DLL", "Lang": "Deutsch"})
            self.assertEqual(settings["Toolbar"], {"Skin": "gnome-colors-wise_32.png", "Size": "32"})
            self.assertNotIn("Others", settings)

    def test_pointer_outside_the_code_page_keeps_every_character(self):
        # Code page 1252 has no Cyrillic letter: the pointer file becomes UTF-16 to hold it.
        folder = "C:\\Einst\u0416"
        with Prefix("win7") as p:
            self.install(p, '/folder="%s" /ini=%s' % (TARGET, folder))
            # Wine's profile functions drop the empty line after the header when they rewrite the file.
            data = p.read_bytes(TARGET + "\\gl_main32.ini")
            self.assertEqual(data[:2], b"\xff\xfe")
            self.assertEqual(parse_ini(data[2:].decode("utf-16-le")), {"Others": {"INI_Folder": folder}})
            settings = self.unicode_settings(p, folder + "\\gl_main32.ini")
            self.assertEqual(settings["Language"], {"DLL": "DEUTSCH.DLL", "Lang": "Deutsch"})

    def test_silent_install_inside_the_default_folder_moves_settings_to_appdata(self):
        for folder in ["C:\\Program Files\\Glimmerly", "C:\\Program Files\\Glimmerly\\Sub"]:
            with self.subTest(folder=folder), Prefix("win7") as p:
                self.install(p, '/folder="%s" /ini=' % folder)
                pointer = self.ansi_settings(p, folder + "\\gl_main32.ini")
                self.assertEqual(pointer, {"Others": {"INI_Folder": "%APPDATA%\\Glimmerly"}})
                settings = self.unicode_settings(p, self.appdata(p) + "\\Glimmerly\\gl_main32.ini")
                self.assertEqual(settings["Language"]["DLL"], "DEUTSCH.DLL")

    def test_existing_skin_is_kept_and_old_pointer_removed(self):
        with Prefix("win7") as p:
            p.set_value("user", r"Control Panel\Desktop", "LogPixels", 168)
            p.put_file(TARGET + "\\gl_main32.ini",
                       b"[Others]\r\nINI_Folder=D:\\Old\r\nZoom=2\r\n[Language]\r\nDLL=ENGLISH.DLL\r\nLang=English\r\n"
                       b"[Toolbar]\r\nSkin=Mine.png\r\nSize=99\r\n[Dateien]\r\nZuletzt=C:\\Bilder\\Gr\xfc\xdfe.jpg\r\n")
            self.install(p, '/folder="%s" /ini=' % TARGET)
            settings = self.unicode_settings(p, TARGET + "\\gl_main32.ini")
            self.assertEqual(settings["Toolbar"], {"Skin": "Mine.png", "Size": "99"})
            self.assertEqual(settings["Language"], {"DLL": "DEUTSCH.DLL", "Lang": "Deutsch"})
            self.assertEqual(settings["Others"], {"Zoom": "2"})
            self.assertEqual(settings["Dateien"], {"Zuletzt": "C:\\Bilder\\Gr\u00fc\u00dfe.jpg"})

    def test_portable_settings_folder_fills_the_program_folder_file_too(self):
        with Prefix("win7") as p:
            p.set_value("user", r"Control Panel\Desktop", "LogPixels", 144)
            folder = "C:\\Glimmerly64_App"
            self.install(p, '/folder="%s" /ini="%s\\Settings"' % (folder, folder))
            program = self.ansi_settings(p, folder + "\\gl_main32.ini")
            self.assertEqual(program["Others"], {"INI_Folder": folder + "\\Settings"})
            self.assertEqual(program["Language"], {"DefaultLang": "DEUTSCH.DLL", "Lang": "Deutsch"})
            self.assertEqual(program["Toolbar"], {"Skin": "Moorland_24.png", "Size": "24"})
            settings = self.unicode_settings(p, folder + "\\Settings\\gl_main32.ini")
            self.assertEqual(settings["Language"], {"DLL": "DEUTSCH.DLL", "Lang": "Deutsch"})
            self.assertEqual(settings["Toolbar"], {"Skin": "gnome-colors-wise_32.png", "Size": "32"})

    def test_second_installation_keeps_the_unicode_file(self):
        # Wine's profile functions read and write a file that starts with FF FE as UTF-16LE.
        with Prefix("win7") as p:
            p.set_value("user", r"Control Panel\Desktop", "LogPixels", 144)
            self.install(p, '/folder="%s" /ini=' % TARGET)
            first = p.read_bytes(TARGET + "\\gl_main32.ini")
            p.set_value("user", r"Control Panel\Desktop", "LogPixels", 168)
            self.install(p, '/folder="%s" /ini=' % TARGET)
            self.assertEqual(p.read_bytes(TARGET + "\\gl_main32.ini"), first)
            settings = self.unicode_settings(p, TARGET + "\\gl_main32.ini")
            self.assertEqual(settings["Toolbar"], {"Skin": "gnome-colors-wise_32.png", "Size": "32"})


if __name__ == "__main__":
    unittest.main()
