"""wavwiden-en's wider reading: every format it converts, built here from
bytes and checked against the frame rule written below; the formats it
refuses, with their messages; the other chunks it keeps; a cut-short "data"
chunk; ffmpeg's pipe output through a named pipe and on standard input.
wavwiden refuses what
wavwiden-en alone converts."""
import os
import shutil
import struct
import subprocess
import tempfile
import unittest

from english_test import run_once
from fault_test import FifoServer
from wavtest import (BIN, EN_BIN, FAIL, WRAPPER, chunk, delay_frames, f32, linux_only, ramp,
                     riff, stereo)

TAIL = bytes.fromhex("000000001000800000aa00389b71")
PCM, FLOAT, ALAW, MULAW, EXTENSIBLE = 1, 3, 6, 7, 0xFFFE


def guid(tag):
    return struct.pack("<H", tag) + TAIL


# (what, format tag, bits, SubFormat's tag, valid bits)
FORMATS = [("8-bit PCM", PCM, 8, None, 0), ("16-bit PCM", PCM, 16, None, 0),
           ("24-bit PCM", PCM, 24, None, 0), ("32-bit PCM", PCM, 32, None, 0),
           ("32-bit float", FLOAT, 32, None, 0), ("64-bit float", FLOAT, 64, None, 0),
           ("A-law", ALAW, 8, None, 0), ("µ-law", MULAW, 8, None, 0),
           ("extensible 8-bit PCM", EXTENSIBLE, 8, PCM, 8),
           ("extensible 16-bit PCM", EXTENSIBLE, 16, PCM, 16),
           ("extensible 20 bits in 24", EXTENSIBLE, 24, PCM, 20),
           ("extensible 32-bit PCM", EXTENSIBLE, 32, PCM, 32),
           ("extensible 32-bit float", EXTENSIBLE, 32, FLOAT, 32),
           ("extensible 64-bit float", EXTENSIBLE, 64, FLOAT, 64)]
# (delay argument, the delay it gives): default, none, negative, longer than the source
DELAYS = [(None, f32(0.03)), ("0", 0.0), ("-0.01", f32(-0.01)), ("1", 1.0)]
RATES = [8000, 11025]
FRAMES = 400
if WRAPPER:  # under wine every run costs: a few rows of each format
    DELAYS, RATES = DELAYS[::3], RATES[:1]


def fmt_of(tag, bits, rate, sub=None, valid=0, channels=1, extension=None):
    """A source's "fmt " body: 16 bytes for PCM, 18 for float, A-law and
    µ-law, 40 for the extensible format (channel mask front centre)."""
    width = bits // 8 * channels
    body = struct.pack("<HHIIHH", tag, channels, rate, rate * width, width, bits)
    if extension is not None:
        return body + extension
    if tag == EXTENSIBLE:
        return body + struct.pack("<HHI", 22, valid, 4) + guid(sub)
    return body if tag == PCM else body + b"\0\0"


def silence(tag, bits, sub):
    kind = sub if tag == EXTENSIBLE else tag
    return {ALAW: 0xD5, MULAW: 0xFF}.get(kind, 0x80 if kind == PCM and bits == 8 else 0)


def kept(tag, body):
    """A chunk as the result keeps it: a zero pad byte after an odd body."""
    return chunk(tag, body) + b"\0" * (len(body) & 1)


def result(tag, bits, rate, sub, valid, data, delay, before=b"", after=b""):
    """The frame rule: frame i is sample i on the left and sample i - d on
    the right, or sample i where i - d is outside the source; each byte that
    makes no whole sample becomes two bytes of silence after the last frame.
    The result is in the source's format, with 2 channels."""
    width = bits // 8
    samples = [data[at:at + width] for at in range(0, len(data) - width + 1, width)]
    d = delay_frames(rate, delay)
    frames = b"".join(s + (samples[i - d] if 0 <= i - d < len(samples) else s)
                      for i, s in enumerate(samples))
    body = frames + bytes([silence(tag, bits, sub)]) * (2 * len(data) - len(frames))
    fmt = struct.pack("<HHIIHH", tag, 2, rate, rate * 2 * width, 2 * width, bits)
    if tag == EXTENSIBLE:
        fmt += struct.pack("<HHI", 22, valid, 3) + guid(sub)
    elif tag != PCM:
        fmt += b"\0\0"
    fact = tag in (FLOAT, ALAW, MULAW) or (tag == EXTENSIBLE and sub == FLOAT)
    return riff(chunk(b"fmt ", fmt), chunk(b"fact", struct.pack("<I", len(samples))) * fact,
                before, chunk(b"data", body), after)


