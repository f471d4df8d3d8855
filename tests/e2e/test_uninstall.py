"""The sample payload's uninstaller after a silent installation with every option: the prefix's files and
both registry hives are compared with their state before the installation. Only the user's settings
folder may stay, and what Wine itself rewrites on its own (listed below, narrowly)."""
import os
import shutil
import time
import unittest

from winetest import ARCH, FIXTURES, SETUP_EXE, Prefix

# Wine's console host keeps its settings here for the launcher, a console program; seen once appearing
# between the snapshots. Wine's debugger records its settings when one of Wine's own background processes
# of the headless session crashed (seen once in some hundred runs); a crash of the setup program or the
# uninstaller shows in their own error output, which is checked instead.
WINE_NOISE_KEYS = {("user", "console"), ("user", r"software\wine\winedbg")}
# Wine refreshes its display adapter's and monitor's class entries on every start of the driver.
WINE_NOISE = {
    ("system", r"system\currentcontrolset\control\class\{4d36e968-e325-11ce-bfc1-08002be10318}", ""),
    ("system", r"system\currentcontrolset\control\class\{4d36e968-e325-11ce-bfc1-08002be10318}\0000",
     "DriverDateData"),
    ("system", r"system\currentcontrolset\control\class\{4d36e968-e325-11ce-bfc1-08002be10318}\0000",
     "DriverDate"),
    ("system", r"system\currentcontrolset\control\class\{4d36e96e-e325-11ce-bfc1-08002be10318}", ""),
}
SETTINGS = "%APPDATA%\\Glimmerly"
UNINSTALL_KEY = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\Glimmerly"
UNINSTALL_KEY_WOW64 = r"Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Glimmerly"

# What belongs to others and must outlive the uninstallation: another installation's class and the
# extension pointing at it, values beside the ones the setup program writes, the user's own files. The
# defaults and choices of another viewer that the installation replaces come back.
FOREIGN_VALUES = [
    ("system", r"Software\Classes\.png", "", "OtherViewer.png"),
    ("user", r"Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.jpg\UserChoice", "Progid",
     "OtherViewer.jpg"),
    ("user", r"Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.gif", "ProgID", "OtherViewer.gif"),
    ("system", r"Software\Classes\Glimmerly.xyz\shell\open\command", "", '"C:\\Other\\gl_main32.exe" "%1"'),
    ("system", r"Software\Classes\.xyz", "", "Glimmerly.xyz"),
    ("system", r"Software\Classes\.jpg", "Content Type", "image/jpeg"),
    ("system", r"Software\RegisteredApplications", "Other", r"Software\Other\Capabilities"),
    ("user", r"Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.bmp", "Application", "mspaint.exe"),
    ("user", r"Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.xyz\UserChoice", "Progid",
     "Glimmerly.xyz"),
]

LATER_VALUES = [
    ("system", r"Software\Classes\.png", "", "LaterViewer.png"),
    ("user", r"Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.jpg\UserChoice", "Progid",
     "LaterViewer.jpg"),
]

# Another program's folder, named by payload members: a link inside the installation leads to it, and an
# uninstaller started against it must find it is no installation.
FOREIGN_FOLDER = {"C:\\Fremd\\Deutsch.dll": b"MZ foreign", "C:\\Fremd\\gl_main32.exe": b"MZ foreign"}


def kept_icons_library():
    with open(os.path.join(FIXTURES, "icons", "icons_431.dll"), "rb") as handle:
        return handle.read()


def files(p):
    """{path below drive C: -> None for a folder, (size, modification time) for a file}."""
    found = {}
    drive = p.host("C:\\")
    for base, folders, names in os.walk(drive):
        for name in folders:
            found[os.path.relpath(os.path.join(base, name), drive)] = None
        for name in names:
            info = os.lstat(os.path.join(base, name))
            found[os.path.relpath(os.path.join(base, name), drive)] = (info.st_size, info.st_mtime_ns)
    return found


def registry(p, which):
    """{key: {value: data}} with every parent key present, as Wine leaves parents out of its files."""
    keys = p.registry(which)
    for key in list(keys):
        while "\\" in key:
            key = key.rpartition("\\")[0]
            keys.setdefault(key, {})
    return keys


def snapshot(p):
    return {"files": files(p), "user": registry(p, "user"), "system": registry(p, "system")}


def differences(before, after):
    found = []
    for path in sorted(set(before["files"]) | set(after["files"])):
        if before["files"].get(path, "none") != after["files"].get(path, "none"):
            found.append(("file", path, before["files"].get(path, "none"), after["files"].get(path, "none")))
    for which in ("user", "system"):
        old, new = before[which], after[which]
        for key in sorted(set(old) | set(new)):
            if any(which == w and (key == k or key.startswith(k + "\\")) for w, k in WINE_NOISE_KEYS):
                continue
            if (key in old) != (key in new):
                found.append((which, key, "key" if key in old else "none", "key" if key in new else "none"))
                continue
            for name in sorted(set(old[key]) | set(new[key])):
                if old[key].get(name) != new[key].get(name) and (which, key, name) not in WINE_NOISE:
                    found.append((which, key + " : " + name, old[key].get(name), new[key].get(name)))
    return found


