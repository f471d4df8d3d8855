"""Writes the changes text as the setup program carries it: UTF-16LE with a byte-order mark, CR LF.

A text that already starts with FF FE is taken as it is; otherwise it is read as UTF-8 when it decodes
as such (with or without its byte-order mark), else as Windows code page 1252.
"""
import sys


def convert(data):
    if data.startswith(b"\xff\xfe"):
        return data
    try:
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError:
        text = data.decode("cp1252")
    text = text.replace("\r\n", "\n").replace("\r", "\n").replace("\n", "\r\n")
    return b"\xff\xfe" + text.encode("utf-16-le")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: changes_to_utf16.py SOURCE TARGET")
    with open(sys.argv[1], "rb") as source:
        converted = convert(source.read())
    with open(sys.argv[2], "wb") as target:
        target.write(converted)