def run(program, files, args):
    """Runs program in a folder holding files; its status, standard error and
    the files of the folder after."""
    status, _, stderr, after = run_once(args, files, program=program)
    return status, stderr.decode("utf-8", "replace").replace("\r\n", "\n"), after


B16 = fmt_of(PCM, 16, 8000)
D = ramp(40)
LIST = chunk(b"LIST", b"INFOINAM\x05\0\0\0Tune\0\0")
# (what, source, the error wavwiden-en gives)
REFUSED = [
    ("stereo 24-bit", riff(chunk(b"fmt ", fmt_of(PCM, 24, 8000, channels=2)), chunk(b"data", D)),
     "error: the source has 2 channels: only a mono source converts; mix it down to one channel first"),
    ("MPEG layer 3", riff(chunk(b"fmt ", fmt_of(0x55, 0, 8000, extension=bytes(14))), chunk(b"data", D)),
     "error: the source is in format 0x0055 (MPEG layer 3), which does not convert: PCM, IEEE float, "
     "A-law and µ-law do"),
    ("ADPCM", riff(chunk(b"fmt ", fmt_of(2, 4, 8000, extension=bytes(34))), chunk(b"data", D)),
     "error: the source is in format 0x0002 (Microsoft ADPCM), which does not convert: PCM, IEEE "
     "float, A-law and µ-law do"),
    ("an unknown tag", riff(chunk(b"fmt ", fmt_of(0x1234, 16, 8000)), chunk(b"data", D)),
     "error: the source is in format 0x1234 (not a known one), which does not convert: PCM, IEEE "
     "float, A-law and µ-law do"),
    ("RF64", riff(chunk(b"fmt ", B16), chunk(b"data", D), tag=b"RF64"),
     "error: the source is RF64 (larger than 4 GiB), which is not read: its stereo result could "
     "not be a WAVE file"),
    ("unknown SubFormat", riff(chunk(b"fmt ", fmt_of(EXTENSIBLE, 16, 8000, 0x55, 16)), chunk(b"data", D)),
     "error: the source's extensible format has the SubFormat 00000055-0000-0010-8000-00aa00389b71, "
     "neither PCM nor IEEE float"),
    ("extensible with cbSize 0", riff(chunk(b"fmt ", fmt_of(EXTENSIBLE, 16, 8000, extension=bytes(24))),
                                      chunk(b"data", D)),
     'error: the source\'s extensible format block is cut short (a 40-byte "fmt " chunk, 0 bytes '
     "of extension): it needs 40 and 22"),
    ("extensible in 18 bytes", riff(chunk(b"fmt ", fmt_of(EXTENSIBLE, 16, 8000, extension=b"\x16\0")),
                                    chunk(b"data", D)),
     'error: the source\'s extensible format block is cut short (a 18-byte "fmt " chunk, 0 bytes '
     "of extension): it needs 40 and 22"),
    ("28 valid bits in 24", riff(chunk(b"fmt ", fmt_of(EXTENSIBLE, 24, 8000, PCM, 28)), chunk(b"data", D)),
     "error: the source declares 28 valid bits in a 24-bit sample"),
    ("extensible 64-bit PCM", riff(chunk(b"fmt ", fmt_of(EXTENSIBLE, 64, 8000, PCM, 64)), chunk(b"data", D)),
     "error: the source's PCM samples have 64 bits: PCM converts with 8, 16, 24 or 32, float with 32 "
     "or 64, A-law and µ-law with 8"),
    ("12-bit PCM", riff(chunk(b"fmt ", fmt_of(PCM, 12, 8000)), chunk(b"data", D)),
     "error: the source's PCM samples have 12 bits: PCM converts with 8, 16, 24 or 32, float with 32 "
     "or 64, A-law and µ-law with 8"),
    ("16-bit float", riff(chunk(b"fmt ", fmt_of(FLOAT, 16, 8000)), chunk(b"data", D)),
     "error: the source's float samples have 16 bits: PCM converts with 8, 16, 24 or 32, float with "
     "32 or 64, A-law and µ-law with 8"),
    ("16-bit µ-law", riff(chunk(b"fmt ", fmt_of(MULAW, 16, 8000)), chunk(b"data", D)),
     "error: the source's µ-law samples have 16 bits: PCM converts with 8, 16, 24 or 32, float with "
     "32 or 64, A-law and µ-law with 8"),
    ("no fmt", riff(LIST, chunk(b"data", D)), 'error: the source has no "fmt " chunk'),
    ("no data", riff(chunk(b"fmt ", B16), LIST), 'error: the source has no "data" chunk'),
    ("empty data", riff(chunk(b"fmt ", B16), chunk(b"data", b"")),
     'error: the source\'s "data" chunk is empty: it holds no samples'),
    ("data header at the end, declaring 10", riff(chunk(b"fmt ", B16), b"data\x0a\0\0\0"),
     'error: the source\'s "data" chunk is empty: it holds no samples'),
    ("257 chunks to keep, none beside another",
     riff(chunk(b"fmt ", B16), (chunk(b"JUNK", b"") + chunk(b"fact", b"")) * 257, chunk(b"data", D)),
     'error: the source has more than 256 chunks besides "fmt ", "fact" and "data" to keep'),
]


