"""Shared pieces of the end-to-end tests: WAVE files built byte by byte, the
program's texts as the bytes it prints, and a runner for the built binary.

The binary, an optional wrapper (such as wine) and the line end the platform's
text streams write are taken from the environment, so that the same tables
run against every build:
  WAVWIDEN_BIN      path of the program (required)
  WAVWIDEN_WRAPPER  command put before it, split on spaces (optional)
  WAVWIDEN_EOL      "lf" (default) or "crlf"
"""
import os
import shlex
import struct
import subprocess
import tempfile
import unittest

BIN = os.environ.get("WAVWIDEN_BIN", "")
WRAPPER = shlex.split(os.environ.get("WAVWIDEN_WRAPPER", ""))
EOL = b"\r\n" if os.environ.get("WAVWIDEN_EOL", "lf") == "crlf" else b"\n"


def sjis(text):
    """The bytes the program prints for a readable text (printf already applied)."""
    if isinstance(text, str):
        text = text.encode("cp932")
    return text.replace(b"\n", EOL)


def chunk(tag, body, length=None):
    """A chunk with its 8-byte header; length overrides the declared length."""
    declared = len(body) if length is None else length
    return tag + struct.pack("<I", declared & 0xFFFFFFFF) + body


def fmt_body(tag=1, channels=1, rate=8000, bits=16, bytes_per_sec=None, align=None):
    width = channels * (bits // 8)
    if bytes_per_sec is None:
        bytes_per_sec = rate * width
    if align is None:
        align = width
    return struct.pack("<HHIIHH", tag, channels, rate, bytes_per_sec, align, bits)


def riff(*chunks, form=b"WAVE", tag=b"RIFF"):
    body = form + b"".join(chunks)
    return tag + struct.pack("<I", len(body)) + body


def mono(data, bits=16, rate=8000, **fmt):
    """A plain mono PCM file: "fmt " of 16 bytes, then "data"."""
    return riff(chunk(b"fmt ", fmt_body(rate=rate, bits=bits, **fmt)), chunk(b"data", data))


class Run:
    """What one run of the program produced."""

    def __init__(self, status, stdout, stderr, combined):
        self.status = status
        self.stdout = stdout
        self.stderr = stderr
        self.combined = combined


def run(args, cwd, combined=True):
    """Runs the program with stdout and stderr captured apart, then, when
    combined is set, once more with both into one file."""
    command = WRAPPER + [BIN] + list(args)
    apart = subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    both = None
    if combined:
        with tempfile.TemporaryFile() as capture:
            subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL,
                           stdout=capture, stderr=capture, timeout=120)
            capture.seek(0)
            both = capture.read()
    return Run(apart.returncode, apart.stdout, apart.stderr, both)


class WorkDir(unittest.TestCase):
    """A test case with a fresh working folder for its files."""

    def setUp(self):
        self._dir = tempfile.TemporaryDirectory()
        self.dir = self._dir.name
        self.addCleanup(self._dir.cleanup)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return name

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()
