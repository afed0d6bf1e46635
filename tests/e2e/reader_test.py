"""Reading the source: the chunk walk with its oddities, the report, and every
way a source is refused."""
import os
import unittest

from wavtest import (FAIL, IN_OPEN, NO_DATA, NO_FMT, NO_MEMORY, NO_RIFF, NO_WAVE, NOT_8_16,
                     NOT_PCM, READ_AT, READ_FAILED, WorkDir, chunk, chunk_line, converted,
                     data_line, err, fmt_body, fmt_report, linux_only, mono, ramp, report, riff,
                     stereo, time_line)

P = "in.wav"
B16, B8 = fmt_body(), fmt_body(bits=8)
B8_100 = fmt_body(bits=8, rate=100)
D, D2, D5 = ramp(10), ramp(14, 5), ramp(5, 11)
FMT, DATA, LIST = b"fmt ", b"data", b"LIST"


def fmt_(body=B16, length=None):
    return chunk(FMT, body, length)


def read(*parts):
    return report(P, *parts)


def done(size, body=B16):
    """The data line of a valid read followed by its playing time."""
    return data_line(size) + time_line(size, body)


# (what, file, report of one read, output file or None when the run fails)
ACCEPTED = [
    ("LIST before data", riff(fmt_(), chunk(LIST, b"INFOisft"), chunk(DATA, D)),
     read(fmt_report(B16), chunk_line(LIST, 8), done(10)), stereo(D)),
    ("18-byte fmt", riff(chunk(FMT, B16 + b"\0\0"), chunk(DATA, D)),
     read(fmt_report(B16, 18), done(10)), stereo(D)),
    ("data before fmt", riff(chunk(DATA, D), fmt_()),
     read(data_line(10), fmt_report(B16), time_line(10, B16)), stereo(D)),
    ("second data chunk replaces the first", riff(fmt_(), chunk(DATA, D), chunk(DATA, D2)),
     read(fmt_report(B16), data_line(10), done(14)), stereo(D2)),
    ("second fmt chunk overwrites the first", riff(fmt_(), chunk(DATA, D), chunk(FMT, B8_100)),
     read(fmt_report(B16), data_line(10), fmt_report(B8_100), time_line(10, B8_100)),
     stereo(D, 8, 100)),
    ("odd chunk: pad byte read as an id byte",
     riff(fmt_(), chunk(DATA, D), chunk(LIST, b"abc") + b"\0" + chunk(b"junk", b"xy")),
     read(fmt_report(B16), data_line(10), chunk_line(LIST, 3), chunk_line(b"\0jun", 0x26B),
          time_line(10, B16)), stereo(D)),
    ("odd data chunk: no seek after it",
     riff(fmt_(B8), chunk(DATA, D5) + b"\0" + chunk(LIST, b"abcd")),
     read(fmt_report(B8), data_line(5), chunk_line(b"\0LIS", 0x454), time_line(5, B8)),
     stereo(D5, 8)),
    ("id bytes printed raw", riff(fmt_(), chunk(b"\xff\n\x00\x80", b"xy"), chunk(DATA, D)),
     read(fmt_report(B16), chunk_line(b"\xff\n\x00\x80", 2), done(10)), stereo(D)),
    ("length -8 moves forward",
     riff(fmt_(), chunk(DATA, D), chunk(LIST, b"", 0xFFFFFFF8), chunk(DATA, D2)),
     read(fmt_report(B16), data_line(10), chunk_line(LIST, -8), time_line(10, B16)), stereo(D)),
    ("fmt of length -16 after data", riff(chunk(DATA, D), fmt_(B16, 0xFFFFFFF0)),
     read(data_line(10), fmt_report(B16, -16), time_line(10, B16)), stereo(D)),
    ("fmt longer than the file", riff(chunk(DATA, D), fmt_(B16, 100)),
     read(data_line(10), fmt_report(B16, 100), time_line(10, B16)), stereo(D)),
    ("chunk longer than the file", riff(fmt_(), chunk(DATA, D), chunk(LIST, b"ab", 9)),
     read(fmt_report(B16), data_line(10), chunk_line(LIST, 9), time_line(10, B16)), stereo(D)),
    ("7 trailing bytes", mono(D) + b"LIST\x04\0\0",
     read(fmt_report(B16), done(10)), stereo(D)),
    ("RIFF size not checked", b"RIFF\0\0\0\0" + mono(D)[8:],
     read(fmt_report(B16), done(10)), stereo(D)),
    ("block align and bits/sec not checked", mono(D, bytes_per_sec=3, align=9),
     read(fmt_report(fmt_body(bytes_per_sec=3, align=9)), done(10, fmt_body(bytes_per_sec=3))),
     stereo(D)),
    ("0 bytes/sec: time from the other fields", mono(D, bytes_per_sec=0),
     read(fmt_report(fmt_body(bytes_per_sec=0)), data_line(10),
          time_line(10, fmt_body(bytes_per_sec=0))), stereo(D)),
    ("0 bytes/sec and rate 0: time 0", mono(D, rate=0),
     read(fmt_report(fmt_body(rate=0)), done(10, fmt_body(rate=0))), stereo(D, 16, 0)),
    ("time rounds ties to even", mono(b"\x7f", bits=8, bytes_per_sec=16),
     read(fmt_report(fmt_body(bits=8, bytes_per_sec=16)), data_line(1),
          time_line(1, fmt_body(bits=8, bytes_per_sec=16))), stereo(b"\x7f", 8)),
]

