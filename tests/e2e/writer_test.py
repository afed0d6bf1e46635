"""Writing the result: outputs that cannot be created or written, and the
order of the two console streams in a combined capture."""
import os
import unittest

from wavtest import (DATA_WRITE_ERROR, FAIL, NO_HEADER, OUT_OPEN, SUCCESS, WRITE_FAILED, WorkDir,
                     chunk, chunk_line, converted, data_line, err, fmt_body, fmt_report,
                     linux_only, mono, mono_report, out, ramp, report, riff, stereo, time_line)


class Output(WorkDir):
    def setUp(self):
        super().setUp()
        self.data = ramp(300, 13)
        self.write("in.wav", mono(self.data, bits=8))
        self.reading = mono_report("in.wav", 300, bits=8)

    def test_output_that_cannot_be_created(self):
        os.mkdir(self.path("sub"))
        for target in ("nodir/out.wav", "sub"):
            with self.subTest(target):
                self.check(["in.wav", target], 2 * self.reading + err(OUT_OPEN, target), FAIL,
                           [("nodir", None)])

    def test_existing_output_is_truncated(self):
        self.write("out.wav", bytes(5000))
        self.check(["in.wav", "out.wav"], converted("in.wav", "out.wav", self.reading), 0,
                   [("out.wav", stereo(self.data, 8))])

    @linux_only
    def test_pipe_fails_after_the_header(self):
        os.mkfifo(self.path("pipe.wav"))
        # Held open for reading, the pipe keeps what both runs write into it.
        pipe = os.open(self.path("pipe.wav"), os.O_RDONLY | os.O_NONBLOCK)
        self.addCleanup(os.close, pipe)
        self.check(["in.wav", "pipe.wav"], 2 * self.reading + err(NO_HEADER, "pipe.wav"), FAIL)
        self.assertEqual(os.read(pipe, 4096), 2 * stereo(self.data, 8)[:44])

    @linux_only
    def test_devices(self):
        # The full device fails when the block is written (large) or when it is
        # flushed at close (small); both give the same two lines.
        failed = err(WRITE_FAILED) + err(DATA_WRITE_ERROR)
        for size, device, tail, status in [
                (1, "/dev/full", failed, FAIL), (300, "/dev/full", failed, FAIL),
                (100000, "/dev/full", failed, FAIL),
                (300, "/dev/null", out(SUCCESS, "in.wav", "/dev/null"), 0)]:
            with self.subTest(size=size, device=device):
                self.write("in.wav", mono(ramp(size), bits=8))
                self.check(["in.wav", device], 2 * mono_report("in.wav", size, bits=8) + tail,
                           status)


class Streams(WorkDir):
    # (length of the input path, LIST chunks before "fmt "): standard output
    # collected up to 512 bytes in 80-byte pieces, so error lines overtake it.
    CASES = [(6, 0), (127, 0), (27, 4), (200, 7), (250, 30)]

    def test_combined_capture(self):
        for length, lists in self.CASES:
            with self.subTest(length=length, lists=lists):
                name = "a" * (length - 4) + ".wav"
                body = fmt_body(bits=8)
                self.write(name, riff(*[chunk(b"LIST", b"")] * lists, chunk(b"fmt ", body),
                                      chunk(b"data", b"\x01\x02")))
                reading = report(name, *[chunk_line(b"LIST", 0)] * lists, fmt_report(body),
                                 data_line(2), time_line(2, body))
                self.check([name, "o.wav"], converted(name, "o.wav", reading), 0,
                           [("o.wav", stereo(b"\x01\x02", 8))])


if __name__ == "__main__":
    unittest.main()
