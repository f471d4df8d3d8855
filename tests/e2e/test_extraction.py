"""The payload extraction end to end: the sample payload installed whole, the icons library of an earlier
installation kept or replaced, and broken payloads refused by the build and, in a program damaged after
the build, before they touch an installation."""
import calendar
import contextlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

from peinfo import PeFile
from test_binary import STRINGS
from winetest import FIXTURES, PRODUCT_DIR, SETUP_EXE, Prefix, stop_server

CHECK_PAYLOAD = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "check_payload.py")

SAMPLE = os.path.join(PRODUCT_DIR, "payload", "sample_payload.zip")
ICONS = os.path.join(FIXTURES, "icons")
WORK = "C:\\work"
LOG = WORK + "\\Glimmerly_Install.log"
FULL_LOG = WORK + "\\full.log"
HYPHENS = b"-" * 48 + b"\r\n"
JOURNALS = "Software\\Glimmerly\\Setup\\Journals"


def sample_members():
    with zipfile.ZipFile(SAMPLE) as archive:
        return [(info, archive.read(info)) for info in archive.infolist()]


def windows_path(folder, name):
    return folder + name.replace("/", "\\")


def failure_message(folder):
    """The log's message for a failed extraction: the working folder first, then string 7."""
    return (folder + ": " + STRINGS[7]).replace("\n", "\r\n").encode("latin-1")


def log_messages(data):
    """The messages of a log's entries, without their date and time."""
    parts = data.split(HYPHENS)
    if parts[-1] != b"":
        raise AssertionError("the log does not end with a line of hyphens: %r" % data)
    return [re.sub(rb"^[^\r\n]*? - \d\d:\d\d:\d\d: ", b"", part, count=1)[:-2] for part in parts[:-1]]


def tree_state(top):
    """{relative host path: (bytes, mtime)} of every file below a host folder, "path/": None for every
    folder, ("link", target) for every link (never followed)."""
    state = {}
    for root, folders, files in os.walk(top):
        for name in folders + files:
            path = os.path.join(root, name)
            relative = os.path.relpath(path, top)
            if os.path.islink(path):
                state[relative] = ("link", os.readlink(path))
            elif os.path.isdir(path):
                state[relative + "/"] = None
            else:
                with open(path, "rb") as handle:
                    state[relative] = (handle.read(), os.stat(path).st_mtime)
    return state


def snapshot(p, folder):
    return tree_state(p.host(folder))


def put_earlier_installation(top):
    """An earlier installation whose every file differs from the payload's, below a host folder."""
    for info, _ in sample_members():
        path = os.path.join(top, *info.filename.split("/"))
        os.makedirs(path if info.is_dir() else os.path.dirname(path), exist_ok=True)
        if not info.is_dir():
            with open(path, "wb") as handle:
                handle.write(b"earlier " + info.filename.encode())


def replace_payload(exe, payload, destination):
    """Writes a copy of the setup program whose resource "ZIP" 1974 holds payload instead.

    The new bytes go where the old ones were, so payload may not be longer than the embedded one."""
    pe = PeFile(exe)
    data = bytearray(pe.data)
    base = pe.offset(pe.directories[2][0])

    def entry(directory, wanted):
        named, ids = struct.unpack_from("<HH", data, directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, directory + 16 + 8 * i)
            if name & 0x80000000:
                at = base + (name & 0x7FFFFFFF)
                length = struct.unpack_from("<H", data, at)[0]
                name = data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            if wanted is None or name == wanted:
                return base + (target & 0x7FFFFFFF)
        raise LookupError(wanted)

    data_entry = entry(entry(entry(base, "ZIP"), 1974), None)
    rva, size = struct.unpack_from("<II", data, data_entry)
    if len(payload) > size:
        raise ValueError("the replacement payload is longer than the embedded one")
    start = pe.offset(rva)
    data[start:start + len(payload)] = payload
    struct.pack_into("<I", data, data_entry + 4, len(payload))
    with open(destination, "wb") as handle:
        handle.write(data)
    return destination


