"""Points a linked program's load-configuration entry at its _load_config_used structure.

The linker of the toolchain leaves that entry of the PE header empty; the structure's address comes from
the link map. Usage: set_load_config.py PROGRAM MAP
"""
import re
import struct
import sys


def main(program, link_map):
    with open(link_map, encoding="utf-8", errors="replace") as handle:
        found = re.findall(r"^\s+0x([0-9a-fA-F]+)\s+_?_load_config_used\s*$", handle.read(), re.M)
    if len(found) != 1:
        sys.exit("%s: _load_config_used not found once in %s" % (program, link_map))
    with open(program, "rb") as handle:
        data = bytearray(handle.read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    opt = pe + 24
    pe32 = struct.unpack_from("<H", data, opt)[0] == 0x10B
    image_base = struct.unpack_from("<I", data, opt + 28)[0] if pe32 else struct.unpack_from("<Q", data, opt + 24)[0]
    rva = int(found[0], 16) - image_base
    for i in range(sections):
        vsize, vaddr, rsize, raddr = struct.unpack_from("<IIII", data, opt + optional_size + 40 * i + 8)
        if vaddr <= rva < vaddr + max(vsize, rsize):
            size = struct.unpack_from("<I", data, rva - vaddr + raddr)[0]
            break
    else:
        sys.exit("%s: _load_config_used lies outside every section" % program)
    struct.pack_into("<II", data, opt + (96 if pe32 else 112) + 8 * 10, rva, size)
    with open(program, "wb") as handle:
        handle.write(data)


if __name__ == "__main__":
    main(*sys.argv[1:])
