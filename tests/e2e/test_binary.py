"""The shipped 32-bit setup program, checked without running it: headers, imports, resources."""
import io
import os
import re
import struct
import unittest
import zipfile
import zlib

from peinfo import PeFile, dialog_template, version_strings

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
    12: "Windows muss neu gestartet werden, um die Installation abzuschließen.",
    13: "Neustart erforderlich!",
    14: "Warnung: Eine andere Glimmerly Installation läuft bereits!\nWarten Sie bitte, bis sie beendet ist!",
    15: "Übersprungen, weil im Pfad ein Link liegt",
    16: "Einrichtung unvollständig!",
    17: "und %d weitere",
    19: "Benötigter Speicherplatz: %s",
    20: "%s, frei auf Laufwerk %s %s",
    21: "Nicht genügend Speicherplatz auf Laufwerk %s! Benötigt: %s, frei: %s",
    22: "Dateien werden kopiert: %s",
    23: "Einstellungen werden geschrieben",
    24: "Verknüpfungen werden erstellt",
    25: "Dateitypen werden registriert",
    18: "Laufwerk %s nicht gefunden!\n\nBitte wählen Sie ein Zielverzeichnis auf einem vorhandenen Laufwerk.",
}

LOGO = 113
# The wizard's pages: per template (id, text, place) of every control, the logo bitmap by its id.
DIALOGS = {
    101: [(1026, LOGO, (9, 7, 59, 19)),
          (1013, "Willkommen zur Glimmerly %s Installation!", (71, 10, 228, 32)),
          (1056, "Dieses Programm wird Glimmerly Version  %s  (%s bit) auf Ihrem PC installieren.\n"
                 "(Bitte mit Admin-Rechten ausführen)", (9, 48, 287, 21)),
          (-1, "Verknüpfungen erzeugen:", (9, 72, 281, 79)),
          (1011, "Glimmerly-Verknüpfung auf dem &Desktop", (17, 86, 182, 9)),
          (1021, "Thu&mbnails-Verknüpfung auf dem Desktop", (17, 98, 192, 9)),
          (1012, "Glimmerly-Verknüpfung im Start-Menü -> &Programme", (17, 110, 199, 9)),
          (1019, "&Keine", (234, 95, 50, 15)),
          (1016, "&Nur für den aktuellen Benutzer", (17, 125, 134, 9)),
          (1017, "Für &alle Benutzer", (17, 136, 139, 9)),
          (-1, "Zielve&rzeichnis:", (9, 165, 281, 33)),
          (1000, "", (17, 177, 212, 12)),
          (1009, "D&urchsuchen", (234, 176, 50, 15)),
          (1045, "Glimmerly &EULA", (9, 207, 54, 10)),
          (-1, "(End User License Agreement) lesen.", (63, 207, 157, 10))],
    108: [(-1, "Was ist neu in dieser Version?", (0, 0, 113, 9)),
          (1000, "", (0, 11, 299, 211))],
    104: [(-1, "Möchten Sie Dateien mit Glimmerly verknüpfen? (OPTIONAL !)", (0, 0, 299, 204)),
          (-1, "INFO: in Win10 muss man verwenden: System-Einstellungen, Apps, Standard-Apps !", (7, 11, 289, 17)),
          (3311, "Schreibe Verknüpfungen in System-&Registry (für XP, Vista, Win7, Win8)", (7, 29, 290, 9)),
          (-1, "&Dateitypen:", (7, 40, 150, 8)),
          (1579, "", (7, 49, 285, 134)),
          (-1, "INFO: wenn Sie ein Update durchführen, können Sie diesen Schritt überspringen", (7, 185, 285, 17)),
          (-1, "* - PlugIns", (0, 209, 40, 10)),
          (1091, "&Nur Bilder", (43, 206, 56, 15)),
          (1080, "&Alle markieren", (102, 206, 56, 15)),
          (1081, "K&eine markieren", (161, 206, 62, 15)),
          (1037, "Für alle User (XP)", (228, 209, 71, 10))],
    109: [(1014, "Bereit zum Installieren!", (9, 11, 179, 12)),
          (1026, LOGO, (227, 8, 59, 19)),
          (1010, "Zielverzeichnis:", (9, 53, 281, 10)),
          (1027, "", (9, 66, 281, 10)),
          (-1, "INI-Verzeichnis ändern (optional):", (9, 83, 281, 48)),
          (1038, "&Glimmerly-Verzeichnis (für Fortgeschrittene: benötigt Admin-Rechte fürs Schreiben)",
           (17, 95, 270, 18)),
          (1039, "\"&Anwendungsdaten\"-Verzeichnis (empfohlen)", (17, 116, 266, 10)),
          (1046, "", (19, 143, 260, 10)),
          (1028, "", (19, 155, 260, 9)),
          (1044, "Installiere ... bitte warten ...", (19, 166, 260, 15)),
          (-1, "Drücken Sie den \"Weiter\" Knopf um die Installation zu starten ...", (9, 189, 235, 12))],
    110: [(1015, "Einrichtung abgeschlossen!", (5, 11, 186, 18)),
          (1026, LOGO, (235, 8, 59, 19)),
          (1023, "Die Installation dieses Programms auf Ihrem Computer ist abgeschlossen.", (5, 35, 270, 8)),
          (1024, "&Jetzt neu starten", (5, 52, 265, 10)),
          (1025, "S&päter neu starten", (5, 64, 265, 10)),
          (-1, "Anschließend ...", (5, 144, 265, 9)),
          (1022, "Glimmerly F&AQs (Häufig gestellte Fragen) Webseite anzeigen", (5, 156, 265, 10)),
          (1020, "Glimmerly &starten", (5, 169, 265, 10)),
          (-1, "_" * 72, (5, 179, 288, 8)),
          (-1, "Glimmerly deinstallieren?\n\nGehen Sie zu \"Start->Programme->Glimmerly\" und starten Sie "
               "\"Glimmerly deinstallieren\".", (5, 188, 265, 33))],
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

    def test_overhead_beside_the_payload_stays_under_400_kb(self):
        _, payload = self.resources[("ZIP", 1974)]
        overhead = len(self.pe.data) - len(payload)
        self.assertLess(overhead, 400 * 1024, "installer without its payload archive")

    def shipped_binaries(self):
        _, payload = self.resources[("ZIP", 1974)]
        with zipfile.ZipFile(io.BytesIO(payload)) as archive:
            shipped = {name: archive.read(name) for name in archive.namelist()
                       if name.lower().endswith((".exe", ".dll"))}
        shipped["glimmerly-setup.exe"] = self.pe.data
        self.assertGreaterEqual(len(shipped), 14)
        return shipped

    def test_programs_search_their_dependents_libraries_in_the_system_folder_only(self):
        programs = {name: data for name, data in self.shipped_binaries().items() if name.endswith(".exe")}
        self.assertGreaterEqual(len(programs), 4)
        for name, data in programs.items():
            # 64 bytes on 32-bit programs: what Windows XP reads; LOAD_LIBRARY_SEARCH_SYSTEM32.
            self.assertEqual(PeFile(name, data).load_configuration(), (0x40, 0x800), name)

    def test_installer_and_payload_programs_carry_no_debug_information(self):
        for name, data in self.shipped_binaries().items():
            pe = PeFile(name, data)
            self.assertEqual(pe.symbol_count, 0, name)
            self.assertEqual([s[0] for s in pe.sections if s[0].startswith((".debug", ".zdebug", "/"))], [], name)

    def test_icon_bitmap_payload_and_changes_text(self):
        self.assertIn((14, 111), self.resources)  # icon group
        _, bitmap = self.resources[(2, 113)]
        width, height = struct.unpack_from("<ii", bitmap, 4)
        # Twice the 88 x 31 pixels the pages show at 96 dpi: the wizard scales it down to each page's scale.
        self.assertEqual((width, abs(height)), (176, 62))
        _, payload = self.resources[("ZIP", 1974)]
        self.assertEqual(payload[:4], b"PK\x03\x04")
        sample = os.path.join(os.environ["GLIMMERLY_SHIPPED_DIR"], "payload", "sample_payload.zip")
        with open(sample, "rb") as handle:
            self.assertEqual(payload, handle.read())
        # The record the program checks the payload by before it writes anything: size and CRC-32.
        self.assertEqual(self.resources[("ZIPSUM", 1974)][1], struct.pack("<II", len(payload), zlib.crc32(payload)))
        _, changes = self.resources[("TXT", 217)]
        self.assertEqual(changes[:2], b"\xff\xfe")
        text = changes[2:].decode("utf-16-le")
        self.assertTrue(text.startswith("Glimmerly 4.62 - Was ist neu?\r\n"), text[:40])
        self.assertIn("Überblendzeit", text)
        self.assertNotIn("\n", text.replace("\r\n", ""))

    def test_wizard_pages(self):
        for template, expected in DIALOGS.items():
            head, controls = dialog_template(self.resources[(5, template)][1])
            self.assertEqual((head["size"], head["font"]), ((300, 222), (8, "Microsoft Sans Serif")), template)
            self.assertTrue(head["style"] & 0x40000000 and not head["style"] & 0x00C00000, "child, no caption")
            self.assertEqual([(c[0], c[2], c[3]) for c in controls], expected, template)
            # One access key per text, none twice on a page, the sheet's buttons included.
            texts = [c[1] for c in expected if isinstance(c[1], str)]
            texts += ["< &Zurück", "&Weiter >", STRINGS[2 if template == 110 else 1]]
            keys = [t[t.index("&") + 1].lower() for t in texts if t.count("&") == 1]
            self.assertEqual((len(keys), len(set(keys))), (sum("&" in t for t in texts), len(keys)), template)
        _, ready = dialog_template(self.resources[(5, 109)][1])
        status_style = next(c[4] for c in ready if c[0] == 1044)
        # Centred both ways (SS_CENTER, SS_CENTERIMAGE) and hidden until the installation starts.
        self.assertEqual((status_style & 0x20F, status_style & 0x10000000), (0x201, 0))
        _, associations = dialog_template(self.resources[(5, 104)][1])
        self.assertEqual(next(c[1] for c in associations if c[0] == 1579).lower(), "syslistview32")


if __name__ == "__main__":
    unittest.main()