def with_wrong_crc(payload, member):
    """The payload with the CRC-32 of one member changed in its local header and the central directory."""
    data = bytearray(payload)
    with zipfile.ZipFile(SAMPLE) as archive:
        info = archive.getinfo(member)
    wrong = struct.pack("<I", info.CRC ^ 0x5A5A5A5A)
    data[info.header_offset + 14:info.header_offset + 18] = wrong
    central = struct.unpack_from("<I", data, len(data) - 22 + 16)[0]
    while data[central:central + 4] == b"PK\x01\x02":
        name_length, extra_length, comment_length = struct.unpack_from("<HHH", data, central + 28)
        if data[central + 46:central + 46 + name_length] == member.encode("ascii"):
            data[central + 16:central + 20] = wrong
            return bytes(data)
        central += 46 + name_length + extra_length + comment_length
    raise LookupError(member)


def with_flipped_byte(payload, member):
    """The payload with one byte of a member's compressed data changed, as a broken download leaves it."""
    data = bytearray(payload)
    with zipfile.ZipFile(SAMPLE) as archive:
        info = archive.getinfo(member)
    data[info.header_offset + 30 + len(info.orig_filename) + len(info.extra) + info.compress_size // 2] ^= 0x10
    return bytes(data)


def broken_payloads():
    """{kind of damage: the sample payload so damaged}. The damaged member sits in the middle of the
    archive, so a walk without a check up front would have written others before it."""
    with open(SAMPLE, "rb") as handle:
        sample = handle.read()
    climbing = sample.replace(b"gl_about.txt", b"../about.txt")
    assert climbing.count(b"../about.txt") == 2
    return {
        "wrong-crc": with_wrong_crc(sample, "Html/album_grid.html"),
        "flipped-byte": with_flipped_byte(sample, "Html/album_grid.html"),
        "truncated": sample[:len(sample) // 2],
        "climbing": climbing,
    }


def fixture_icons(name):
    with open(os.path.join(ICONS, name), "rb") as handle:
        return handle.read()


class SamplePayload(unittest.TestCase):
    def test_silent_installation_writes_every_member_with_contents_and_dates(self):
        members = sample_members()
        self.assertEqual(len(members), 40)
        with Prefix("win7") as p:
            # An icons library 4.20 of the same maker is replaced like every other file.
            p.put_file("C:\\Glimmerly\\Plugins\\Icons.dll", fixture_icons("icons_420.dll"))
            p.run("/silent /folder=C:\\Glimmerly", cwd=WORK)
            for info, data in members:
                path = windows_path("C:\\Glimmerly\\", info.filename)
                host = p.host(path)
                if info.is_dir():
                    self.assertTrue(os.path.isdir(host), info.filename)
                    continue
                self.assertEqual(p.read_bytes(path), data, info.filename)
                self.assertEqual(len(data), info.file_size, info.filename)
                # The harness runs Wine with TZ=UTC, so the member's local date is the file's UTC date.
                self.assertEqual(os.stat(host).st_mtime, calendar.timegm(info.date_time), info.filename)
            self.assertFalse(p.exists(LOG))

    def test_newer_icons_library_survives(self):
        newer = fixture_icons("icons_431.dll")
        with Prefix("win7") as p:
            p.put_file("C:\\Glimmerly\\Plugins\\Icons.dll", newer)
            kept_time = os.stat(p.host("C:\\Glimmerly\\Plugins\\Icons.dll")).st_mtime
            p.run("/silent /folder=C:\\Glimmerly /log=full.log", cwd=WORK)
            self.assertEqual(p.read_bytes("C:\\Glimmerly\\Plugins\\Icons.dll"), newer)
            steps = [line[24:] for line in p.read_bytes(FULL_LOG).decode("utf-8").split("\r\n")]
            self.assertIn("file kept: Plugins/Icons.dll (the installed icons library is newer or of another maker)",
                          steps)
            self.assertFalse([t for t in steps if t.startswith("file written: Plugins/Icons.dll")])
            self.assertEqual(os.stat(p.host("C:\\Glimmerly\\Plugins\\Icons.dll")).st_mtime, kept_time)
            for name in ["gl_main32.exe", "Plugins\\Formats.dll", "Plugins\\Converter.exe"]:
                self.assertTrue(p.exists("C:\\Glimmerly\\" + name), name)
            self.assertFalse(p.exists(LOG))


class BrokenPayload(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="glimmerly-payloads-")
        cls.payloads = broken_payloads()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def test_the_build_refuses_a_broken_payload(self):
        for kind, payload in self.payloads.items():
            archive = os.path.join(self.scratch, kind + ".zip")
            record = os.path.join(self.scratch, kind + ".zipsum")
            with open(archive, "wb") as handle:
                handle.write(payload)
            checked = subprocess.run([sys.executable, CHECK_PAYLOAD, archive, record], stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE)
            self.assertNotEqual(checked.returncode, 0, kind)
            self.assertFalse(os.path.exists(record), kind)

    def test_a_program_damaged_after_the_build_fails_with_string_7_and_leaves_the_installation_alone(self):
        # The program as a broken download leaves it: the payload changed, the build's record not.
        exes = [replace_payload(SETUP_EXE, payload, os.path.join(self.scratch, kind + ".exe"))
                for kind, payload in self.payloads.items()]
        with Prefix("win7") as p:
            put_earlier_installation(p.host("C:\\Glimmerly"))
            before = snapshot(p, "C:\\Glimmerly")
            for exe in exes:
                p.run("/silent /folder=C:\\Glimmerly", cwd=WORK, exe=exe)
            self.assertEqual(snapshot(p, "C:\\Glimmerly"), before)
            self.assertFalse(p.exists("C:\\about.txt"))
            log = p.read_bytes(LOG)
        self.assertEqual(log_messages(log), [failure_message("C:\\Glimmerly\\")] * len(exes))


@contextlib.contextmanager
def small_disk(test, p, options):
    """Drive T: of the prefix on a tmpfs mounted with options (a size, a count of files)."""
    disk = tempfile.mkdtemp(prefix="glimmerly-disk-")
    if os.geteuid() != 0 or subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", disk],
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode:
        os.rmdir(disk)
        test.skipTest("a small file system cannot be mounted here")
    drive = os.path.join(p.path, "dosdevices", "t:")
    os.symlink(disk, drive)
    try:
        yield disk
    finally:
        stop_server(p.path)
        os.unlink(drive)
        subprocess.run(["umount", disk], check=False)
        os.rmdir(disk)


class FullDisk(unittest.TestCase):
    def test_a_first_installation_that_does_not_fit_leaves_nothing(self):
        with Prefix("win7") as p, small_disk(self, p, "size=64k") as disk:
            # The members do not fit: refused before anything is written, the folders made are removed.
            p.run("/silent /folder=T:\\Glimmerly\\Viewer", cwd=WORK)
            self.assertEqual(log_messages(p.read_bytes(LOG)), [failure_message("T:\\Glimmerly\\Viewer\\")])
            self.assertEqual(os.listdir(disk), [])

            # The archive is read where the program holds it: a full temporary folder costs nothing.
            p.set_value("user", "Environment", "TEMP", "T:\\")
            p.set_value("user", "Environment", "TMP", "T:\\")
            p.run("/silent /folder=C:\\Second", cwd=WORK)
            self.assertEqual(log_messages(p.read_bytes(LOG)), [failure_message("T:\\Glimmerly\\Viewer\\")])
            self.assertTrue(p.exists("C:\\Second\\gl_main32.exe"))


if __name__ == "__main__":
    unittest.main()
