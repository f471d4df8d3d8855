"""Wine's registry hive files (system.reg, user.reg) read and written on the host, while no Wine server
runs for the prefix."""
import re


def _escape_reg(text):
    out = []
    for ch in text:
        if ch in '"\\':
            out.append("\\" + ch)
        elif ord(ch) < 0x20 or ord(ch) > 0x7E:
            out.append("\\x%04x" % ord(ch))
        else:
            out.append(ch)
    return "".join(out)


def _unescape_reg(text):
    out = []
    i = 0
    while i < len(text):
        ch = text[i]
        if ch == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            if nxt == "x":
                m = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:])
                out.append(chr(int(m.group(0), 16)))
                i += 2 + len(m.group(0))
                continue
            out.append({"n": "\n", "r": "\r", "t": "\t", "0": "\0"}.get(nxt, nxt))
            i += 2
            continue
        out.append(ch)
        i += 1
    return "".join(out)


def _quoted(text, start):
    """The escaped string that starts after the quote at text[start]; returns (raw, index after it)."""
    i = start + 1
    while i < len(text):
        if text[i] == "\\":
            i += 2
            continue
        if text[i] == '"':
            return text[start + 1:i], i + 1
        i += 1
    raise ValueError("unterminated string in registry file")


def parse_reg(path):
    """Wine .reg hive -> {lower-case key path: {value name ('' for default): value}}.

    Strings become str, dword values int, other types (type, bytes)."""
    keys = {}
    current = None
    with open(path, encoding="utf-8", errors="surrogateescape") as handle:
        lines = handle.read().split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        while line.endswith("\\") and i + 1 < len(lines):
            i += 1
            line = line[:-1] + lines[i].strip()
        i += 1
        if line.startswith("["):
            raw = line[1:line.rindex("]")]
            current = keys.setdefault(_unescape_reg(raw).lower(), {})
            continue
        if current is None or not line or line.startswith(("#", ";")):
            continue
        if line.startswith("@="):
            name, rest = "", line[2:]
        elif line.startswith('"'):
            raw, end = _quoted(line, 0)
            name, rest = _unescape_reg(raw), line[end + 1:]
        else:
            continue
        if rest.startswith('"'):
            raw, _ = _quoted(rest, 0)
            current[name] = _unescape_reg(raw)
        elif rest.startswith("dword:"):
            current[name] = int(rest[6:], 16)
        elif rest.startswith("str(2):"):
            raw, _ = _quoted(rest, 7)
            current[name] = ("expand", _unescape_reg(raw))
        elif rest.startswith("hex"):
            kind, _, data = rest.partition(":")
            values = bytes(int(b, 16) for b in data.split(",") if b.strip())
            current[name] = (kind, values)
    return keys


def set_reg_value(hive, key, name, value):
    """Writes a value into a hive file while no wineserver runs. value: str or int (dword)."""
    with open(hive, encoding="utf-8", errors="surrogateescape") as handle:
        text = handle.read()
    header = "[" + key.replace("\\", "\\\\") + "]"
    if isinstance(value, int):
        data = "dword:%08x" % value
    elif isinstance(value, tuple):  # ("expand", text): REG_EXPAND_SZ
        data = 'str(2):"%s"' % _escape_reg(value[1])
    else:
        data = '"%s"' % _escape_reg(value)
    entry = ("@" if name == "" else '"%s"' % _escape_reg(name)) + "=" + data
    lower = text.lower()
    start = lower.find("\n" + header.lower() + " ")
    if start < 0:
        start = lower.find("\n" + header.lower() + "\n")
    if start < 0:
        text = text.rstrip("\n") + "\n\n" + header + " 0\n" + entry + "\n"
    else:
        line_end = text.index("\n", start + 1)
        block_end = text.find("\n\n", line_end)
        block_end = len(text) if block_end < 0 else block_end
        block = text[line_end:block_end]
        prefix = entry.split("=", 1)[0] + "="
        lines = [l for l in block.split("\n") if not l.startswith(prefix)]
        lines.insert(1, entry)
        text = text[:line_end] + "\n".join(lines) + text[block_end:]
    with open(hive, "w", encoding="utf-8", errors="surrogateescape") as handle:
        handle.write(text)
