"""Sources at the size limit: 2^31 - 19 bytes of samples is the most whose
stereo data plus 36 still fits the RIFF size field. The sources are sparse
files, mostly zero with a few marked stretches of samples, so that they take
no disk; the largest run writes a 4 GiB result, in an address space of
64 MiB.

The conversions run only with WAVWIDEN_SLOW=1 (the CTest test e2e_large,
label slow); the check of the limit itself runs always. All natively on
Linux.
"""
import os
import shutil
import struct
import unittest

from wavtest import (DATA_WRITE_ERROR, ERR, FAIL, OUT, READ_FAILED, TOO_LARGE, WRAPPER,
                     WRITE_FAILED, WorkDir, chunk, converted,
                     data_line, err, fmt_body, fmt_report, header, mono_report, report, riff, run,
                     stream)

LIMIT = 2**31 - 19
RATE = 8000
DELAY = 239  # frames: the default 0.03 s at 8000 Hz
GIB = 1 << 30


def marks(frames):
    """Frames at which the source holds a stretch of distinct samples: the
    start, around 1 GiB, and the end."""
    return [0, GIB // 2 + 12345, frames - 1000]


def sample(i):
    """The sample at frame i inside a marked stretch: never 0, never repeated
    within a stretch."""
    return (i * 7919) % 65535 - 32767 or 1


def sparse_source(path, size, declared=None, marked=True):
    """A mono 16-bit file whose "data" chunk declares declared bytes (size by
    default) and whose file holds size bytes of samples, zero but for the
    marked stretches of 1000 frames."""
    head = riff(chunk(b"fmt ", fmt_body(rate=RATE)), chunk(b"data", b"", declared or size))
    with open(path, "wb") as f:
        f.write(head)
        f.truncate(len(head) + size)
        if marked:
            for first in marks(size // 2):
                f.seek(len(head) + 2 * first)
                f.write(b"".join(struct.pack("<h", sample(i)) for i in range(first, first + 1000)))


class Sparse(WorkDir):
    def expect(self, args, outputs, status):
        result = run(args, self.dir, combined=False, memory=64 << 20)
        self.assertEqual(result.stdout, stream(outputs, OUT), "stdout")
        self.assertEqual(result.stderr, stream(outputs, ERR), "stderr")
        self.assertEqual(result.status, status, "status")


@unittest.skipIf(WRAPPER, "needs the program to run natively on Linux")
class Limit(Sparse):
    def test_the_limit_and_one_byte_over(self):
        # At the limit the source gets past the check, into a full device that
        # fails the first write; one byte more is refused before the output
        # is opened.
        failed = err(WRITE_FAILED) + err(DATA_WRITE_ERROR)
        for size, output, reads, tail in [(LIMIT, "/dev/full", 2, failed),
                                          (LIMIT + 1, "out.wav", 1, err(TOO_LARGE))]:
            with self.subTest(size=size):
                sparse_source(self.path("in.wav"), size, marked=False)
                self.expect(["in.wav", output],
                            reads * mono_report("in.wav", size, rate=RATE) + tail, FAIL)
                self.assertFalse(os.path.lexists(self.path("out.wav")))


@unittest.skipUnless(os.environ.get("WAVWIDEN_SLOW") == "1", "slow: set WAVWIDEN_SLOW=1")
@unittest.skipIf(WRAPPER, "needs the program to run natively on Linux")
class LargeSources(Sparse):
    def setUp(self):
        super().setUp()
        if shutil.disk_usage(self.dir).free < 5 * GIB:
            self.skipTest("needs 5 GiB of disk")

    def test_claim_over_the_limit_cut_short_fails(self):
        declared = LIMIT + (4 << 20)
        sparse_source(self.path("in.wav"), LIMIT, declared=declared, marked=False)
        self.expect(["in.wav", "out.wav"],
                    report("in.wav", fmt_report(fmt_body(rate=RATE)), data_line(declared),
                           err(READ_FAILED)), FAIL)
        self.assertFalse(os.path.lexists(self.path("out.wav")))

    def test_the_largest_source_converts(self):
        sparse_source(self.path("in.wav"), LIMIT)
        self.expect(["in.wav", "out.wav"],
                    converted("in.wav", "out.wav", mono_report("in.wav", LIMIT, rate=RATE)), 0)
        size = 2 * LIMIT
        self.assertEqual(size, 2**32 - 38)
        self.assertEqual(os.path.getsize(self.path("out.wav")), 44 + size)
        frames = LIMIT // 2
        with open(self.path("out.wav"), "rb") as f:
            stereo_header = f.read(44)
            self.assertEqual(stereo_header, header(16, RATE, size))
            self.assertEqual(struct.unpack("<I", stereo_header[4:8])[0], 2**32 - 2)
            for first in marks(frames):
                # Each marked stretch, a little before and after it, frame by
                # frame: left the source, right the source 239 frames earlier.
                begin = max(0, first - 300)
                end = min(frames, first + 1300)
                f.seek(44 + 4 * begin)
                got = struct.unpack(f"<{2 * (end - begin)}h", f.read(4 * (end - begin)))
                expected = []
                for i in range(begin, end):
                    j = i - DELAY if i >= DELAY else i
                    expected += [self.source_sample(i), self.source_sample(j)]
                self.assertEqual(list(got), expected, f"frames {begin}..{end}")
            f.seek(44 + 4 * frames)
            self.assertEqual(f.read(), b"\0\0")  # the odd last byte: silence

    @staticmethod
    def source_sample(i):
        for first in marks(LIMIT // 2):
            if first <= i < first + 1000:
                return sample(i)
        return 0


if __name__ == "__main__":
    unittest.main()
