"""The shipped 32-bit setup program, checked without running it: headers, imports, resources; and a
signed release of it with its checksums and package manifest."""
import hashlib
import io
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile
import zlib

import yaml

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
    26: "Ein Arbeitsordner im Zielverzeichnis stammt nicht von dieser Installation: Er wurde nicht ausgeführt, "
        "sondern entfernt.",
    27: "Bitte öffnen Sie diese Seite in Ihrem Browser:\n\n%s",
}

LOGO = 113

README = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "README.md")


def readme_exit_statuses():
    """The README's table of exit statuses: [(status, meaning)] in its order."""
    with open(README, encoding="utf-8") as f:
        text = f.read()
    table = text[text.index("| Status | Meaning |"):]
    table = table[:table.index("\n\n")]
    return [(int(status), meaning) for status, meaning in re.findall(r"^\| (\d+) \| (.*?) \| ", table, re.M)]
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


SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(SOURCE, "tools"))
import exit_statuses  # noqa: E402  (the program's own table, read from its sources)

# Facts of the package manager's published manifest schema, version 1.6.0, for the fields the release
# writes: {manifest type: {field: (required, check)}}. A field not listed is not allowed.
IDENTIFIER = r"^[^\.\s\\/:\*\?\"<>\|\x01-\x1f]{1,32}(\.[^\.\s\\/:\*\?\"<>\|\x01-\x1f]{1,32}){1,7}$"
VERSION = r"^[^\\/:\*\?\"<>\|\x01-\x1f]+$"
LOCALE = r"^([a-zA-Z]{2,3}|[iI]-[a-zA-Z]+|[xX]-[a-zA-Z]{1,8})(-[a-zA-Z]{1,8})*$"
URL = r"^([Hh][Tt][Tt][Pp][Ss]?)://.+$"
RETURN_RESPONSES = {
    "packageInUse", "packageInUseByApplication", "installInProgress", "fileInUse", "missingDependency",
    "diskFull", "insufficientMemory", "invalidParameter", "noNetwork", "contactSupport",
    "rebootRequiredToFinish", "rebootRequiredForInstall", "rebootInitiated", "cancelledByUser",
    "alreadyInstalled", "downgrade", "blockedByPolicy", "systemNotSupported", "custom"}


def text(low, high, pattern=None):
    return lambda v: isinstance(v, str) and low <= len(v) <= high and (pattern is None or re.match(pattern, v))


def one_of(*values):
    return lambda v: v in values


def items(fields, most):
    return lambda v: isinstance(v, list) and 1 <= len(v) <= most and all(fits(fields, i) == [] for i in v)


def fits(fields, document):
    """The faults of one mapping against its fields: [(field, fault)]."""
    if not isinstance(document, dict):
        return [("", "not a mapping")]
    faults = [(f, "missing") for f, (required, _) in fields.items() if required and f not in document]
    faults += [(f, "not allowed") for f in document if f not in fields]
    faults += [(f, repr(v)) for f, v in document.items() if f in fields and not fields[f][1](v)]
    return faults


COMMON = {
    "PackageIdentifier": (True, text(1, 128, IDENTIFIER)),
    "PackageVersion": (True, text(1, 128, VERSION)),
    "ManifestVersion": (True, text(5, 20, r"^(0|[1-9][0-9]{0,3}|[1-5][0-9]{4}|6[0-4][0-9]{3}|65[0-4][0-9]{2}|"
                                          r"655[0-2][0-9]|6553[0-5])(\.(0|[1-9][0-9]{0,3}|[1-5][0-9]{4}|"
                                          r"6[0-4][0-9]{3}|65[0-4][0-9]{2}|655[0-2][0-9]|6553[0-5])){2}$")),
}
RETURN_CODE = {
    "InstallerReturnCode": (True, lambda v: type(v) is int and v != 0 and -2147483648 <= v <= 4294967295),
    "ReturnResponse": (True, lambda v: v in RETURN_RESPONSES),
    "ReturnResponseUrl": (False, text(10, 2048, URL)),
}
SWITCH = text(1, 512)
SCHEMA = {
    "version": dict(COMMON, DefaultLocale=(True, text(1, 20, LOCALE)), ManifestType=(True, one_of("version"))),
    "defaultLocale": dict(
        COMMON, PackageLocale=(True, text(1, 20, LOCALE)), Publisher=(True, text(2, 256)),
        PublisherSupportUrl=(False, text(10, 2048, URL)), PackageName=(True, text(2, 256)),
        License=(True, text(3, 512)), LicenseUrl=(False, text(10, 2048, URL)),
        ShortDescription=(True, text(3, 256)), ManifestType=(True, one_of("defaultLocale"))),
    "installer": dict(
        COMMON, InstallerLocale=(False, text(1, 20, LOCALE)),
        InstallerType=(False, one_of("msix", "msi", "appx", "exe", "zip", "inno", "nullsoft", "wix", "burn",
                                     "pwa", "portable")),
        Scope=(False, one_of("user", "machine")),
        InstallModes=(False, lambda v: isinstance(v, list) and len(v) == len(set(v)) <= 3 and
                      set(v) <= {"interactive", "silent", "silentWithProgress"}),
        InstallerSwitches=(False, lambda v: fits({k: (False, SWITCH) for k in [
            "Silent", "SilentWithProgress", "Interactive", "InstallLocation", "Log", "Upgrade", "Custom"]}, v) == []),
        ExpectedReturnCodes=(False, items(RETURN_CODE, 128)),
        UpgradeBehavior=(False, one_of("install", "uninstallPrevious", "deny")),
        ProductCode=(False, text(1, 255)),
        AppsAndFeaturesEntries=(False, items({
            "DisplayName": (False, text(1, 256)), "Publisher": (False, text(1, 256)),
            "DisplayVersion": (False, text(1, 128)), "ProductCode": (False, text(1, 255)),
            "UpgradeCode": (False, text(1, 255)), "InstallerType": (False, one_of("exe", "msi"))}, 128)),
        Installers=(True, items({
            "Architecture": (True, one_of("x86", "x64", "arm", "arm64", "neutral")),
            "InstallerUrl": (True, text(1, 2048, URL)),
            "InstallerSha256": (True, text(64, 64, r"^[A-Fa-f0-9]{64}$"))}, 1024)),
        ManifestType=(True, one_of("installer"))),
}


