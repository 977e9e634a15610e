#!/usr/bin/env python3
"""Fills in the delay-import directory entry of a linked program.

  pedelaydir.py PROGRAM.exe DLLNAME [DLLNAME...]

GNU ld (up to binutils 2.41) links the descriptors of a dlltool delay-import library but
leaves the data directory entry for delay imports empty, so tools cannot see which DLLs are
delay-loaded. This finds the descriptor of each named DLL (RVA-based attributes, its name
field pointing at the DLL's name) and points the entry at it. The descriptors of several DLLs
must lie next to each other. An entry that is set already is left alone.
"""
import struct
import sys

from pecheck import PE

DESCRIPTOR = struct.Struct("<8I")


def offset_to_rva(pe, offset):
    for _, vsize, va, rawsize, rawptr in pe.sections:
        if rawptr <= offset < rawptr + min(vsize, rawsize):
            return va + offset - rawptr
    return None


def find_descriptor(pe, dll):
    data = pe.data
    start = 0
    while True:
        name_off = data.find(dll.encode("ascii") + b"\0", start)
        if name_off < 0:
            return None
        start = name_off + 1
        if name_off > 0 and data[name_off - 1] != 0:
            continue
        name_rva = offset_to_rva(pe, name_off)
        if name_rva is None:
            continue
        pattern = struct.pack("<II", 1, name_rva)
        pos = 0
        while True:
            pos = data.find(pattern, pos)
            if pos < 0:
                break
            attrs, name, hmod, iat, intable, bound, unload, stamp = DESCRIPTOR.unpack_from(data, pos)
            rva = offset_to_rva(pe, pos)
            try:
                ok = rva is not None and pos % 4 == 0 and all(pe.rva_to_offset(r) is not None
                                                                for r in (hmod, iat, intable))
            except ValueError:
                ok = False
            if ok:
                return rva
            pos += 1


def pe_checksum(data, checksum_offset):
    """The image checksum: 16-bit one's-complement-style sum without the checksum field, plus
    the file length."""
    total = 0
    padded = bytes(data) + (b"\0" if len(data) % 2 else b"")
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
    for (word,) in struct.iter_unpack("<H", bytes(data[checksum_offset:checksum_offset + 4])):
        total -= word
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def main(argv):
    if len(argv) < 3:
        print(__doc__)
        return 2
    path, dlls = argv[1], argv[2:]
    data = bytearray(open(path, "rb").read())
    pe = PE(bytes(data))
    if pe.dirs[13][0]:
        return 0
    rvas = []
    for dll in dlls:
        rva = find_descriptor(pe, dll)
        if rva is None:
            print("%s: no delay-import descriptor of %s" % (path, dll))
            return 1
        rvas.append(rva)
    rvas.sort()
    if any(b - a != DESCRIPTOR.size for a, b in zip(rvas, rvas[1:])):
        print("%s: the delay-import descriptors do not lie next to each other" % path)
        return 1
    entry = pe.opt + (112 if pe.pe32plus else 96) + 8 * 13
    struct.pack_into("<II", data, entry, rvas[0], DESCRIPTOR.size * len(rvas))
    # The checksum, where the linker set one, is made again for the changed image.
    if struct.unpack_from("<I", data, pe.opt + 64)[0]:
        struct.pack_into("<I", data, pe.opt + 64, pe_checksum(data, pe.opt + 64))
    open(path, "wb").write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
