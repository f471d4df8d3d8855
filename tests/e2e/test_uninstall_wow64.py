"""The uninstallation of test_uninstall on 64-bit Windows, which runs the 32-bit setup program and
uninstaller under WOW64: the machine's software keys have two views, and the application key may lie in
either. Runs in a 64-bit prefix; skipped where the tests run the 64-bit build already."""
import unittest

import test_uninstall
from winetest import ARCH


@unittest.skipIf(ARCH != "win32", "this machine runs no 32-bit programs")
class UninstallUnderWow64(test_uninstall.UninstallRestoresThePrefix):
    PREFIX_ARCH = "win64"
    CASES = [("win7", "/allusers=1", {"C:\\Program Files (x86)\\Glimmerly\\Fremd.txt": b"foreign"})]


if __name__ == "__main__":
    unittest.main()
