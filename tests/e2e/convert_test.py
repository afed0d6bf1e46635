"""The command line and the converted file: usage, delays, sample widths, the
header, the same path in and out, and a source that is not mono."""
import math
import os
import unittest

from wavtest import (FAIL, NOT_MONO, USAGE, WRAPPER, WorkDir, chunk, chunk_line, converted, data_line,
                     delay_frames, err, f32, fmt_body, fmt_report, header, linux_only, merged,
                     mono, mono_report, ramp, report, riff, run_terminal, stereo, time_line)

DEFAULT = f32(0.03)


class Usage(WorkDir):
    def test_fewer_than_two_names_print_the_usage_only(self):
        self.write("in.wav", mono(ramp(8)))
        for args in ([], ["in.wav"]):
            with self.subTest(args=args):
                self.check(args, err(USAGE), FAIL)

    def test_arguments_after_the_delay_are_ignored(self):
        data = ramp(400, 8)
        self.write("in.wav", mono(data, bits=8))
        self.check(["in.wav", "out.wav", "0.01", "junk", "0.02"],
                   converted("in.wav", "out.wav", mono_report("in.wav", 400, bits=8)), 0,
                   [("out.wav", stereo(data, 8, delay=f32(0.01)))])


class Delays(WorkDir):
    # (delay argument or None for none, the number it reads as); 400 8-bit
    # frames at 8000 Hz, so delays of 0.05 s and more leave R = L throughout.
    CASES = [
        (None, DEFAULT),            # 239 frames, one fewer than 30 ms
        ("0.03", DEFAULT),
        ("0", 0.0), ("", 0.0), ("abc", 0.0), ("0x10", 0.0), ("inf", 0.0), ("nan", 0.0),
        ("+inf", 0.0), ("-Inf", 0.0), (".", 0.0), ("e5", 0.0), ("-", 0.0),
        ("0.01", 0.01), ("-0.01", -0.01),  # right leads by 79
        ("  0.0125xyz", 0.0125), ("\t+.0125", 0.0125), ("1.25e-2", 0.0125),
        ("125E-4", 0.0125), ("5.e-3", 0.005), ("0.02e", 0.02), ("0.02e+", 0.02),
        ("0.0049999", 0.0049999), ("0,02", 0.0), ("1e-99999999999", 0.0),
        ("0.0499", 0.0499), ("0.05", 0.05), ("-0.05", -0.05), ("-0.0499", -0.0499),
        ("1e10", 1e10), ("-1e10", -1e10), ("1e39", math.inf), ("1e99999999999", math.inf),
        ("+INF", math.inf), ("-INF", -math.inf), ("+NAN", math.nan), ("-NAN", math.nan),
        ("536870.9375", 536870.9375),  # 2^32 + 204 frames: saturates, no wrap to 204
    ]

    def test_delay_argument(self):
        self.assertEqual([delay_frames(8000, f32(v)) for v in (0.03, -0.01)], [239, -79])
        data = ramp(400)
        self.write("in.wav", mono(data, bits=8))
        reading = mono_report("in.wav", 400, bits=8)
        for text, value in self.CASES:
            with self.subTest(delay=text):
                args = ["in.wav", "out.wav"] + ([] if text is None else [text])
                self.check(args, converted("in.wav", "out.wav", reading), 0,
                           [("out.wav", stereo(data, 8, delay=f32(value)))], combined=False)

    def test_rate_times_delay_is_exact(self):
        # (2^54 - 1) / 2^48 frames: 63.99999999999999996, which a double rounds to 64.
        rate, delay = 3623878629, "1.7660635620586618e-08"
        data = ramp(100)
        self.write("in.wav", mono(data, bits=8, rate=rate))
        self.check(["in.wav", "out.wav", delay],
                   converted("in.wav", "out.wav", mono_report("in.wav", 100, bits=8, rate=rate)),
                   0, [("out.wav", stereo(data, 8, rate, float(delay)))])
        self.assertEqual(self.read("out.wav")[44 + 2 * 63:44 + 2 * 64], bytes([data[63], data[0]]))


