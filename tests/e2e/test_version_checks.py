"""The Windows family the setup program's checks report under Wine's Windows-version settings.

The version probe runs the checks of glimmerly_core with the setup program's own manifest, which
declares no supported systems; a second probe declares Windows 8.1 and 10 to show what would change.
"""
import os
import re
import unittest

from winetest import FIXTURES, Prefix

PROBE = os.path.join(FIXTURES, "version_probe.exe")
PROBE_SUPPORTED_OS = os.path.join(FIXTURES, "version_probe_supported_os.exe")


def probe(prefix, exe=PROBE):
    """The probe's report in the prefix: {field: text}."""
    result = prefix.run("", cwd="C:\\work", exe=exe)
    if result.returncode != 0:
        raise AssertionError("version probe failed: %r %r" % (result.returncode, result.stderr[-400:]))
    line = prefix.read_bytes("C:\\work\\version_probe.txt").decode("ascii").strip()
    return dict(re.findall(r"(\w+)=(\S+)", line))


class VersionChecksTest(unittest.TestCase):
    # Wine setting, reported platform/major/minor, IsVistaOrLater, IsWindows8OrLater, IsWindows8Exactly, family.
    ROWS = [
        ("win2k", ("2", "5", "0"), "0", "0", "0", "Older"),
        ("winxp", ("2", "5", "1"), "0", "0", "0", "Xp"),
        ("win7", ("2", "6", "1"), "1", "0", "0", "Vista"),
        # Without a supported-OS list Windows 10 reports itself as 6.2.
        ("win10", ("2", "6", "2"), "1", "1", "1", "Vista"),
    ]

    def test_family_under_each_windows_setting(self):
        for version, reported, vista, win8, win8_exactly, family in self.ROWS:
            with self.subTest(version=version), Prefix(version) as p:
                report = probe(p)
                self.assertEqual((report["platform"], report["major"], report["minor"]), reported)
                self.assertEqual(report["vista"], vista)
                self.assertEqual(report["win8"], win8)
                self.assertEqual(report["win8exactly"], win8_exactly)
                self.assertEqual(report["family"], family)

    def test_declared_support_changes_the_reported_version(self):
        rows = [
            ("win81", ("2", "6", "3"), "1", "1", "0", "Vista"),
            # A reported 10.0 fails the minor-version test of the Windows 8 check.
            ("win10", ("2", "10", "0"), "1", "0", "0", "Vista"),
        ]
        for version, reported, vista, win8, win8_exactly, family in rows:
            with self.subTest(version=version), Prefix(version) as p:
                report = probe(p, PROBE_SUPPORTED_OS)
                self.assertEqual((report["platform"], report["major"], report["minor"]), reported)
                self.assertEqual(report["vista"], vista)
                self.assertEqual(report["win8"], win8)
                self.assertEqual(report["win8exactly"], win8_exactly)
                self.assertEqual(report["family"], family)


if __name__ == "__main__":
    unittest.main()
