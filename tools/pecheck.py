#!/usr/bin/env python3
"""Checks a built program the way a release engineer would before shipping it.

  pecheck.py PROGRAM.exe --machine i386 [--known-dlls-only] [--no-trailing-data]
             [--manifest-level asInvoker] [--version 6.0.0.94] [--subsystem gui]
             [--delay-loaded DLL]...

Exit code 0 when every requested check holds; otherwise each failure is printed.
"""
import argparse
import re
import struct
import sys

# DLLs that Windows maps from its KnownDLLs list; anything else could be picked up from the
# folder a downloaded program runs in.
KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "difxapi.dll",
    "gdi32.dll", "gdiplus.dll", "imm32.dll", "kernel32.dll", "msctf.dll", "msvcrt.dll",
    "normaliz.dll", "nsi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll",
    "sechost.dll", "setupapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll", "user32.dll",
    "wldap32.dll", "ws2_32.dll",
}
MACHINES = {"i386": 0x14C, "amd64": 0x8664}


class PE:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        self.pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[self.pe:self.pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        coff = self.pe + 4
        (self.machine, self.nsections, _, self.symtab, self.nsymbols, self.optsize,
         _) = struct.unpack_from("<HHIIIHH", data, coff)
        self.opt = coff + 20
        magic = struct.unpack_from("<H", data, self.opt)[0]
        self.pe32plus = magic == 0x20B
        self.subsystem = struct.unpack_from("<H", data, self.opt + 68)[0]
        dirs = self.opt + (112 if self.pe32plus else 96)
        self.dirs = [struct.unpack_from("<II", data, dirs + 8 * i) for i in range(16)]
        sec = self.opt + self.optsize
        self.sections = []
        for i in range(self.nsections):
            name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, sec + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), vsize, va, rawsize, rawptr))

    def rva_to_offset(self, rva):
        for _, vsize, va, rawsize, rawptr in self.sections:
            if va <= rva < va + max(vsize, rawsize):
                return rawptr + rva - va
        raise ValueError("RVA 0x%x outside every section" % rva)

    def cstring(self, offset):
        return self.data[offset:self.data.index(b"\0", offset)].decode("ascii", "replace")

    def imports(self):
        rva, size = self.dirs[1]
        names = []
        if not rva:
            return names
        off = self.rva_to_offset(rva)
        while True:
            entry = struct.unpack_from("<IIIII", self.data, off)
            if entry == (0, 0, 0, 0, 0):
                return names
            names.append(self.cstring(self.rva_to_offset(entry[3])))
            off += 20

    def delay_imports(self):
        rva, size = self.dirs[13]
        names = []
        if not rva:
            return names
        off = self.rva_to_offset(rva)
        # The table ends at a zeroed entry or at the size the directory gives, which comes first.
        for _ in range(size // 32 if size else 1 << 16):
            entry = struct.unpack_from("<8I", self.data, off)
            if entry[1] == 0:
                return names
            names.append(self.cstring(self.rva_to_offset(entry[1])))
            off += 32
        return names

    def end_of_image(self):
        return max(rawptr + rawsize for _, _, _, rawsize, rawptr in self.sections)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("program")
    ap.add_argument("--machine", choices=sorted(MACHINES))
    ap.add_argument("--known-dlls-only", action="store_true")
    ap.add_argument("--no-trailing-data", action="store_true")
    ap.add_argument("--manifest-level")
    ap.add_argument("--version")
    ap.add_argument("--subsystem", choices=["gui", "console"])
    ap.add_argument("--delay-loaded", action="append", default=[], metavar="DLL",
                    help="the DLL is in the delay-import table and not in the import table")
    args = ap.parse_args()

    data = open(args.program, "rb").read()
    pe = PE(data)
    failures = []
    if args.machine and pe.machine != MACHINES[args.machine]:
        failures.append("machine is 0x%04X, not %s" % (pe.machine, args.machine))
    if args.subsystem:
        want = 2 if args.subsystem == "gui" else 3
        if pe.subsystem != want:
            failures.append("subsystem is %d, not %s" % (pe.subsystem, args.subsystem))
    if args.known_dlls_only:
        for dll in pe.imports() + pe.delay_imports():
            if dll.lower() not in KNOWN_DLLS:
                failures.append("imports %s at load time, which is not a KnownDLL" % dll)
    if args.no_trailing_data:
        if pe.symtab or pe.nsymbols:
            failures.append("has a COFF symbol table (%d symbols at 0x%x)" % (pe.nsymbols, pe.symtab))
        if len(data) != pe.end_of_image():
            failures.append("file is %d bytes but the image ends at %d" % (len(data), pe.end_of_image()))
    if args.manifest_level:
        m = re.search(rb'requestedExecutionLevel\s+level="([^"]+)"', data)
        if not m or m.group(1).decode() != args.manifest_level:
            failures.append("manifest level is %s, not %s" % (m.group(1).decode() if m else "missing",
                                                               args.manifest_level))
    if args.version:
        parts = [int(p) for p in args.version.split(".")]
        fixed = struct.pack("<IIII", 0xFEEF04BD, 0x10000, (parts[0] << 16) | parts[1],
                            (parts[2] << 16) | parts[3])
        if fixed not in data:
            failures.append("fixed version block does not say %s" % args.version)
        if args.version.encode("utf-16-le") not in data:
            failures.append("version strings do not say %s" % args.version)
    for dll in args.delay_loaded:
        if dll.lower() not in [d.lower() for d in pe.delay_imports()]:
            failures.append("%s is not in the delay-import table" % dll)
        if dll.lower() in [d.lower() for d in pe.imports()]:
            failures.append("imports %s at load time" % dll)
    for f in failures:
        print("%s: %s" % (args.program, f))
    if not failures:
        print("%s: ok" % args.program)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
