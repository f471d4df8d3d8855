"""Checks a payload archive before it is embedded, and writes the record the setup program checks it by.

usage: check_payload.py ARCHIVE RECORD

Every member must be stored or deflated without encryption, read back with its recorded CRC-32 and size,
and have a name that stays below the target folder and fits the setup program's buffers; otherwise no
record is written and the build stops. The record is 8 bytes: the archive's size and the CRC-32 of all
its bytes, both little-endian. The setup program compares it before it writes anything, so an archive
damaged after the build (a broken download of the program) never touches an installation.
"""
import io
import re
import struct
import sys
import zipfile
import zlib

NAME_BYTES = 520  # with its terminator
WIDE_NAME_CHARS = 324  # with its terminator; a name is converted from the ANSI code page (cp1252)


def name_problem(raw):
    """Why a member name cannot be extracted safely, or None."""
    if len(raw) >= NAME_BYTES:
        return "longer than %d bytes" % (NAME_BYTES - 1)
    name = raw.decode("cp1252", "replace")
    if len(name) >= WIDE_NAME_CHARS:
        return "longer than %d characters" % (WIDE_NAME_CHARS - 1)
    if not name or name[0] in "/\\" or ":" in name:
        return "absolute, empty or with a colon"
    # Windows drops trailing dots and blanks, so a component such as ". ." climbs up like "..".
    if any(part.count(".") >= 2 and not part.strip(". ") for part in re.split(r"[/\\]", name)):
        return "climbs out of the target folder"
    return None


def check(data):
    """The problems of an archive's bytes, one text each; empty when it may be embedded."""
    problems = []
    try:
        with zipfile.ZipFile(io.BytesIO(data)) as archive:
            for info in archive.infolist():
                raw = info.orig_filename.encode("cp437" if not info.flag_bits & 0x800 else "utf-8")
                label = repr(info.orig_filename)
                reason = name_problem(raw)
                if reason:
                    problems.append("%s: name %s" % (label, reason))
                if info.flag_bits & 1 or info.compress_type not in (zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED):
                    problems.append("%s: encrypted or compressed with method %d" % (label, info.compress_type))
                    continue
                with archive.open(info) as member:
                    size = 0
                    while True:
                        chunk = member.read(1 << 20)
                        if not chunk:
                            break
                        size += len(chunk)
                if size != info.file_size:
                    problems.append("%s: %d bytes read, %d recorded" % (label, size, info.file_size))
    except (zipfile.BadZipFile, zlib.error, EOFError, OSError, ValueError) as error:
        problems.append("not a sound archive: %s" % error)
    return problems


def record(data):
    return struct.pack("<II", len(data), zlib.crc32(data))


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__)
    with open(argv[0], "rb") as handle:
        data = handle.read()
    problems = check(data)
    if problems:
        sys.exit("check_payload: %s cannot be embedded:\n  %s" % (argv[0], "\n  ".join(problems)))
    with open(argv[1], "wb") as handle:
        handle.write(record(data))


if __name__ == "__main__":
    main(sys.argv[1:])
