"""Shared pieces of the end-to-end tests: WAVE files built byte by byte, the
program's texts as the bytes it prints, a model of its console streams, the
stereo file it must write, and a runner for the built binary.

The binary, an optional wrapper (such as wine) and the line end the platform's
text streams write are taken from the environment, so that the same tables
run against every build:
  WAVWIDEN_BIN      path of the program (required)
  WAVWIDEN_EN_BIN   path of wavwiden-en (its tests are left out without it)
  WAVWIDEN_WRAPPER  command put before it, split on spaces (optional)
  WAVWIDEN_EOL      "lf" (default) or "crlf"

Expected console output is a list of (stream, text) pairs in the order the
program produces them; text is the Shift_JIS bytes with "\n" line ends.
"""
import fractions
import math
import os
import pty
import resource
import shlex
import struct
import subprocess
import tempfile
import tty
import unittest

BIN = os.environ.get("WAVWIDEN_BIN", "")
EN_BIN = os.environ.get("WAVWIDEN_EN_BIN", "")
WRAPPER = shlex.split(os.environ.get("WAVWIDEN_WRAPPER", ""))
EOL = b"\r\n" if os.environ.get("WAVWIDEN_EOL", "lf") == "crlf" else b"\n"
FAIL = 255  # the exit status -1 as the parent sees it
OUT, ERR = "out", "err"
linux_only = unittest.skipIf(WRAPPER, "needs the program to run natively on Linux")


def sjis(text):
    """The bytes the program prints for a readable text (printf already applied)."""
    if isinstance(text, str):
        text = text.encode("cp932")
    return text.replace(b"\n", EOL)


# The program's texts in Python's printf syntax ("%ld" and "%lu" become "%d").
USAGE = ("モノラルをステレオに変換します.\n\n 引数に <入力ファイル名> <出力ファイル名>を\n"
         " 指定してください.\n\n 例 : wavwiden  foo.wav  out.wav\n")
NOT_MONO = "入力はモノラルファイルでなければなりません!\n"
NO_MEMORY = "メモリが確保できません.\n"
TOO_LARGE = "データが大きすぎて変換できません.\n"
CHANGED = "入力ファイルが変換中に変わりました.\n"
SUCCESS = "\nモノラルファイル [%s] を [%s] へステレオ変換しました.\n"
NAME = "\nファイル名[%s]\n"
CHUNK_LEN = '"の長さ: %d [bytes]\n'  # after ' "' and the four raw id bytes
FMT_LEN = ' "fmt "の長さ: %d [bytes]\n'
DATA_LEN = '\n "data" の長さ: %d [bytes]\n'
FORMAT = ("             データ形式: %d (1 = PCM)\n",
          "           チャンネル数: %d\n",
          "     サンプリング周波数: %d [Hz]\n",
          "          バイト数 / 秒: %d [bytes/sec]\n",
          " バイト数×チャンネル数: %d [bytes]\n",
          "    ビット数 / サンプル: %d [bits/sample]\n")
TIME = "\n 時間=%.3f\n"
IN_OPEN = " %sをオープンできません.\n"
READ_AT = " %d で読み込み失敗.\n"
NO_WAVE = "'WAVE' が無い.\n"
NO_RIFF = "'RIFF' フォーマットでない.\n"
READ_FAILED = "読み込みに失敗しました.\n"
NOT_PCM = ("\nこのプログラムは無圧縮PCMのみを対象とします.\n", "このwavファイルの形式は %04X です．\n")
NOT_8_16 = ("\nこのプログラムは8/16ビットサンプリングされたものを対象とします\n",
            "このwavファイルの bits/secは %d です．\n")
NO_FMT = "'fmt ' チャンクが無い.\n"
NO_DATA = "'data' チャンクが無い.\n"
OUT_OPEN = "%s をオープンできません.\n"
NO_HEADER = "ヘッダを書き込めません: %s\n"
WRITE_FAILED = "書き込みにに失敗しました.\n"
DATA_WRITE_ERROR = "wavDataWriteでエラー発生.\n"


