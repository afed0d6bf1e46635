#!/usr/bin/env python3
"""Times the whole wavwiden process against the I/O floor and other tools.

For each source (48 kHz mono, generated once in a tmpfs folder: 64 MiB 16-bit,
256 MiB 8-bit and 1 GiB 16-bit PCM, or with --formats 64 MiB and 256 MiB of
each format named: PCM of 8, 16 or 24 bits, float of 32 or 64) every round
runs, back to back and in an order that rotates from round to round:
  cat      cat in.wav in.wav > out.wav: the floor, the output wavwiden writes
           and twice the source it reads once
  wavwiden in.wav out.wav (0.03 s delay)
  ffmpeg   pan to two channels, right delayed by 30 ms (when installed)
  sox      remix 1 1 delay 0 0.03 (when installed)
With --pipe the source reaches both through a named pipe that serves it to
each opening, twice: cat reads it twice into the output (cat pipe pipe >
out.wav) and wavwiden reads it twice as it always does, holding its samples
in memory. With --in-place wavwiden also converts a copy of the source into
itself ("in place"), the copy made before the timing starts. Each command's
output is removed before it runs. The table gives the median
wall time, the median over rounds of the ratio to cat and of the ratio to
wavwiden in the same round (so that load from other processes cancels out),
and the peak resident memory from /usr/bin/time -v.

On a virtual machine that hands memory left free for a few seconds back to
the host, the first touch of such memory costs far more than the program's
own work (here 2 to 3 s per GiB against 0.1 s). So before each command the
script writes and frees five times the source in memory of its own, and every
command starts with the same amount of recently used free memory; --cold
leaves that out.

    bench/compare.py build/wavwiden [--runs 5] [--dir /dev/shm/wavwiden-bench] [--cold] [--pipe | --in-place]
    bench/compare.py build/wavwiden-en --formats pcm24 float32 float64 [--cold]
"""
import argparse
import ctypes
import mmap
import os
import shutil
import statistics
import struct
import subprocess
import sys
import threading
import time

MIB = 1 << 20
RATE = 48000
# Each format as real files have it: (format tag, bits per sample, bytes of
# "fmt ", ffmpeg's codec for it, the label). Tag 1 is PCM, with the 16-byte
# "fmt "; tag 3 is IEEE float, with the 18-byte one (cbSize 0) and a "fact"
# chunk holding the frame count.
FORMATS = {
    "pcm8": (1, 8, 16, "pcm_u8", "8-bit"),
    "pcm16": (1, 16, 16, "pcm_s16le", "16-bit"),
    "pcm24": (1, 24, 16, "pcm_s24le", "24-bit"),
    "float32": (3, 32, 18, "pcm_f32le", "32-bit float"),
    "float64": (3, 64, 18, "pcm_f64le", "64-bit float"),
}
# (label, data bytes, format) of the sources timed by default.
SOURCES = [
    ("64 MiB 16-bit", 64 * MIB, "pcm16"),
    ("256 MiB 8-bit", 256 * MIB, "pcm8"),
    ("1 GiB 16-bit", 1024 * MIB, "pcm16"),
]
# The sizes of each format --formats names.
FORMAT_SIZES = (64 * MIB, 256 * MIB)


