#!/usr/bin/env python3
"""Checks a program as the Windows zip ships it, wavwiden.exe or
wavwiden-en.exe: stripped (no debug section left) and with a version resource
that names the project's version, the product, the file and the license.

    packaging/check_win_exe.py WAVWIDEN_EXE VERSION

Needs the MinGW-w64 binutils (objdump, objcopy) of the cross-build.
"""
import re
import subprocess
import sys
import tempfile
from pathlib import Path

TOOLS = "x86_64-w64-mingw32-"


def sections(exe):
    listing = subprocess.run([TOOLS + "objdump", "-h", exe], check=True,
                             capture_output=True, text=True).stdout
    # Section rows: index, name, size...
    return re.findall(r"^\s*\d+\s+(\S+)\s", listing, re.M)


def resource_strings(exe):
    """The StringFileInfo strings of the .rsrc section: each is its key in
    UTF-16 and a zero, zeros up to a 32-bit boundary, then its value in
    UTF-16 and a zero."""
    with tempfile.TemporaryDirectory() as scratch:
        raw = Path(scratch) / "rsrc.bin"
        subprocess.run([TOOLS + "objcopy", "-O", "binary", "--only-section=.rsrc",
                        exe, str(raw)], check=True)
        data = raw.read_bytes()
    text = data.decode("utf-16-le", errors="replace")
    found = {}
    # Decoding from offset 0 keeps the 16-bit alignment of the strings.
    for key, value in re.findall(r"([A-Za-z]+)\0+([^\0]*)\0", text):
        found.setdefault(key, value)
    return found


def main():
    exe, version = sys.argv[1], sys.argv[2]
    failures = []
    debug = [name for name in sections(exe) if name.startswith(".debug")]
    if debug:
        failures.append(f"debug sections left: {' '.join(debug)}")
    strings = resource_strings(exe)
    expected = [
        ("FileVersion", re.escape(version)),
        ("ProductVersion", re.escape(version)),
        ("ProductName", "wavwiden"),
        ("OriginalFilename", re.escape(Path(exe).name)),
        ("LegalCopyright", r"Copyright .*, MIT License"),
    ]
    for key, pattern in expected:
        value = strings.get(key)
        if value is None or not re.fullmatch(pattern, value):
            failures.append(f"version resource {key} is {value!r}, expected {pattern!r}")
    for failure in failures:
        print(f"{exe}: {failure}")
    return 1 if failures or not version else 0


if __name__ == "__main__":
    sys.exit(main())
