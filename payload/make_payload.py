#!/usr/bin/env python3
"""Builds the sample payload archive of the viewer, byte for byte the same on every run.

usage: make_payload.py [--sign=PROGRAM] OUTPUT.zip MEMBER=FILE...
       make_payload.py --member-list OUTPUT.inc

Each MEMBER=FILE names a built binary (or another prepared file) and the member it becomes;
texts, help files and toolbar skins are made here. The member list is the archive's member names as
C++ wide-string literals with Windows separators, one a line, for the uninstaller to build in.
With --sign, every program and library is packed as PROGRAM IN OUT signed it (tools/sign.sh).
"""
import io
import os
import subprocess
import tempfile
import struct
import sys
import uuid
import zipfile
import zlib

# Archive order: every folder entry before its files, and the files of a folder spread out.
# Dates are fixed per member, with even seconds as the DOS format needs.
MEMBERS = [
    ("Plugins/", (2024, 11, 18, 9, 0, 0)),
    ("Plugins/Icons.dll", (2023, 6, 14, 16, 30, 2)),
    ("gl_main32.exe", (2024, 11, 18, 9, 41, 12)),
    ("Toolbars/", (2024, 11, 18, 9, 0, 2)),
    ("Toolbars/Moorland_24.png", (2021, 3, 9, 11, 5, 40)),
    ("Languages/", (2024, 11, 18, 9, 0, 4)),
    ("Languages/Deutsch.dll", (2024, 10, 30, 18, 12, 6)),
    ("Plugins/Formats.dll", (2024, 9, 2, 8, 15, 20)),
    ("gl_uninstall.exe", (2022, 1, 25, 14, 2, 58)),
    ("Toolbars/Moorland_24.txt", (2021, 3, 9, 11, 6, 4)),
    ("Help/", (2024, 11, 18, 9, 0, 6)),
    ("Help/gl_main32_deutsch.chm", (2024, 8, 21, 20, 44, 0)),
    ("Plugins/Effects.dll", (2024, 5, 17, 10, 10, 10)),
    ("gl_about.txt", (2024, 11, 1, 12, 0, 0)),
    ("Html/", (2024, 11, 18, 9, 0, 8)),
    ("Html/album_simple.html", (2020, 2, 29, 7, 7, 8)),
    ("Toolbars/Quill_16.png", (2020, 12, 24, 17, 45, 30)),
    ("Plugins/Metadata.dll", (2023, 12, 5, 13, 33, 36)),
    ("gl_changes.txt", (2024, 11, 17, 22, 58, 2)),
    ("Languages/Plugins_Deutsch.lng", (2024, 10, 30, 18, 20, 14)),
    ("Toolbars/Quill_16.txt", (2020, 12, 24, 17, 46, 0)),
    ("Plugins/Capture.dll", (2022, 7, 4, 6, 50, 22)),
    ("Html/album_grid.html", (2021, 8, 16, 15, 25, 44)),
    ("gl_languages.txt", (2024, 10, 30, 18, 30, 0)),
    ("Plugins/Printing.dll", (2023, 3, 28, 19, 1, 2)),
    ("Toolbars/gnome-colors-wise_32.png", (2022, 10, 11, 10, 20, 30)),
    ("gl_options.txt", (2024, 6, 12, 9, 9, 48)),
    ("Plugins/Slideshow.dll", (2024, 2, 14, 21, 14, 16)),
    ("Html/album_slides.html", (2022, 4, 1, 4, 1, 0)),
    ("Toolbars/gnome-colors-wise_32.txt", (2022, 10, 11, 10, 21, 6)),
    ("gl_plugins.txt", (2024, 9, 3, 11, 11, 50)),
    ("Plugins/Compare.dll", (2021, 11, 11, 11, 11, 10)),
    ("Toolbars/gnome-colors-human_48.png", (2023, 1, 31, 23, 59, 58)),
    ("gl_main32_english.chm", (2024, 8, 21, 20, 40, 32)),
    ("Plugins/Scanner.dll", (2020, 6, 6, 6, 6, 6)),
    ("Html/readme_html.txt", (2021, 8, 16, 15, 30, 20)),
    ("Toolbars/gnome-colors-human_48.txt", (2023, 2, 1, 0, 0, 26)),
    ("Plugins/Filters.dll", (2025, 1, 20, 8, 45, 54)),
    ("readme.txt", (2025, 2, 3, 16, 16, 16)),
    ("Plugins/Converter.exe", (2025, 3, 7, 12, 34, 56)),
]