@unittest.skipUnless(EN_BIN, "needs WAVWIDEN_EN_BIN")
class Formats(unittest.TestCase):
    maxDiff = None

    def test_every_format_rate_delay_and_length(self):
        for what, tag, bits, sub, valid in FORMATS:
            width = bits // 8
            for rate in RATES:
                body = fmt_of(tag, bits, rate, sub, valid)
                for over in sorted({0, 1, width - 1}):
                    data = ramp(FRAMES * width + over, 5)
                    source = riff(chunk(b"fmt ", body), chunk(b"data", data))
                    for text, delay in DELAYS:
                        with self.subTest(what, rate=rate, over=over, delay=text):
                            args = ["in.wav", "out.wav"] + ([text] if text else [])
                            status, stderr, after = run(EN_BIN, {"in.wav": source}, args)
                            self.assertEqual(status, 0, stderr)
                            expected = result(tag, bits, rate, sub, valid, data, delay)
                            self.assertEqual(after["out.wav"], expected)
                            if tag == PCM and bits in (8, 16):  # wavwiden's file
                                self.assertEqual(expected, stereo(data, bits, rate, delay))
                            elif delay == 0.0:  # wavwiden refuses it
                                self.assertEqual(run(BIN, {"in.wav": source}, args)[:1], (FAIL,))

    def test_refused_formats(self):
        for what, source, message in REFUSED:
            with self.subTest(what):
                status, stderr, after = run(EN_BIN, {"in.wav": source}, ["in.wav", "out.wav"])
                self.assertEqual((status, list(after)), (FAIL, ["in.wav"]))
                self.assertEqual(stderr.rstrip("\n").split("\n")[-1], message)
                if not what.startswith("257 chunks"):  # which wavwiden drops and converts
                    self.assertEqual(run(BIN, {"in.wav": source}, ["in.wav", "out.wav"])[0], FAIL)

    def test_chunks_kept(self):
        f24 = fmt_of(PCM, 24, 8000)
        data = ramp(3 * 100 + 1)
        bext, odd, cue = chunk(b"bext", bytes(range(12))), chunk(b"iXML", b"<x/>!"), chunk(b"cue ", b"\1\0\0\0" + bytes(24))
        # (what, source, the chunks the result has before its data and after)
        cases = [
            ("before and after data", riff(chunk(b"fmt ", f24), LIST, bext, chunk(b"data", data), cue),
             LIST + bext, cue),
            ("odd lengths, padded", riff(LIST, chunk(b"fmt ", f24), odd + b"\0", chunk(b"data", data),
                                         odd + b"\0", chunk(b"smpl", b"abc") + b"\0"),
             LIST + kept(b"iXML", b"<x/>!"), kept(b"iXML", b"<x/>!") + kept(b"smpl", b"abc")),
            ("odd data, padded", riff(chunk(b"fmt ", f24), chunk(b"data", data) + b"\0", LIST), b"", LIST),
            ("pad left out", riff(chunk(b"fmt ", f24), odd, chunk(b"data", data) + b"\0", odd),
             kept(b"iXML", b"<x/>!"), kept(b"iXML", b"<x/>!")),
            ("odd chunk at the very end", riff(chunk(b"fmt ", f24), chunk(b"data", data) + b"\0", odd),
             b"", kept(b"iXML", b"<x/>!")),
            ("1000 chunks one after another, odd and even",
             riff(chunk(b"fmt ", f24), (odd + b"\0" + bext) * 500, chunk(b"data", data)),
             (kept(b"iXML", b"<x/>!") + bext) * 500, b""),
            ("fact dropped", riff(chunk(b"fmt ", f24), chunk(b"fact", b"\1\0\0\0"), chunk(b"data", data)),
             b"", b""),
            ("a chunk running past the end is not kept",
             riff(chunk(b"fmt ", f24), chunk(b"data", data) + b"\0", bext, chunk(b"LIST", b"abcd", 99)),
             b"", bext),
        ]
        for what, source, before, after_data in cases:
            for args in (["in.wav", "out.wav"], ["in.wav", "in.wav"]):
                with self.subTest(what, args=args):
                    status, stderr, after = run(EN_BIN, {"in.wav": source}, args)
                    self.assertEqual(status, 0, stderr)
                    self.assertEqual(after[args[1]], result(PCM, 24, 8000, None, 0, data, f32(0.03),
                                                            before, after_data))

    def test_cut_short_data(self):
        data = ramp(3 * 300 + 2)
        for declared in (len(data) + 7, 0xFFFFFFFF):
            with self.subTest(declared=declared):
                source = riff(chunk(b"fmt ", fmt_of(PCM, 24, 8000)), LIST,
                              chunk(b"data", data, declared))
                status, stderr, after = run(EN_BIN, {"in.wav": source}, ["in.wav", "out.wav"])
                self.assertEqual(status, 0, stderr)
                self.assertEqual(stderr, f'warning: the "data" chunk declares {declared} bytes but the '
                                         f"source holds {len(data)} after it: those are converted\n")
                self.assertEqual(after["out.wav"], result(PCM, 24, 8000, None, 0, data, f32(0.03), LIST))
                self.assertEqual(run(BIN, {"in.wav": source}, ["in.wav", "out.wav"])[0], FAIL)

    @linux_only
    def test_pipes(self):
        data = ramp(3 * 300)
        f24 = chunk(b"fmt ", fmt_of(PCM, 24, 8000))
        cut = riff(f24, chunk(b"data", data, 0xFFFFFFFF))
        whole = result(PCM, 24, 8000, None, 0, data, f32(0.03))
        # (what, what standard input holds, the last line of standard error, the result or None)
        cases = [
            ("data declared, nothing after", riff(f24, b"data\x0a\0\0\0"),
             'error: the source\'s "data" chunk is empty: it holds no samples', None),
            ("a chunk running past the end not kept", riff(f24, chunk(b"data", data), chunk(b"LIST", b"ab", 9)),
             "", whole),
            ("cut short", cut, f'warning: the "data" chunk declares 4294967295 bytes but the source holds '
                               f"{len(data)} after it: those are converted", whole),
        ]
        for what, stream, said, expected in cases:
            with self.subTest(what), tempfile.TemporaryDirectory() as folder:
                done = subprocess.run([EN_BIN, "-", "out.wav"], cwd=folder, input=stream,
                                      capture_output=True, timeout=60)
                self.assertEqual(done.returncode, 0 if expected else FAIL, done.stderr)
                self.assertEqual(done.stderr.decode("utf-8").rstrip("\n").split("\n")[-1], said)
                out = os.path.join(folder, "out.wav")
                self.assertEqual(os.path.exists(out), expected is not None)
                if expected:
                    with open(out, "rb") as f:
                        self.assertEqual(f.read(), expected)
        # A named pipe read twice that keeps other chunks the second time: the source changed.
        first = riff(f24, chunk(b"LIST", b"INFO"), chunk(b"data", data))
        with tempfile.TemporaryDirectory() as folder:
            def served(name, reads, out):
                server = FifoServer(os.path.join(folder, name), reads)
                process = subprocess.Popen([EN_BIN, name, out], cwd=folder, stdin=subprocess.DEVNULL,
                                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                server.start(process)
                _, stderr = process.communicate(timeout=60)
                server.stop()
                return process, stderr

            process, stderr = served("pipe.wav", [first, first.replace(b"INFO", b"INFX")], "out.wav")
            self.assertEqual(process.returncode, 0, stderr)  # the same chunks, other bytes: held as read
            process, stderr = served("pipe2.wav", [first, riff(f24, chunk(b"LIST", b"INFOab"),
                                                               chunk(b"data", data))], "out2.wav")
            self.assertEqual(process.returncode, FAIL)
            self.assertTrue(stderr.decode("utf-8").startswith("error: the source changed"), stderr)
            self.assertFalse(os.path.exists(os.path.join(folder, "out2.wav")))

    @linux_only
    @unittest.skipUnless(shutil.which("ffmpeg"), "needs ffmpeg (apt-get install ffmpeg; CI installs it)")
    def test_ffmpeg_output_through_a_named_pipe(self):
        for codec, tag, bits in (("pcm_s24le", PCM, 24), ("pcm_f32le", FLOAT, 32), ("pcm_mulaw", MULAW, 8)):
            with self.subTest(codec):
                wave = subprocess.run(
                    ["ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                     "sine=frequency=440:sample_rate=48000:duration=0.05", "-ac", "1", "-c:a", codec,
                     "-metadata", "title=Tune", "-metadata", "artist=Someone", "-f", "wav", "-"],
                    stdout=subprocess.PIPE, check=True).stdout
                # ffmpeg's own chunks, read here by their declared sizes, the data's to the end.
                at, chunks = 12, {}
                while at + 8 <= len(wave):
                    size = int.from_bytes(wave[at + 4:at + 8], "little")
                    chunks[wave[at:at + 4]] = wave[at + 8:at + 8 + size]
                    at += 8 + size + (size & 1)
                self.assertEqual(int.from_bytes(wave[4:8], "little"), 0xFFFFFFFF)
                fmt, data = chunks[b"fmt "], chunks[b"data"]
                sub = int.from_bytes(fmt[24:26], "little") if len(fmt) >= 40 else None
                with tempfile.TemporaryDirectory() as folder:
                    pipe = os.path.join(folder, "pipe.wav")
                    server = FifoServer(pipe, [wave, wave])
                    process = subprocess.Popen([EN_BIN, "pipe.wav", "out.wav"], cwd=folder,
                                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                               stderr=subprocess.PIPE)
                    server.start(process)
                    _, stderr = process.communicate(timeout=60)
                    server.stop()
                    self.assertEqual(process.returncode, 0, stderr)
                    self.assertIn(f"declares 4294967295 bytes but the source holds {len(data)}".encode(), stderr)
                    with open(os.path.join(folder, "out.wav"), "rb") as f:
                        written = f.read()
                expected = result(int.from_bytes(fmt[:2], "little"), bits, 48000, sub,
                                  int.from_bytes(fmt[18:20], "little") if sub else 0, data, f32(0.03),
                                  kept(b"LIST", chunks[b"LIST"]))
                self.assertEqual(written, expected)
                # ffmpeg ... -f wav - | wavwiden-en - out.wav: standard input, read once.
                with tempfile.TemporaryDirectory() as folder:
                    ffmpeg = subprocess.Popen(
                        ["ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                         "sine=frequency=440:sample_rate=48000:duration=0.05", "-ac", "1", "-c:a",
                         codec, "-metadata", "title=Tune", "-metadata", "artist=Someone", "-f", "wav",
                         "-"], stdout=subprocess.PIPE)
                    done = subprocess.run([EN_BIN, "-", "out.wav"], cwd=folder, stdin=ffmpeg.stdout,
                                          capture_output=True, timeout=60)
                    ffmpeg.stdout.close()
                    self.assertEqual((ffmpeg.wait(timeout=60), done.returncode), (0, 0), done.stderr)
                    with open(os.path.join(folder, "out.wav"), "rb") as f:
                        self.assertEqual(f.read(), expected)
                self.assertIn(b"Tune", written)
                self.assertEqual(sub or tag, tag)


if __name__ == "__main__":
    unittest.main()