class Samples(WorkDir):
    # (bits, rate, source size in bytes, delay argument)
    CASES = [
        (8, 8000, 600, None), (16, 8000, 1200, None), (16, 8000, 1201, None),
        (16, 44100, 4000, None), (8, 22050, 1400, None), (16, 48000, 3000, None),
        (8, 8000, 1, "0"), (16, 8000, 1, None), (16, 8000, 3, "0"), (8, 8000, 5, "0.00025"),
        (16, 1000, 11, "0.002"), (16, 1000, 11, "-0.002"), (8, 0, 10, None),
    ]

    def test_conversion(self):
        for bits, rate, size, delay in self.CASES:
            with self.subTest(bits=bits, rate=rate, size=size, delay=delay):
                data = ramp(size, 37)
                self.write("in.wav", mono(data, bits=bits, rate=rate))
                args = ["in.wav", "out.wav"] + ([] if delay is None else [delay])
                value = DEFAULT if delay is None else f32(float(delay))
                reading = mono_report("in.wav", size, bits=bits, rate=rate)
                self.check(args, converted("in.wav", "out.wav", reading), 0,
                           [("out.wav", stereo(data, bits, rate, value))], combined=False)

    def test_default_delay_frames(self):
        # 239 frames at 8 kHz: frame 238 still equal, frame 239 carries sample 0.
        data = ramp(300)
        self.write("in.wav", mono(data, bits=8))
        self.check(["in.wav", "out.wav"], converted("in.wav", "out.wav",
                   mono_report("in.wav", 300, bits=8)), 0, [], combined=False)
        frames = self.read("out.wav")[44:]
        self.assertEqual(frames[2 * 238:2 * 240], bytes([data[238], data[238], data[239], data[0]]))

    def test_extreme_samples_and_odd_length_silence(self):
        data = b"\x00\x80\xff\x7f\x01"
        self.write("in.wav", mono(data, bits=16))
        self.check(["in.wav", "out.wav", "0"], converted("in.wav", "out.wav",
                   mono_report("in.wav", 5)), 0, [], combined=False)
        self.assertEqual(self.read("out.wav")[44:], b"\x00\x80\x00\x80\xff\x7f\xff\x7f\x00\x00")

    def test_header_is_rebuilt(self):
        # The source's declared rate fields, its other chunks and the extension
        # of its format block are not carried over.
        data = ramp(6)
        body = fmt_body(bits=16, rate=11025, bytes_per_sec=12345, align=7) + b"\x01\x02"
        self.write("in.wav", riff(chunk(b"LIST", b"INFO"), chunk(b"fmt ", body),
                                  chunk(b"data", data)))
        self.check(["in.wav", "out.wav"], converted("in.wav", "out.wav", report(
            "in.wav", chunk_line(b"LIST", 4), fmt_report(body, 18), data_line(6),
            time_line(6, body))), 0,
            [("out.wav", stereo(data, 16, 11025))], combined=False)
        self.assertEqual(header(16, 11025, 12), bytes.fromhex(
            "52494646 30000000 57415645 666d7420 10000000 0100 0200 112b0000 44ac0000 0400 1000"
            "64617461 0c000000"))
        self.assertEqual(header(8, 8000, 10), bytes.fromhex(
            "52494646 2e000000 57415645 666d7420 10000000 0100 0200 401f0000 803e0000 0200 0800"
            "64617461 0a000000"))


class SamePath(WorkDir):
    def test_output_replaces_the_source(self):
        # The output names the source under any name: the file the name leads
        # to is replaced by the result, a symbolic link still leads to it, a
        # second hard-linked name keeps the source, and nothing else is left.
        data = ramp(500, 3)
        source, result = mono(data), stereo(data)
        # (what, output argument, how its name is made, files after the run)
        cases = [
            ("same path", "in.wav", None, {"in.wav": result}),
            ("another spelling", "sub/../in.wav", lambda: os.mkdir(self.path("sub")),
             {"in.wav": result, "sub": None}),
            ("hard link", "link.wav", lambda: os.link(self.path("in.wav"), self.path("link.wav")),
             {"in.wav": source, "link.wav": result}),
            ("symbolic link", "link.wav", lambda: os.symlink("in.wav", self.path("link.wav")),
             {"in.wav": result, "link.wav": result}),
        ]
        for what, target, make, after in cases:
            if WRAPPER and "link" in what:
                continue  # links are Linux's; Windows has names of its own
            with self.subTest(what):
                for name in os.listdir(self.dir):
                    (os.rmdir if os.path.isdir(self.path(name)) else os.unlink)(self.path(name))
                self.write("in.wav", source)
                if make:
                    make()
                self.check(["in.wav", target], converted("in.wav", target, mono_report("in.wav", 500)),
                           0, [(name, data) for name, data in after.items() if data], combined=False)
                self.assertEqual(sorted(os.listdir(self.dir)), sorted(after))
                self.assertEqual(os.path.islink(self.path("link.wav")), what == "symbolic link")


class NotMono(WorkDir):
    def test_channel_count_other_than_one(self):
        for channels in (2, 0, 6):
            with self.subTest(channels=channels):
                body = fmt_body(channels=channels)
                self.write("in.wav", riff(chunk(b"fmt ", body), chunk(b"data", ramp(16))))
                self.check(["in.wav", "out.wav"], report("in.wav", fmt_report(body), data_line(16),
                                                         time_line(16, body)) + err(NOT_MONO),
                           FAIL, [("out.wav", None)])


class Terminal(WorkDir):
    @linux_only
    def test_terminal_output_keeps_the_program_order(self):
        data = ramp(40)
        self.write("in.wav", mono(data, bits=8))
        status, received = run_terminal(["in.wav", "out.wav"], self.dir)
        self.assertEqual(status, 0)
        self.assertEqual(received, merged(converted("in.wav", "out.wav",
                                                    mono_report("in.wav", 40, bits=8)), True))
        self.assertEqual(self.read("out.wav"), stereo(data, 8))


if __name__ == "__main__":
    unittest.main()
