"""The shipped 32-bit setup program, checked without running it: headers, imports, resources."""
import os
import re
import struct
import unittest

from peinfo import PeFile, version_strings

SHIPPED = os.path.join(os.environ.get("GLIMMERLY_SHIPPED_DIR", ""), "glimmerly-setup.exe")

# Libraries the program may bind at load time; everything else is loaded on first use by full path.
LOAD_TIME_LIBRARIES = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "comctl32.dll", "msvcrt.dll"}

# Functions of those libraries that Windows XP (SP3) does not have; MinGW's runtimes are known to
# reach for some of them (the posix thread library takes GetTickCount64).
NOT_ON_XP = {
    "GetTickCount64", "InitializeSRWLock", "AcquireSRWLockExclusive", "AcquireSRWLockShared",
    "ReleaseSRWLockExclusive", "ReleaseSRWLockShared", "TryAcquireSRWLockExclusive",
    "InitializeConditionVariable", "SleepConditionVariableCS", "SleepConditionVariableSRW",
    "WakeConditionVariable", "WakeAllConditionVariable", "InitOnceExecuteOnce", "InitOnceBeginInitialize",
    "InitializeCriticalSectionEx", "FlsAlloc", "FlsFree", "FlsGetValue", "FlsSetValue",
    "GetFileInformationByHandleEx", "SetFileInformationByHandle", "GetFinalPathNameByHandleW",
    "CreateSymbolicLinkW", "GetLocaleInfoEx", "LCIDToLocaleName", "LocaleNameToLCID", "CompareStringEx",
    "GetUserDefaultLocaleName", "CreateEventExW", "CreateMutexExW", "CreateSemaphoreExW", "GetErrorMode",
    "GetCurrentProcessorNumber", "QueryFullProcessImageNameW", "SetDefaultDllDirectories", "AddDllDirectory",
    "RegGetValueW", "RegDeleteKeyExW", "RegSetKeyValueW", "RegDeleteTreeW", "RegCopyTreeW",
    "SetProcessDPIAware", "SetProcessDpiAwareness", "GetDpiForWindow", "ChangeWindowMessageFilter",
    "TaskDialog", "TaskDialogIndirect", "GetSystemTimePreciseAsFileTime", "GetTickCount64",
    "RaiseFailFastException", "GetNamedPipeClientProcessId", "CancelIoEx", "GetQueuedCompletionStatusEx",
    "WerRegisterRuntimeExceptionModule", "SetThreadpoolTimer", "CreateThreadpoolTimer",
}

STRINGS = {
    1: "&Beenden",
    2: "&Fertig stellen",
    3: "Installation beenden?",
    4: "Glimmerly Installation",
    5: "Ungültiges Zielverzeichnis!",
    6: "Zielverzeichnis",
    7: "Fehler beim Installieren!\n\nÜberprüfen Sie bitte ob Glimmerly läuft, das Zielverzeichnis voll ist "
       "oder keine Schreibrechte vorhanden sind!\n\n(Der Installer sollte im ADMIN-Modus gestartet werden, "
       "z.B. den Installer mit der rechten Maustaste anklicken)",
    8: "Zielverzeichnis:",
    9: "Sie möchten die aktuellen Verknüpfungen ändern und einen oder mehrere Dateitypen mit Glimmerly "
       "verknüpfen!\n\nSind Sie sicher!?",
    10: "Warnung: Glimmerly läuft!\nBeenden Sie bitte Glimmerly bevor Sie mit der Installation fortsetzen!",
    11: "Kann Zielverzeichnis nicht erstellen!\n\nBitte überprüfen Sie Ihre Schreibrechte und "
        "System-Policies!\n\nVersuchen Sie das Zielverzeichnis zuerst händisch zu erstellen.",
}


class ShippedProgram(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = PeFile(SHIPPED)
        cls.resources = cls.pe.resources()

    def test_is_a_32_bit_gui_program_for_windows_5_1(self):
        self.assertEqual(self.pe.machine, 0x14C)
        self.assertEqual(self.pe.magic, 0x10B)
        self.assertEqual(self.pe.subsystem, 2)
        self.assertEqual((self.pe.major_subsystem, self.pe.minor_subsystem), (5, 1))

    def test_binds_only_system_libraries_with_functions_xp_has(self):
        imports = self.pe.imports()
        self.assertEqual(set(imports) - LOAD_TIME_LIBRARIES, set(), "load-time libraries")
        for dll, functions in imports.items():
            self.assertEqual(sorted(set(functions) & NOT_ON_XP), [], dll)
            self.assertFalse([f for f in functions if dll == "msvcrt.dll" and f.endswith("_s")], dll)
        self.assertIn("InitCommonControlsEx", imports["comctl32.dll"])

    def test_string_table_holds_the_german_messages(self):
        self.assertEqual(self.pe.strings(), STRINGS)

    def test_manifest(self):
        _, data = self.resources[(24, 1)]
        text = data.decode("utf-8")
        self.assertIn('level="highestAvailable"', text)
        self.assertRegex(text, r'name="Microsoft\.Windows\.Common-Controls"\s+version="6\.0\.0\.0"')
        self.assertIn(">True/PM</dpiAware>", text)
        self.assertNotIn("supportedOS", text)
        self.assertRegex(text, r'<assemblyIdentity type="win32" name="Glimmerly" version="1\.0\.0\.0"')
        self.assertIn("<description>Glimmerly - Universal picture viewer</description>", text)

    def test_version_resource(self):
        _, data = self.resources[(16, 1)]
        blocks, fixed = version_strings(data)
        self.assertEqual(fixed[0], 0xFEEF04BD)
        self.assertEqual((fixed[2], fixed[3]), (4 << 16 | 62, 0))  # file version 4.62.0.0
        self.assertEqual((fixed[4], fixed[5]), (4 << 16 | 62, 0))  # product version 4.62.0.0
        strings = blocks["040904E4"]
        for name in ("Comments", "FileDescription", "InternalName", "ProductName"):
            self.assertEqual(strings[name], "Glimmerly 32-bit Installer", name)
        self.assertEqual(strings["CompanyName"], "Glimmerly Works")

    def test_icon_bitmap_payload_and_changes_text(self):
        self.assertIn((14, 111), self.resources)  # icon group
        _, bitmap = self.resources[(2, 113)]
        width, height = struct.unpack_from("<ii", bitmap, 4)
        self.assertEqual((width, abs(height)), (88, 31))
        _, payload = self.resources[("ZIP", 1974)]
        self.assertEqual(payload[:4], b"PK\x03\x04")
        sample = os.path.join(os.environ["GLIMMERLY_SHIPPED_DIR"], "payload", "sample_payload.zip")
        with open(sample, "rb") as handle:
            self.assertEqual(payload, handle.read())
        _, changes = self.resources[("TXT", 217)]
        self.assertEqual(changes[:2], b"\xff\xfe")
        text = changes[2:].decode("utf-16-le")
        self.assertTrue(text.startswith("Glimmerly 4.62 - Was ist neu?\r\n"), text[:40])
        self.assertIn("Überblendzeit", text)
        self.assertNotIn("\n", text.replace("\r\n", ""))


if __name__ == "__main__":
    unittest.main()