def s32(value):
    """A 32-bit field printed with "%ld"/"%d"."""
    return struct.unpack("<i", struct.pack("<I", value & 0xFFFFFFFF))[0]


def say(stream, text, *args):
    """One formatted output; str arguments (paths) are printed as their bytes."""
    args = tuple(os.fsencode(a) if isinstance(a, str) else a for a in args)
    text = text.encode("cp932") if isinstance(text, str) else text
    return [(stream, text % args if args else text)]


def err(text, *args):
    return say(ERR, text, *args)


def out(text, *args):
    return say(OUT, text, *args)


def stream(outputs, which):
    """The bytes one console stream receives."""
    return sjis(b"".join(text for s, text in outputs if s == which))


def merged(outputs, terminal=False):
    """Both streams captured into one file. Standard error is written at once;
    standard output, unless a terminal, is collected 512 bytes at most, each
    output entering in pieces of 80 bytes, a piece that would overflow the
    buffer first writing out all collected; the rest is written at exit."""
    written, held = [], b""
    for which, text in outputs:
        if which == ERR or terminal:
            written.append(text)
            continue
        for at in range(0, len(text), 80):
            piece = text[at:at + 80]
            if len(held) + len(piece) > 512:
                written.append(held)
                held = b""
            held += piece
    return sjis(b"".join(written) + held)


# Input files.

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