# The released icons library has this size; a reinstall over the sample then replaces it.
ICONS_LIBRARY_SIZE = 226816

DIRECTORY_ATTRIBUTES = 0x10  # FILE_ATTRIBUTE_DIRECTORY
FILE_ATTRIBUTES = 0x20  # FILE_ATTRIBUTE_ARCHIVE


def text(body):
    return body.replace("\n", "\r\n").encode("cp1252")


TEXTS = {
    "gl_about.txt": """Glimmerly 4.62 (32-Bit, deutsche Ausgabe)

Ein kleiner, schneller Bildbetrachter für Windows.

Copyright © 2003-2025 Glimmerly Works
Diese Beispielversion dient nur zum Testen des Installationsprogramms.
""",
    "gl_languages.txt": """Glimmerly 4.62 - Verfügbare Sprachen

Deutsch   Languages\\Deutsch.dll (Programm)
          Languages\\Plugins_Deutsch.lng (PlugIns)
English   eingebaut

Die Sprache wird unter Optionen -> Sprache gewählt.
""",
    "gl_options.txt": """Glimmerly 4.62 - Kommandozeilen-Optionen

gl_main32.exe [Datei | Ordner] [Optionen]

  Datei            öffnet das Bild
  Ordner           öffnet den Ordner
  /thumbs          zeigt den Ordner in der Miniaturansicht
  /autoclose=N     beendet Glimmerly nach N Sekunden

Beispiel:
  gl_main32.exe "C:\\Bilder\\Urlaub" /thumbs
""",
    "gl_plugins.txt": """Glimmerly 4.62 - Verfügbare PlugIns (Ordner Plugins)

Icons.dll       Symbole für Dateitypen
Formats.dll     zusätzliche Bildformate
Effects.dll     Bildeffekte
Metadata.dll    Bildinformationen lesen und schreiben
Capture.dll     Bildschirmfotos
Printing.dll    erweiterter Druck
Slideshow.dll   Diashow mit Überblendung
Compare.dll     Bilder vergleichen
Scanner.dll     Scannen
Filters.dll     Filter
Converter.exe   Stapelkonvertierung
""",
    "readme.txt": """Glimmerly 4.62 - Read me

Glimmerly is a small image viewer for Windows.

Start gl_main32.exe and open an image or a folder.
The German help file is Help\\gl_main32_deutsch.chm,
the English one gl_main32_english.chm.
To remove Glimmerly, run gl_uninstall.exe.
""",
    "Languages/Plugins_Deutsch.lng": """; Deutsche Texte der PlugIns
[Formats]
Title=Zusätzliche Formate
[Effects]
Title=Effekte
Emboss=Relief
Sepia=Sepia-Tönung
[Slideshow]
Title=Diashow
Fade=Überblendzeit (Zehntelsekunden)
[Compare]
Title=Bilder vergleichen
""",
    "Html/readme_html.txt": """HTML templates for the album export

album_simple.html   one page, images one below the other
album_grid.html     one page, thumbnails in a grid
album_slides.html   one page per image with forward and back links

Placeholders: %TITLE%, %IMAGES%, %IMAGE%, %PREV%, %NEXT%, %DATE%.
""",
    "Toolbars/Quill_16.txt": """Toolbar skin "Quill"
Size: 16 x 16 pixels per button, 10 buttons.
For screens with little height.
""",
    "Toolbars/Moorland_24.txt": """Toolbar skin "Moorland"
Size: 24 x 24 pixels per button, 10 buttons.
Default skin at 100 % scaling.
""",
    "Toolbars/gnome-colors-wise_32.txt": """Toolbar skin "gnome-colors-wise"
Size: 32 x 32 pixels per button, 10 buttons.
For 150 % scaling.
""",
    "Toolbars/gnome-colors-human_48.txt": """Toolbar skin "gnome-colors-human"
Size: 48 x 48 pixels per button, 10 buttons.
For 175 % scaling and more.
""",
}

