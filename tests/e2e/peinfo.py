"""A small reader of PE files: headers, imported functions and resources (no third-party modules)."""
import struct


class PeFile:
    def __init__(self, path, data=None):
        """path names the file, or only labels data when that is given."""
        if data is None:
            with open(path, "rb") as handle:
                data = handle.read()
        self.data = data
        d = self.data
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file: " + path)
        (self.machine, sections, self.timestamp, symbols_at, self.symbol_count, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", d, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", d, opt)[0]
        pe32 = self.magic == 0x10B
        (self.major_os, self.minor_os, _, _, self.major_subsystem, self.minor_subsystem) = struct.unpack_from("<HHHHHH", d, opt + 40)
        self.subsystem = struct.unpack_from("<H", d, opt + 68)[0]
        directories = opt + (96 if pe32 else 112)
        self.directories = [struct.unpack_from("<II", d, directories + 8 * i) for i in range(16)]
        self.sections = []
        table = opt + optional_size
        for i in range(sections):
            name, vsize, vaddr, rsize, raddr = struct.unpack_from("<8sIIII", d, table + 40 * i)
            name = name.rstrip(b"\0").decode()
            if name.startswith("/") and symbols_at:
                # A long name lives in the string table after the symbols.
                at = symbols_at + 18 * self.symbol_count + int(name[1:])
                name = d[at:d.index(b"\0", at)].decode()
            self.sections.append((name, vaddr, max(vsize, rsize), raddr))
        self.pe32 = pe32

    def offset(self, rva):
        for _, vaddr, size, raddr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + raddr
        raise ValueError("address outside every section: %#x" % rva)

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imports(self):
        """{dll name (lower case): [function names]} of the load-time imports."""
        rva, size = self.directories[1]
        result = {}
        if not rva:
            return result
        entry = self.offset(rva)
        thunk_size, ordinal_flag = (4, 0x80000000) if self.pe32 else (8, 1 << 63)
        while True:
            lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, entry)
            if not name:
                break
            functions = []
            thunk = self.offset(lookup or first)
            while True:
                value = struct.unpack_from("<I" if self.pe32 else "<Q", self.data, thunk)[0]
                if not value:
                    break
                functions.append("#%d" % (value & 0xFFFF) if value & ordinal_flag else self.cstring(value + 2))
                thunk += thunk_size
            result[self.cstring(name).lower()] = functions
            entry += 20
        return result

    def load_configuration(self):
        """(size, DependentLoadFlags) of the load configuration, or None without one; the flags are 0 when
        the structure ends before them."""
        rva, size = self.directories[10]
        if not rva:
            return None
        at = self.offset(rva)
        length = struct.unpack_from("<I", self.data, at)[0]
        flags_at = 0x36 if self.pe32 else 0x4E
        return length, struct.unpack_from("<H", self.data, at + flags_at)[0] if length >= flags_at + 2 else 0

    def resources(self):
        """{(type, id): (language, bytes)}; type and id are int or str."""
        rva, _ = self.directories[2]
        base = self.offset(rva)
        found = {}

        def name_of(entry_name):
            if entry_name & 0x80000000:
                at = base + (entry_name & 0x7FFFFFFF)
                length = struct.unpack_from("<H", self.data, at)[0]
                return self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            return entry_name

        def entries(at):
            named, ids = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + ids):
                yield struct.unpack_from("<II", self.data, at + 16 + 8 * i)

        for type_name, type_off in entries(base):
            for id_name, id_off in entries(base + (type_off & 0x7FFFFFFF)):
                for lang, data_off in entries(base + (id_off & 0x7FFFFFFF)):
                    data_rva, size = struct.unpack_from("<II", self.data, base + data_off)
                    start = self.offset(data_rva)
                    found[(name_of(type_name), name_of(id_name))] = (lang, self.data[start:start + size])
        return found

    def strings(self):
        """The string table: {id: text}."""
        table = {}
        for (kind, block), (_, data) in self.resources().items():
            if kind != 6:
                continue
            at = 0
            for index in range(16):
                length = struct.unpack_from("<H", data, at)[0]
                if length:
                    table[(block - 1) * 16 + index] = data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                at += 2 + 2 * length
        return table


def version_strings(data):
    """The string values of a version resource: {block: {name: value}}, and the fixed file info."""
    def text_at(at):
        end = at
        while data[end:end + 2] != b"\0\0":
            end += 2
        return data[at:end].decode("utf-16-le"), end + 2

    def align(at):
        return (at + 3) & ~3

    def walk(at, limit, depth, path, out):
        while at < limit:
            length, value_length, kind = struct.unpack_from("<HHH", data, at)
            if length == 0:
                break
            key, after = text_at(at + 6)
            value_at = align(after)
            children = value_at + (value_length * 2 if kind == 1 else value_length)
            if kind == 1 and value_length and depth == 3:
                out.setdefault(path[-1], {})[key] = data[value_at:value_at + 2 * value_length].decode("utf-16-le").rstrip("\0")
            walk(align(children), at + length, depth + 1, path + [key], out)
            at = align(at + length)

    out = {}
    length, value_length, _ = struct.unpack_from("<HHH", data, 0)
    key, after = text_at(6)
    fixed_at = align(after)
    fixed = struct.unpack_from("<13I", data, fixed_at)
    walk(align(fixed_at + value_length), length, 1, [], out)
    return out, fixed


def dialog_template(data):
    """An extended dialog template: ({style, size, font}, [(id, class, text, (x, y, w, h), style)])."""
    def sz_or_ord(at):
        first = struct.unpack_from("<H", data, at)[0]
        if first == 0xFFFF:
            return struct.unpack_from("<H", data, at + 2)[0], at + 4
        end = at
        while struct.unpack_from("<H", data, end)[0]:
            end += 2
        return data[at:end].decode("utf-16-le"), end + 2

    version, signature, _, _, style, count, x, y, cx, cy = struct.unpack_from("<HHIIIHhhhh", data, 0)
    assert (version, signature) == (1, 0xFFFF), "not an extended dialog template"
    _, at = sz_or_ord(26)  # menu
    _, at = sz_or_ord(at)  # class
    _, at = sz_or_ord(at)  # title
    points, weight = struct.unpack_from("<HH", data, at)
    face, at = sz_or_ord(at + 6)
    head = {"style": style, "size": (cx, cy), "font": (points, face)}
    controls = []
    classes = {0x80: "Button", 0x81: "Edit", 0x82: "Static"}
    for _ in range(count):
        at = (at + 3) & ~3
        _, _, item_style, ix, iy, icx, icy, ident = struct.unpack_from("<IIIhhhhi", data, at)
        kind, at = sz_or_ord(at + 24)
        text, at = sz_or_ord(at)
        extra = struct.unpack_from("<H", data, at)[0]
        at += 2 + extra
        controls.append((ident, classes.get(kind, kind), text, (ix, iy, icx, icy), item_style))
    return head, controls