def ramp(size, step=7):
    """Sample bytes that differ from their neighbours, so a shift shows."""
    return bytes((i * step + i // 256) & 0xFF for i in range(size))


# The report of one read.

def fmt_report(body, length=16):
    """The length line of a "fmt " chunk and the six lines of its 16-byte block."""
    fields = struct.unpack("<HHIIHH", body[:16])
    return err(FMT_LEN, s32(length)) + sum((out(f, v) for f, v in zip(FORMAT, fields)), [])


def data_line(length):
    return err(DATA_LEN, s32(length))


def chunk_line(tag, length):
    return out(b' "' + tag + CHUNK_LEN.encode("cp932"), s32(length))


def time_line(size, body):
    """The playing time for a format block: size over the declared bytes per
    second, or when that is 0 over rate x channels x bytes per sample, or 0."""
    tag, channels, rate, per_sec, align, bits = struct.unpack("<HHIIHH", body[:16])
    per_sec = per_sec or rate * channels * (bits // 8)
    return out(TIME, size / per_sec if per_sec else 0.0)


def report(path, *parts):
    """A read of path: the name line, then the given parts in order."""
    return out(NAME, path) + sum(parts, [])


def mono_report(path, size, bits=16, rate=8000, **fmt):
    """The full report of a file made by mono(data of size bytes, ...)."""
    body = fmt_body(rate=rate, bits=bits, **fmt)
    return report(path, fmt_report(body), data_line(size), time_line(size, body))


def converted(src, dst, reading):
    """A successful run: the report of each read, then the success line."""
    return reading + reading + out(SUCCESS, src, dst)


# The output file.

def f32(value):
    """A number rounded to a 32-bit float, as the delay argument is."""
    try:
        return struct.unpack("<f", struct.pack("<f", value))[0]
    except OverflowError:
        return math.copysign(math.inf, value)


def delay_frames(rate, delay):
    """rate x delay exactly, truncated toward zero and held in 32 signed bits;
    NaN gives 0."""
    if math.isnan(delay):
        return 0
    if math.isinf(delay):
        return 2**31 - 1 if delay > 0 else -2**31
    return max(-2**31, min(2**31 - 1, int(fractions.Fraction(delay) * rate)))


def header(bits, rate, size):
    """The 44-byte header of a stereo file with size bytes of samples."""
    width = bits // 8
    return struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", (size + 36) & 0xFFFFFFFF, b"WAVE",
                       b"fmt ", 16, 1, 2, rate, (width * 2 * rate) & 0xFFFFFFFF, width * 2,
                       bits, b"data", size)


def stereo(data, bits=16, rate=8000, delay=f32(0.03)):
    """The output for mono samples: left the source, right the source sample
    i - d where that is inside the source, else the left one."""
    width = bits // 8
    samples = [data[at:at + width] for at in range(0, len(data) - width + 1, width)]
    d = delay_frames(rate, delay)
    frames = b"".join(s + (samples[i - d] if 0 <= i - d < len(samples) else s)
                      for i, s in enumerate(samples))
    silence = (b"\x80" if bits == 8 else b"\x00") * (2 * len(data) - len(frames))
    return header(bits, rate, 2 * len(data)) + frames + silence


# Running the program.

class Run:
    """What one run of the program produced."""

    def __init__(self, status, stdout, stderr, combined, combined_status):
        self.status = status
        self.stdout = stdout
        self.stderr = stderr
        self.combined = combined
        self.combined_status = combined_status


def _sanitized():
    """Whether the program is built with AddressSanitizer, whose shadow memory
    needs terabytes of address space: it cannot start under `ulimit -v`."""
    if WRAPPER or not BIN or not os.path.exists(BIN):
        return False
    with open(BIN, "rb") as f:
        return b"__asan_init" in f.read()


SANITIZED = _sanitized()


def memory_cap(memory, env=None):
    """What caps a native run's memory at memory bytes: (preexec_fn, env).
    Under AddressSanitizer the allocator's own cap stands in for the limit."""
    env = dict(os.environ if env is None else env)
    if memory is None or WRAPPER:
        return None, env
    if SANITIZED:
        env["ASAN_OPTIONS"] = (env.get("ASAN_OPTIONS", "")
                               + f":allocator_may_return_null=1:max_allocation_size_mb={memory >> 20}")
        return None, env
    return lambda: resource.setrlimit(resource.RLIMIT_AS, (memory, memory)), env


def run(args, cwd, combined=True, memory=None):
    """Runs the program with stdout and stderr captured apart, then, when
    combined is set, once more with both into one file. memory caps the
    address space of a native run, in bytes."""
    command = WRAPPER + [BIN] + list(args)
    limit, env = memory_cap(memory)
    apart = subprocess.run(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120,
                           preexec_fn=limit)
    both = both_status = None
    if combined:
        with tempfile.TemporaryFile() as capture:
            both_status = subprocess.run(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                         stdout=capture, stderr=capture, timeout=120,
                                         preexec_fn=limit).returncode
            capture.seek(0)
            both = capture.read()
    return Run(apart.returncode, apart.stdout, apart.stderr, both, both_status)


def run_terminal(args, cwd):
    """Runs the program natively with both streams on one raw terminal; returns
    the status and what the terminal received."""
    master, slave = pty.openpty()
    tty.setraw(slave)  # no "\n" to "\r\n" mapping by the terminal itself
    process = subprocess.Popen([BIN] + list(args), cwd=cwd, stdin=subprocess.DEVNULL,
                               stdout=slave, stderr=slave)
    os.close(slave)
    received = b""
    while True:
        try:
            piece = os.read(master, 4096)
        except OSError:  # EIO once the program has closed the terminal
            break
        if not piece:
            break
        received += piece
    os.close(master)
    return process.wait(timeout=120), received


class WorkDir(unittest.TestCase):
    """A test case with a fresh working folder for its files."""

    maxDiff = None

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

    def check(self, args, outputs, status, files=(), combined=True, memory=None):
        """Runs the program in the folder and compares both streams, apart and
        combined, the exit status and files: (name, bytes or None for absent)."""
        result = run(args, self.dir, combined, memory)
        # A stream that differs shows the run's status too, and the lone stdout its
        # stderr: a wrapper that failed to start the program is told apart at once.
        seen = f"status {result.status}, stderr {result.stderr!r}"
        self.assertEqual(result.stdout, stream(outputs, OUT), "stdout; " + seen)
        self.assertEqual(result.stderr, stream(outputs, ERR), f"stderr; status {result.status}")
        self.assertEqual(result.status, status, "status")
        if combined:
            self.assertEqual(result.combined, merged(outputs),
                             f"combined; status {result.combined_status}")
            self.assertEqual(result.combined_status, status, "combined status")
        for name, expected in files:
            if expected is None:
                self.assertFalse(os.path.lexists(self.path(name)), name + " exists")
            else:
                self.assertEqual(self.read(name), expected, name)
        return result