T3, TFFFE = fmt_body(tag=3, bits=32), fmt_body(tag=0xFFFE)
B24, B12, B14 = fmt_body(bits=24), fmt_body(bits=12), B16[:14] + b"da"
REFUSED = [
    ("empty file", b"", read(err(READ_AT, 0))),
    ("5 bytes", b"RIFF\0", read(err(READ_AT, 5))),
    ("11 bytes", mono(D)[:11], read(err(READ_AT, 11))),
    ("not WAVE", riff(fmt_(), chunk(DATA, D), form=b"AVI "), read(err(NO_WAVE))),
    ("not RIFF", riff(fmt_(), chunk(DATA, D), tag=b"RIFX"), read(err(NO_RIFF))),
    ("neither RIFF nor WAVE", riff(tag=b"RIFX", form=b"wave"), read(err(NO_WAVE))),
    ("float samples", riff(chunk(FMT, T3), chunk(DATA, D)),
     read(fmt_report(T3), err(NOT_PCM[0]), err(NOT_PCM[1], 3))),
    ("extensible tag", riff(chunk(FMT, TFFFE + bytes(24)), chunk(DATA, D)),
     read(fmt_report(TFFFE, 40), err(NOT_PCM[0]), err(NOT_PCM[1], 0xFFFE))),
    ("24 bits", riff(chunk(FMT, B24), chunk(DATA, D)),
     read(fmt_report(B24), err(NOT_8_16[0]), err(NOT_8_16[1], 24))),
    ("12 bits", riff(chunk(FMT, B12), chunk(DATA, D)),
     read(fmt_report(B12), err(NOT_8_16[0]), err(NOT_8_16[1], 12))),
    ("tag checked before bits", riff(chunk(FMT, fmt_body(tag=0, bits=12)), chunk(DATA, D)),
     read(fmt_report(fmt_body(tag=0, bits=12)), err(NOT_PCM[0]), err(NOT_PCM[1], 0))),
    ("14-byte fmt takes \"da\" as bits", riff(chunk(FMT, B16[:14]), chunk(DATA, D)),
     read(fmt_report(B14, 14), err(NOT_8_16[0]), err(NOT_8_16[1], 24932))),
    ("bad fmt after data", riff(chunk(DATA, D), chunk(FMT, B24)),
     read(data_line(10), fmt_report(B24), err(NOT_8_16[0]), err(NOT_8_16[1], 24))),
    ("fmt cut short: no message", riff(chunk(DATA, D), chunk(FMT, B16[:10], 16)),
     read(data_line(10), fmt_report(B16, 16)[:1])),
    ("data one byte past the end", riff(fmt_(), chunk(DATA, D, 11)),
     read(fmt_report(B16), data_line(11), err(READ_FAILED))),
    ("data claims 4 GiB", riff(fmt_(), chunk(DATA, D, 0xFFFFFFF0)),
     read(fmt_report(B16), data_line(-16), err(READ_FAILED))),
    ("data of length 0", riff(fmt_(), chunk(DATA, b"")),
     read(fmt_report(B16), data_line(0), err(NO_MEMORY))),
    ("no fmt chunk", riff(chunk(DATA, D)), read(data_line(10), err(NO_FMT))),
    ("no data chunk", riff(fmt_(), chunk(LIST, b"")),
     read(fmt_report(B16), chunk_line(LIST, 0), err(NO_DATA))),
    ("no chunk at all", riff(), read(err(NO_FMT))),
    ("data hidden behind a pad byte",
     riff(fmt_(), chunk(LIST, b"abc") + b"\0" + chunk(DATA, D)),
     read(fmt_report(B16), chunk_line(LIST, 3), chunk_line(b"\0dat", 0xA61), err(NO_DATA))),
]


class Reader(WorkDir):
    def test_accepted_sources(self):
        for what, source, reading, result in ACCEPTED:
            with self.subTest(what):
                self.write(P, source)
                self.check([P, "out.wav"], converted(P, "out.wav", reading), 0,
                           [("out.wav", result)])

    def test_refused_sources(self):
        for what, source, reading in REFUSED:
            with self.subTest(what):
                self.write(P, source)
                # A source whose data is merely claimed must not be allocated.
                self.check([P, "out.wav"], reading, FAIL, [("out.wav", None)], memory=1 << 28)

    def test_source_that_cannot_be_opened(self):
        # A path of 1001 bytes makes a message of exactly 1024.
        for source in ["missing.wav", "missing/" + "x" * 989 + ".wav"]:
            with self.subTest(len(source)):
                self.check([source, "out.wav"], err(IN_OPEN, source), FAIL, [("out.wav", None)])

    @linux_only
    def test_directory_as_source_fails_at_position_0(self):
        os.mkdir(self.path("dir.wav"))
        self.check(["dir.wav", "out.wav"], report("dir.wav", err(READ_AT, 0)), FAIL,
                   [("out.wav", None)])


if __name__ == "__main__":
    unittest.main()