def header(size, fmt):
    """The chunks before the samples of a mono source of size data bytes."""
    tag, bits, fmt_size, _, _ = FORMATS[fmt]
    width = bits // 8
    body = struct.pack("<HHIIHH", tag, 1, RATE, RATE * width, width, bits)
    if fmt_size == 18:
        body += struct.pack("<H", 0)
    chunks = b"fmt " + struct.pack("<I", len(body)) + body
    if tag != 1:
        chunks += b"fact" + struct.pack("<II", 4, size // width)
    chunks += b"data" + struct.pack("<I", size)
    return b"RIFF" + struct.pack("<I", 4 + len(chunks) + size) + b"WAVE" + chunks


def noise(n, fmt):
    """n bytes of noise as samples of fmt: for float, values of 0.25 to 0.5
    either way (the exponent bytes fixed, the sign and the rest random), never
    an infinity or NaN that another tool might stumble on."""
    block = bytearray(os.urandom(n))
    tag, bits, _, _, _ = FORMATS[fmt]
    if tag == 3:
        width = bits // 8
        top = bytes((b & 0x80) | (0x3E if bits == 32 else 0x3F) for b in range(256))
        next_byte = bytes(((b & 0x7F) | 0x80) if bits == 32 else ((b & 0x0F) | 0xD0)
                          for b in range(256))
        block[width - 1::width] = block[width - 1::width].translate(top)
        block[width - 2::width] = block[width - 2::width].translate(next_byte)
    return block


def source_write(path, size, fmt):
    """A mono WAVE file of fmt with size bytes of noise (whole samples: size
    rounded down to them), unless it is already there."""
    width = FORMATS[fmt][1] // 8
    size -= size % width
    head = header(size, fmt)
    if os.path.exists(path) and os.path.getsize(path) == size + len(head):
        return
    with open(path + ".part", "wb") as f:
        f.write(head)
        left = size
        while left:
            n = min(left, 64 * MIB)
            f.write(noise(n, fmt))
            left -= n
    os.replace(path + ".part", path)


def commands(binary, src, out, fmt, pipe, in_place):
    """(name, argv, stdout path or None, the file it writes) for each tool
    that is installed; with a pipe, cat and wavwiden reading it; in place,
    cat, wavwiden and wavwiden converting out, a copy of src, into itself."""
    if pipe:
        return [("cat", ["cat", pipe, pipe], out, out), ("wavwiden", [binary, pipe, out], None, out)]
    found = [
        ("cat", ["cat", src, src], out, out),
        ("wavwiden", [binary, src, out], None, out),
    ]
    if in_place:
        return found + [("in place", [binary, out, out], None, out)]
    if shutil.which("ffmpeg"):
        codec = FORMATS[fmt][3]
        found.append(("ffmpeg", ["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", src,
                                 "-af", "pan=stereo|c0=c0|c1=c0,adelay=0|30", "-c:a", codec, out],
                      None, out))
    if shutil.which("sox"):
        found.append(("sox", ["sox", src, out, "remix", "1", "1", "delay", "0", "0.03"], None, out))
    return found


def pipe_readers(pipe):
    """Whether any process has the named pipe open."""
    st = os.stat(pipe)
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            for fd in os.listdir(f"/proc/{pid}/fd"):
                other = os.stat(f"/proc/{pid}/fd/{fd}")
                if (other.st_dev, other.st_ino) == (st.st_dev, st.st_ino):
                    return True
        except OSError:
            continue
    return False


def pipe_serve(pipe, src):
    """Serves src to two openings of the named pipe, each once the one before
    has been closed by its reader, so that no two meet in one stream."""
    for _ in range(2):
        with open(pipe, "wb") as w, open(src, "rb") as r:
            try:
                while os.sendfile(w.fileno(), r.fileno(), None, 1 << 20):
                    pass
            except BrokenPipeError:
                pass
        while pipe_readers(pipe):
            time.sleep(0.001)


def run(argv, stdout_path, out, report, serve=None):
    """Wall seconds and peak resident KiB of one run; stops on a failed run."""
    stdout = open(stdout_path, "wb") if stdout_path else subprocess.DEVNULL
    server = threading.Thread(target=serve, daemon=True) if serve else None
    if server:
        server.start()
    start = time.perf_counter()
    done = subprocess.run(["/usr/bin/time", "-v", "-o", report] + argv,
                          stdout=stdout, stderr=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    if server:
        server.join()
    if stdout_path:
        stdout.close()
    if done.returncode != 0:
        sys.exit(f"failed ({done.returncode}): {' '.join(argv)}")
    with open(report) as f:
        rss = next(int(line.split(":")[1]) for line in f
                   if "Maximum resident set size" in line)
    os.remove(out)
    return wall, rss


def prime(size):
    """Writes and frees size bytes of memory, which the next command then gets.
    In huge pages: memory freed in small pages does not make a huge page quick
    to touch again."""
    block = mmap.mmap(-1, size, flags=mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS)
    block.madvise(mmap.MADV_HUGEPAGE)
    view = (ctypes.c_char * size).from_buffer(block)
    ctypes.memset(view, 1, size)
    del view
    block.close()


def mib(kib):
    return kib / 1024


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("binary", help="the wavwiden program")
    parser.add_argument("--runs", type=int, default=5, help="rounds per source (default 5)")
    parser.add_argument("--dir", default="/dev/shm/wavwiden-bench",
                        help="tmpfs folder for the sources and outputs")
    parser.add_argument("--cold", action="store_true",
                        help="do not prime the memory before each command")
    parser.add_argument("--pipe", action="store_true",
                        help="serve each source twice through a named pipe (cat and wavwiden)")
    parser.add_argument("--in-place", action="store_true",
                        help="also time wavwiden converting a copy of the source into itself")
    parser.add_argument("--formats", nargs="+", choices=FORMATS,
                        help="sources of these formats instead, 64 MiB and 256 MiB of each "
                             "(default: 64 MiB 16-bit, 256 MiB 8-bit, 1 GiB 16-bit)")
    parser.add_argument("--sizes", type=int, nargs="*",
                        help="only these sources, as 1-based indexes into the list")
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)
    os.makedirs(args.dir, exist_ok=True)
    report = os.path.join(args.dir, "time.txt")
    listed = ([(f"{size // MIB} MiB {FORMATS[fmt][4]}", size, fmt)
               for fmt in args.formats for size in FORMAT_SIZES] if args.formats else SOURCES)
    chosen = [listed[i - 1] for i in args.sizes] if args.sizes else listed

    rows = []
    for label, size, fmt in chosen:
        src = os.path.join(args.dir, f"in-{size // MIB}-{fmt}.wav")
        out = os.path.join(args.dir, "out.wav")
        source_write(src, size, fmt)
        pipe = os.path.join(args.dir, "in.fifo") if args.pipe else None
        if pipe and not os.path.exists(pipe):
            os.mkfifo(pipe)
        serve = (lambda: pipe_serve(pipe, src)) if pipe else None
        tools = commands(binary, src, out, fmt, pipe, args.in_place)
        walls = {name: [] for name, _, _, _ in tools}
        peaks = {name: 0 for name, _, _, _ in tools}
        for r in range(args.runs):
            for k in range(len(tools)):
                name, argv, stdout_path, written = tools[(r + k) % len(tools)]
                if os.path.exists(written):
                    os.remove(written)
                if name == "in place":
                    shutil.copyfile(src, written)
                if not args.cold:
                    prime(5 * size)
                wall, rss = run(argv, stdout_path, written, report, serve)
                print(f"{label} {name} {wall:.2f} s", file=sys.stderr)
                walls[name].append(wall)
                peaks[name] = max(peaks[name], rss)
        for name, _, _, _ in tools:
            to_cat = statistics.median(w / c for w, c in zip(walls[name], walls["cat"]))
            to_us = statistics.median(w / c for w, c in zip(walls[name], walls["wavwiden"]))
            rows.append((label, size, name, statistics.median(walls[name]), to_cat, to_us,
                         peaks[name]))
        os.remove(src)

    memory = "without priming the memory" if args.cold else "memory primed before each command"
    source = "through a named pipe served twice" if args.pipe else "from a regular file"
    if args.in_place:
        source += ", also converted into itself"
    print(f"Medians of {args.runs} alternating rounds, whole process, files on {args.dir}, "
          f"source {source}, {memory}.")
    print()
    print("| source | command | wall | × cat | × wavwiden | peak memory |")
    print("|---|---|---|---|---|---|")
    for label, size, name, wall, to_cat, to_us, peak in rows:
        print(f"| {label} | {name} | {wall:.2f} s | {to_cat:.2f} | {to_us:.2f} | {mib(peak):.0f} MiB |")


if __name__ == "__main__":
    main()