class ExitStatusTable(unittest.TestCase):
    def test_the_readme_shows_the_programs_own_table(self):
        self.assertEqual(readme_exit_statuses(), [(s, m) for s, _, m in exit_statuses.read()])


def verifies(path, cert):
    return subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", path], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT).returncode == 0


class SignedRelease(unittest.TestCase):
    """One release of the sample payload, signed with a certificate made here."""

    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        work = cls.scratch.name
        cls.cert, cls.key = os.path.join(work, "cert.pem"), os.path.join(work, "key.pem")
        key = cls.key
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out",
                        cls.cert, "-days", "2", "-subj", "/CN=Glimmerly Test Signing", "-addext",
                        "extendedKeyUsage=codeSigning"], check=True, capture_output=True)
        cls.out = os.path.join(work, "release")
        subprocess.run([os.path.join(SOURCE, "tools", "release.sh"), "--sign-cert", cls.cert, "--sign-key", key,
                        "--out", cls.out], check=True, capture_output=True)
        cls.setup = os.path.join(cls.out, "glimmerly-setup.exe")
        with open(cls.setup, "rb") as f:
            cls.data = f.read()
        cls.payload = zipfile.ZipFile(io.BytesIO(PeFile(cls.setup).resources()[("ZIP", 1974)][1]))
        cls.manifests = {}
        for name in os.listdir(os.path.join(cls.out, "manifest")):
            with open(os.path.join(cls.out, "manifest", name), encoding="utf-8") as f:
                document = yaml.safe_load(f)
            cls.manifests[document["ManifestType"]] = (name, document)

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def test_installer_and_the_payloads_programs_are_signed(self):
        output = subprocess.run(["osslsigncode", "verify", "-CAfile", self.cert, "-in", self.setup],
                                capture_output=True, text=True).stdout
        self.assertIn("Text description: Glimmerly 4.62 Setup", output)
        self.assertIn("URL description: https://www.glimmerly.example/deutsch/faq.html", output)
        self.assertIn("Message digest algorithm  : SHA256", output)
        self.assertIn("Signature verification: ok", output)
        programs = [n for n in self.payload.namelist() if n.endswith((".exe", ".dll"))]
        # The viewer, the uninstaller, the language library, the icons library and ten plug-ins.
        self.assertEqual(len(programs), 14)
        for name in programs:
            path = os.path.join(self.scratch.name, os.path.basename(name))
            with open(path, "wb") as f:
                f.write(self.payload.read(name))
            self.assertTrue(verifies(path, self.cert), name)
        # The icons library keeps the released size that the keep-icons rule knows.
        self.assertEqual(self.payload.getinfo("Plugins/Icons.dll").file_size, 226816)

    def test_a_pkcs12_identity_takes_its_password_from_the_environment(self):
        identity = os.path.join(self.scratch.name, "identity.p12")
        subprocess.run(["openssl", "pkcs12", "-export", "-inkey", self.key, "-in", self.cert, "-out", identity,
                        "-passout", "pass:Gl\u00e4nzend 4.62"], check=True, capture_output=True)
        # The viewer as the release's build made it, before it was signed.
        program = os.path.join(SOURCE, "build", "release", "payload", "stage", "gl_main32.exe")
        for password, signs in [("Gl\u00e4nzend 4.62", True), ("falsch", False)]:
            signed = os.path.join(self.scratch.name, "signed.exe")
            run = subprocess.run([os.path.join(SOURCE, "tools", "sign.sh"), program, signed], capture_output=True,
                                 env=dict(os.environ, GLIMMERLY_SIGN_PKCS12=identity, GLIMMERLY_SIGN_PASSWORD=password))
            self.assertEqual(run.returncode == 0 and verifies(signed, self.cert), signs, password)

    def test_a_flipped_byte_fails_the_signature_or_the_checksum(self):
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        table, size = struct.unpack_from("<II", self.data, pe + 24 + 96 + 8 * 4)
        self.assertEqual(table + size, len(self.data), "the signature ends the file")
        flipped = os.path.join(self.scratch.name, "flipped.exe")
        with open(os.path.join(self.out, "SHA256SUMS"), "rb") as f:
            sums = f.read().replace(b"glimmerly-setup.exe", flipped.encode())
        # Authenticode leaves out the header's checksum and the signature's alignment; the SHA-256 sum
        # covers them too.
        for where, offset in [("MZ header", 2), ("section table", pe + 248), ("payload", len(self.data) // 2),
                              ("last byte signed", table - 1), ("signature", table + size // 2),
                              ("checksum", pe + 24 + 64), ("end of the signature", len(self.data) - 1)]:
            with self.subTest(where):
                data = bytearray(self.data)
                data[offset] ^= 0x01
                with open(flipped, "wb") as f:
                    f.write(data)
                checked = subprocess.run(["sha256sum", "-c", "--status", "-"], input=sums, capture_output=True)
                self.assertNotEqual(checked.returncode, 0)
                if where not in ("checksum", "end of the signature"):
                    self.assertFalse(verifies(flipped, self.cert))

    def test_checksums_and_manifest_describe_the_signed_installer(self):
        digest = hashlib.sha256(self.data).hexdigest()
        with open(os.path.join(self.out, "SHA256SUMS")) as f:
            self.assertEqual(f.read(), digest + "  glimmerly-setup.exe\n")
        self.assertEqual(sorted(name for name, _ in self.manifests.values()), [
            "GlimmerlyWorks.Glimmerly.installer.yaml", "GlimmerlyWorks.Glimmerly.locale.de-DE.yaml",
            "GlimmerlyWorks.Glimmerly.yaml"])
        for kind, (name, document) in self.manifests.items():
            self.assertEqual(fits(SCHEMA[kind], document), [], name)
            self.assertEqual((document["PackageIdentifier"], document["PackageVersion"], document["ManifestVersion"]),
                             ("GlimmerlyWorks.Glimmerly", "4.62", "1.6.0"))
        self.assertEqual(self.manifests["version"][1]["DefaultLocale"], "de-DE")
        locale = self.manifests["defaultLocale"][1]
        self.assertEqual((locale["PackageLocale"], locale["Publisher"], locale["PackageName"]),
                         ("de-DE", "Glimmerly Works", "Glimmerly 4.62 (32-bit)"))
        installer = self.manifests["installer"][1]
        self.assertEqual(installer["Installers"][0]["InstallerSha256"], digest.upper())
        self.assertEqual(installer["Installers"][0]["Architecture"], "x86")
        self.assertEqual((installer["InstallerType"], installer["Scope"], installer["InstallerLocale"]),
                         ("exe", "machine", "de-DE"))
        self.assertEqual(installer["InstallerSwitches"]["Silent"], "/silent")
        self.assertEqual(installer["InstallerSwitches"]["InstallLocation"], "/folder=<INSTALLPATH>")
        self.assertEqual(installer["ProductCode"], "Glimmerly")
        self.assertEqual(installer["AppsAndFeaturesEntries"], [{
            "DisplayName": "Glimmerly 4.62 (32-bit)", "Publisher": "Glimmerly Works", "DisplayVersion": "4.62",
            "ProductCode": "Glimmerly"}])
        # Every status of the README's table but success (which the schema does not let a manifest name),
        # each with the response that fits it.
        codes = {c["InstallerReturnCode"]: c["ReturnResponse"] for c in installer["ExpectedReturnCodes"]}
        self.assertEqual(sorted(codes), sorted(s for s, _ in readme_exit_statuses() if s != 0))
        self.assertEqual({s: codes[s] for s in (3010, 1602, 1618, 170, 123)}, {
            3010: "rebootRequiredToFinish", 1602: "cancelledByUser", 1618: "installInProgress", 170: "packageInUse",
            123: "invalidParameter"})

    @unittest.skipIf(os.environ.get("GLIMMERLY_WINE_ARCH") == "win64", "this machine runs no 32-bit program")
    def test_the_signed_installer_installs_the_payload(self):
        from winetest import Prefix
        with Prefix("win7") as p:
            self.assertEqual(p.run("/silent /folder=C:\\Apps\\Glimmerly", cwd="C:\\", exe=self.setup).status, 0)
            for name in ["gl_main32.exe", "Plugins/Icons.dll", "gl_about.txt"]:
                self.assertEqual(p.read_bytes("C:\\Apps\\Glimmerly\\" + name.replace("/", "\\")),
                                 self.payload.read(name), name)


if __name__ == "__main__":
    unittest.main()