class UninstallRestoresThePrefix(unittest.TestCase):
    PREFIX_ARCH = ARCH
    CASES = [
        # Windows 10: classes, capabilities, user choices, hidden app entries; links for all users; a newer
        # icons library that the setup program keeps.
        ("win10", "/allusers=1", {"C:\\Program Files\\Glimmerly\\Plugins\\Fremd.dll": b"MZ foreign",
                                  "C:\\Program Files\\Glimmerly\\Plugins\\Icons.dll": kept_icons_library()}),
        # Windows XP: per-user "ProgID" values and machine-wide extensions; the user's links.
        ("winxp", "/allusers=0", {}),
    ]

    def test_every_option_installed_then_uninstalled_silently(self):
        for version, allusers, foreign_files in self.CASES:
            with self.subTest(version=version), Prefix(version, arch=self.PREFIX_ARCH) as p:
                for which, key, name, value in FOREIGN_VALUES:
                    p.set_value(which, key, name, value)
                for path, data in {**FOREIGN_FOLDER, **foreign_files}.items():
                    p.put_file(path, data)
                with open(SETUP_EXE, "rb") as setup:
                    p.put_file("C:\\setup\\" + os.path.basename(SETUP_EXE), setup.read())
                p.put_file("C:\\work\\.keep", b"")
                # Wine's first start (its console host for the launcher, too) settles before the snapshot.
                p.window_exists("Glimmerly")
                p.wait_for_programs()
                before = snapshot(p)

                # Installed and upgraded: the upgrade leaves the previous version's files hidden in the folder.
                for _ in range(2):
                    installed = p.run("/silent /desktop=1 /thumbs=1 /group=1 %s /assoc=2 /assocallusers /ini=%s"
                                      % (allusers, SETTINGS), cwd="C:\\work")
                # A 32-bit setup program on 64-bit Windows writes the entry in the 32-bit view.
                entry = p.key("system", UNINSTALL_KEY) or p.key("system", UNINSTALL_KEY_WOW64)
                # Another program takes a default and a choice afterwards: they stay, and only the
                # records of what the installation replaced go.
                for which, key, name, value in LATER_VALUES:
                    p.set_value(which, key, name, value)
                    before[which][key.lower()][name] = value
                uninstaller = entry["UninstallString"].strip('"')
                settings = p.host(p.profile + "\\AppData\\Roaming\\Glimmerly\\gl_main32.ini")
                self.assertTrue(os.path.exists(settings))
                # A link (Wine's stand-in for a junction) in place of one of the installation's folders.
                linked = p.host(entry["InstallLocation"] + "Languages")
                shutil.rmtree(linked)
                os.symlink(p.host("C:\\Fremd"), linked)
                refused = p.run_program(uninstaller, "/silent /after=0 /copy=0 /folder=C:\\Fremd\\")
                self.assertEqual(refused.returncode, 1)
                uninstalled = p.run_program(uninstaller, "/silent", cwd="C:\\work")
                # The removal finishes in a copy of the uninstaller after the program itself has ended.
                p.wait_for_programs()
                after = snapshot(p)

                settings_folder = os.path.relpath(os.path.dirname(settings), p.host("C:\\"))
                self.assertEqual(after["files"].pop(os.path.join(settings_folder, "gl_main32.ini"))[0],
                                 os.path.getsize(settings))
                self.assertIsNone(after["files"].pop(settings_folder))
                # The link keeps the installation's folder.
                folder = os.path.relpath(p.host(entry["InstallLocation"]), p.host("C:\\"))
                self.assertIsNone(after["files"].pop(os.path.join(folder, "Languages")))
                if folder not in before["files"]:
                    self.assertIsNone(after["files"].pop(folder))
                self.assertEqual(differences(before, after), [])
                for result in (installed, uninstalled):
                    self.assertNotIn(b"Unhandled", result.stderr)


class RunningViewer(unittest.TestCase):
    def test_uninstaller_refuses_while_the_viewer_runs(self):
        with Prefix("win7") as p:
            p.run("/silent", cwd="C:\\work")
            uninstaller = p.key("system", UNINSTALL_KEY)["UninstallString"].strip('"')
            p.start_viewer()
            self.assertEqual(p.run_program(uninstaller, "/silent").returncode, 2)
            self.assertTrue(p.exists(uninstaller))
            self.assertIsNotNone(p.key("system", UNINSTALL_KEY))


class FileInUse(unittest.TestCase):
    def test_a_file_in_use_keeps_the_entry_and_the_uninstaller_for_a_retry(self):
        with Prefix("win7") as p:
            p.run("/silent", cwd="C:\\work")
            folder = p.key("system", UNINSTALL_KEY)["InstallLocation"]
            p.start('"%sPlugins\\Formats.dll" 20 C:\\held' % folder, exe=os.path.join(FIXTURES, "hold_file.exe"))
            deadline = time.time() + 30
            while not p.exists("C:\\held") and time.time() < deadline:
                time.sleep(0.3)
            p.run_program(folder + "gl_uninstall.exe", "/silent")
            p.wait_for_programs()
            self.assertIsNotNone(p.key("system", UNINSTALL_KEY))
            for name, stays in (("gl_uninstall.exe", True), ("Plugins\\Formats.dll", True), ("gl_main32.exe", False)):
                self.assertEqual(p.exists(folder + name), stays, name)


if __name__ == "__main__":
    unittest.main()