HTML_TEMPLATE = """<!DOCTYPE html>
<html>
<head>
<meta charset="windows-1252">
<title>%TITLE%</title>
<style>body {{ font-family: sans-serif; background: #f4f1ea; }} {style}</style>
</head>
<body>
<h1>%TITLE%</h1>
{body}
<p class="footer">%DATE% - Glimmerly</p>
</body>
</html>
"""

HTMLS = {
    "Html/album_simple.html": ("img { display: block; margin: 1em auto; }", "%IMAGES%"),
    "Html/album_grid.html": (
        ".grid { display: flex; flex-wrap: wrap; gap: 8px; }",
        '<div class="grid">%IMAGES%</div>',
    ),
    "Html/album_slides.html": (
        ".nav { text-align: center; }",
        '<div class="nav"><a href="%PREV%">&lt; zurück</a> | <a href="%NEXT%">weiter &gt;</a></div>\n'
        '<img src="%IMAGE%" alt="">',
    ),
}


# Toolbar skins -----------------------------------------------------------------------------

HUES = [
    (220, 60, 60), (230, 140, 30), (220, 200, 40), (80, 170, 60), (30, 160, 150),
    (40, 110, 210), (110, 70, 200), (190, 60, 170), (120, 90, 60), (90, 100, 110),
]
SKINS = {
    "Toolbars/Quill_16.png": (16, (150, 110, 60)),
    "Toolbars/Moorland_24.png": (24, (90, 120, 70)),
    "Toolbars/gnome-colors-wise_32.png": (32, (60, 90, 150)),
    "Toolbars/gnome-colors-human_48.png": (48, (200, 120, 50)),
}


def glyph(kind, u, v):
    du, dv = u - 500, v - 500
    if kind == 0:
        return du * du + dv * dv < 230**2
    if kind == 1:
        return (abs(du) < 70 and abs(dv) < 260) or (abs(dv) < 70 and abs(du) < 260)
    if kind == 2:
        return 330 <= u <= 700 and abs(dv) * 10 < (700 - u) * 7
    if kind == 3:
        return abs(du) < 280 and abs(dv) < 80
    return abs(du) + abs(dv) < 260


