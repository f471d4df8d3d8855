"""The uninstallation of test_uninstall on 64-bit Windows, which runs the 32-bit setup program and
uninstaller under WOW64: the machine's software keys have two views, and the application key may lie in
either. Runs in a 64-bit prefix of its own; skipped where the tests run the 64-bit build already."""
import os

NATIVE_ARCH = os.environ.get("GLIMMERLY_WINE_ARCH", "win32")
if NATIVE_ARCH == "win32" and "GLIMMERLY_WINE_TEMPLATE" in os.environ:
    os.environ["GLIMMERLY_WINE_ARCH"] = "win64"
    os.environ["GLIMMERLY_WINE_TEMPLATE"] += "-wow64"

import unittest  # noqa: E402

import test_uninstall  # noqa: E402


@unittest.skipIf(NATIVE_ARCH != "win32", "this machine runs no 32-bit programs")
class UninstallUnderWow64(test_uninstall.UninstallRestoresThePrefix):
    CASES = [("win7", "/allusers=1", {"C:\\Program Files (x86)\\Glimmerly\\Fremd.txt": b"foreign"})]


if __name__ == "__main__":
    unittest.main()