def button_pixel(index, base, u, v):
    """RGBA of one point of button `index`, in thousandths of the button's side."""
    edge = min(u - 60, 940 - u, v - 60, 940 - v)
    if edge < 0:
        return (0, 0, 0, 0)
    corner_u, corner_v = min(max(u, 260), 740), min(max(v, 260), 740)
    if (u - corner_u) ** 2 + (v - corner_v) ** 2 > 200**2:
        return (0, 0, 0, 0)
    fill = tuple((b + h) // 2 for b, h in zip(base, HUES[index]))
    if glyph(index % 5, u, v):
        return (255, 255, 255, 255)
    if edge < 70 or (u - corner_u) ** 2 + (v - corner_v) ** 2 > 130**2:
        return tuple(c * 6 // 10 for c in fill) + (255,)
    return fill + (255,)


def toolbar_rows(size, base, buttons=10):
    rows = []
    for y in range(size):
        v = (2 * y + 1) * 500 // size
        row = b""
        for x in range(size * buttons):
            u = (2 * (x % size) + 1) * 500 // size
            row += bytes(button_pixel(x // size, base, u, v))
        rows.append(row)
    return rows


def png_bytes(width, height, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    raw = b"".join(b"\0" + row for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


# Compiled help ----------------------------------------------------------------------------

CHUNK_SIZE = 0x1000


def encint(value):
    groups = [value & 0x7F]
    value >>= 7
    while value:
        groups.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(groups))


def chm_bytes(lcid, title, page):
    """A compiled-help file: ITSF header, one listing chunk, all files in the uncompressed section."""
    def system_entry(code, data):
        return struct.pack("<HH", code, len(data)) + data

    system = (struct.pack("<I", 3)
              + system_entry(2, b"index.htm\0")
              + system_entry(3, title.encode("cp1252") + b"\0")
              + system_entry(4, struct.pack("<IIIIIQII", lcid, 0, 0, 0, 0, 0, 0, 0))
              + system_entry(9, b"Glimmerly help builder 1.0\0"))
    names = b"".join(struct.pack("<H", len(n)) + n.encode("utf-16-le") + b"\0\0" for n in ["Uncompressed"])
    names = struct.pack("<H", 1) + names
    name_list = struct.pack("<H", (len(names) + 2) // 2) + names

    files = [("/", b""), ("/#SYSTEM", system), ("/index.htm", page.encode("cp1252")),
             ("::DataSpace/NameList", name_list)]
    entries, content = b"", b""
    for name, data in files:
        entries += encint(len(name)) + name.encode("ascii") + encint(0) + encint(len(content)) + encint(len(data))
        content += data
    free = CHUNK_SIZE - 0x14 - len(entries)
    chunk = struct.pack("<4sIIii", b"PMGL", free, 0, -1, -1) + entries
    chunk += bytes(CHUNK_SIZE - 2 - len(chunk)) + struct.pack("<H", len(files))

    directory_guid = uuid.UUID("5D02926A-212E-11D0-9DF9-00A0C922E6EC").bytes_le
    itsp = struct.pack("<4sIIIIIiiiiiII16sIiii", b"ITSP", 1, 0x54, 0x0A, CHUNK_SIZE, 2, 1, -1, 0, 0, -1, 1,
                       lcid, directory_guid, 0x54, -1, -1, -1)
    directory = itsp + chunk

    section0_offset = 0x60
    directory_offset = section0_offset + 0x18
    content_offset = directory_offset + len(directory)
    total = content_offset + len(content)
    section0 = struct.pack("<IIQII", 0x1FE, 0, total, 0, 0)
    itsf = struct.pack("<4sIIIII16s16sQQQQQ", b"ITSF", 3, 0x60, 1, 0x5A3C1E00, lcid,
                       uuid.UUID("7C01FD10-7BAA-11D0-9E0C-00A0C922E6EC").bytes_le,
                       uuid.UUID("7C01FD11-7BAA-11D0-9E0C-00A0C922E6EC").bytes_le,
                       section0_offset, 0x18, directory_offset, len(directory), content_offset)
    return itsf + section0 + directory + content


HELP_PAGE = """<html><head><title>{title}</title></head>
<body><h1>{title}</h1><p>{text}</p></body></html>
"""

HELPS = {
    "Help/gl_main32_deutsch.chm": (0x0407, "Glimmerly Hilfe",
                                   "Öffnen Sie ein Bild mit Datei - Öffnen oder ziehen Sie es in das Fenster."),
    "gl_main32_english.chm": (0x0409, "Glimmerly Help",
                              "Open an image with File - Open or drop it onto the window."),
}


# Archive ----------------------------------------------------------------------------------

def generated_members():
    members = {name: text(body) for name, body in TEXTS.items()}
    for name, (style, body) in HTMLS.items():
        members[name] = HTML_TEMPLATE.format(style=style, body=body).replace("\n", "\r\n").encode("cp1252")
    for name, (size, base) in SKINS.items():
        members[name] = png_bytes(size * 10, size, toolbar_rows(size, base))
    for name, (lcid, title, body) in HELPS.items():
        members[name] = chm_bytes(lcid, title, HELP_PAGE.format(title=title, text=body))
    return members


def check_order():
    names = [name for name, _ in MEMBERS]
    assert len(names) == 40 and len(set(names)) == 40
    assert len({date for _, date in MEMBERS}) == 40, "every member has its own date"
    for position, name in enumerate(names):
        if name.endswith("/"):
            continue
        folder = name.rpartition("/")[0]
        assert not folder or folder + "/" in names[:position], name + " comes before its folder entry"
        before = names[position - 1] if position else "/"
        assert before.endswith("/") or before.rpartition("/")[0] != folder, name + " follows a neighbour"


def archive_bytes(contents):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        for name, date in MEMBERS:
            info = zipfile.ZipInfo(name, date)
            info.create_system = 0
            if name.endswith("/"):
                info.external_attr = DIRECTORY_ATTRIBUTES
                info.compress_type = zipfile.ZIP_STORED
                archive.writestr(info, b"")
            else:
                info.external_attr = FILE_ATTRIBUTES
                info.compress_type = zipfile.ZIP_DEFLATED
                archive.writestr(info, contents[name], compresslevel=9)
    return buffer.getvalue()


def member_list():
    names = [name.replace("/", "\\") for name, _ in MEMBERS]
    assert all(name.isascii() and '"' not in name for name in names)
    return "".join('L"%s",\n' % name.replace("\\", "\\\\") for name in names)


def signed(program, name, data, size=None):
    """data as program signs it; with size, padded first so that the signed file has that size."""
    with tempfile.TemporaryDirectory() as work:
        unsigned, out = os.path.join(work, "in"), os.path.join(work, "out")

        def sign(padding):
            with open(unsigned, "wb") as f:
                f.write(data + bytes(padding))
            subprocess.run([program, unsigned, out], check=True)
            with open(out, "rb") as f:
                return f.read()

        result = sign(0)
        if size is not None:
            # The signature's length does not depend on what it signs.
            result = sign(size - len(result)) if len(result) <= size else result
            if len(result) != size:
                sys.exit("%s: the signed file is %d bytes, not %d" % (name, len(result), size))
        return result


def main(argv):
    sign = None
    if argv and argv[0].startswith("--sign="):
        sign, argv = argv[0][len("--sign="):], argv[1:]
    if len(argv) < 2:
        sys.exit(__doc__)
    check_order()
    if argv[0] == "--member-list":
        with open(argv[1], "w", newline="\n") as f:
            f.write(member_list())
        return
    contents = generated_members()
    for pair in argv[1:]:
        name, sep, path = pair.partition("=")
        if not sep or name not in dict(MEMBERS) or name.endswith("/"):
            sys.exit("not a file member: " + pair)
        with open(path, "rb") as f:
            contents[name] = f.read()
    missing = [name for name, _ in MEMBERS if not name.endswith("/") and name not in contents]
    if missing:
        sys.exit("no file given for: " + ", ".join(missing))

    icons = contents["Plugins/Icons.dll"]
    if len(icons) > ICONS_LIBRARY_SIZE:
        sys.exit("Icons.dll is larger than %d bytes" % ICONS_LIBRARY_SIZE)
    if sign:
        for name in [n for n in contents if n.endswith((".exe", ".dll"))]:
            size = ICONS_LIBRARY_SIZE if name == "Plugins/Icons.dll" else None
            contents[name] = signed(sign, name, contents[name], size)
    else:
        contents["Plugins/Icons.dll"] = icons + bytes(ICONS_LIBRARY_SIZE - len(icons))

    data = archive_bytes(contents)
    with open(argv[0], "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1:])
