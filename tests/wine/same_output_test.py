"""The Windows build against the Linux build on the same inputs: the same
exit status, the same console bytes once each "\\n" is CR LF, and the same
output file byte for byte. Run by run_e2e_wine.sh, which sets
WAVWIDEN_LINUX_BIN beside the harness's WAVWIDEN_BIN and WAVWIDEN_WRAPPER."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from wavtest import BIN, WRAPPER, chunk, fmt_body, mono, ramp, riff  # noqa: E402

LINUX_BIN = os.environ.get("WAVWIDEN_LINUX_BIN", "")
EXAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples",
                       "pluck.wav")


def timed(size, bytes_per_sec):
    """8-bit data of the given size whose playing time is size / bytes_per_sec."""
    return riff(chunk(b"fmt ", fmt_body(bits=8, bytes_per_sec=bytes_per_sec)),
                chunk(b"data", ramp(size, 5)))


# (name, input bytes, arguments after the input path[, the input's name and
# how the Windows build, under code page 932, prints it: "?" for what the
# code page cannot show, the code page's nearest for the rest])
CASES = [
    ("example default delay", None, ["out.wav"]),
    ("example 50 ms", None, ["out.wav", "0.05"]),
    ("example right leads", None, ["out.wav", "-0.01"]),
    ("example no number", None, ["out.wav", "0x10"]),
    ("example +INF", None, ["out.wav", "+INF"]),
    ("example -NAN", None, ["out.wav", "-NAN"]),
    ("same path in and out", mono(ramp(301, 3)), ["in.wav"]),
    ("8-bit odd length", mono(ramp(999, 11), bits=8), ["out.wav", "0.003"]),
    ("16-bit odd length", mono(ramp(1001, 13)), ["out.wav"]),
    ("tie to even 0.0625", timed(1, 16), ["out.wav"]),
    ("tie to even 0.1875", timed(3, 16), ["out.wav"]),
    ("thirds", timed(2, 3), ["out.wav"]),
    ("long time", timed(1000, 1), ["out.wav"]),
    ("zero bytes per second", timed(10, 0), ["out.wav"]),
    ("zero byte in a chunk id", riff(chunk(b"LIST", b"abc"), b"\x00",
                                     chunk(b"fmt ", fmt_body()), chunk(b"data", ramp(8))),
     ["out.wav"]),
    ("negative chunk length", riff(chunk(b"fmt ", fmt_body()), chunk(b"junk", b"", 0xFFFFFFF8),
                                   chunk(b"data", ramp(8))), ["out.wav"]),
    ("data longer than the file", riff(chunk(b"fmt ", fmt_body()),
                                       chunk(b"data", ramp(8), 0x80000000)), ["out.wav"]),
    ("stereo source", riff(chunk(b"fmt ", fmt_body(channels=2)), chunk(b"data", ramp(8))),
     ["out.wav"]),
    ("float samples", riff(chunk(b"fmt ", fmt_body(tag=3, bits=32)), chunk(b"data", ramp(8))),
     ["out.wav"]),
    ("24-bit samples", mono(ramp(9), bits=24), ["out.wav"]),
    ("short file", b"RIFF\x04", ["out.wav"]),
    ("output folder missing", mono(ramp(8)), ["missing/out.wav"]),
    ("usage", mono(ramp(8)), []),
    ("Korean name", mono(ramp(40)), ["out.wav"], "한국어.wav", "???.wav"),
    ("emoji name", mono(ramp(40)), ["out.wav"], "\U0001F600.wav", "??.wav"),
    ("yen sign in the name", mono(ramp(40)), ["out.wav"], "a\u00a5b.wav", "a\\b.wav"),
    ("accent in the name", mono(ramp(40)), ["out.wav"], "caf\u00e9.wav", "cafe.wav"),
]


def run(command, folder):
    # Wine takes its ANSI code page, 932 here, from the locale.
    env = dict(os.environ, LC_ALL="ja_JP.UTF-8")
    result = subprocess.run(command, cwd=folder, stdin=subprocess.DEVNULL, env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    files = {}
    for name in sorted(os.listdir(folder)):
        if os.path.isfile(os.path.join(folder, name)):  # a folder's name only
            with open(os.path.join(folder, name), "rb") as f:
                files[name] = f.read()
        else:
            files[name] = None
    return result.returncode, result.stdout, result.stderr, files


def crlf(text):
    return text.replace(b"\n", b"\r\n")


@unittest.skipUnless(LINUX_BIN and BIN, "needs WAVWIDEN_LINUX_BIN and WAVWIDEN_BIN")
class SameAsLinux(unittest.TestCase):
    maxDiff = None

    def test_both_builds_agree(self):
        for name, source, args, *named in CASES:
            in_name, shown = named or ("in.wav", "in.wav")
            with self.subTest(name), tempfile.TemporaryDirectory() as linux, \
                    tempfile.TemporaryDirectory() as windows:
                for folder in (linux, windows):
                    if source is None:
                        shutil.copyfile(EXAMPLE, os.path.join(folder, in_name))
                    else:
                        with open(os.path.join(folder, in_name), "wb") as f:
                            f.write(source)
                status, out, err, files = run([LINUX_BIN, in_name] + args, linux)
                out = out.replace(os.fsencode(in_name), shown.encode("cp932"))
                expected = (status, crlf(out), crlf(err), files)
                self.assertEqual(run(WRAPPER + [BIN, in_name] + args, windows), expected)


    def test_folders_and_devices(self):
        # A folder and NUL, /dev/null on Linux, as the source, the output and
        # both: never taken for the source's own file, the same status and
        # files. Only the names the messages print differ.
        for args in (["in.wav", "NUL"], ["NUL", "out.wav"], ["NUL", "NUL"], ["in.wav", "folder"],
                     ["folder", "out.wav"], ["folder", "folder"], ["folder", "NUL"]):
            with self.subTest(" ".join(args)), tempfile.TemporaryDirectory() as linux, \
                    tempfile.TemporaryDirectory() as windows:
                for folder in (linux, windows):
                    shutil.copyfile(EXAMPLE, os.path.join(folder, "in.wav"))
                    os.mkdir(os.path.join(folder, "folder"))
                linux_args = [a.replace("NUL", "/dev/null") for a in args]
                status, _, _, files = run([LINUX_BIN] + linux_args, linux)
                got = run(WRAPPER + [BIN] + args, windows)
                self.assertEqual((got[0], got[3]), (status, files))


@unittest.skipUnless(LINUX_BIN and BIN, "needs WAVWIDEN_LINUX_BIN and WAVWIDEN_BIN")
class EnglishAsLinux(unittest.TestCase):
    """wavwiden-en.exe, beside wavwiden.exe, on the example and on a Korean
    name: the Linux build's status and file, and the name printed as given,
    in UTF-8, redirected."""

    def test_english_on_the_example_and_a_korean_name(self):
        exe = os.path.join(os.path.dirname(BIN), "wavwiden-en.exe")
        linux = os.path.join(os.path.dirname(LINUX_BIN), "wavwiden-en")
        for in_name in ("in.wav", "한국어.wav"):
            with self.subTest(in_name), tempfile.TemporaryDirectory() as ours, \
                    tempfile.TemporaryDirectory() as windows:
                for folder in (ours, windows):
                    shutil.copyfile(EXAMPLE, os.path.join(folder, in_name))
                status, out, err, files = run([linux, in_name, "out.wav"], ours)
                self.assertEqual(run(WRAPPER + [exe, in_name, "out.wav"], windows),
                                 (status, crlf(out), crlf(err), files))
                self.assertIn(f"File: {in_name}".encode(), out)

    def english(self, args, folder, **how):
        """wavwiden-en.exe and the Linux wavwiden-en on args, in folder: each
        one's status and streams, the file it leaves as out.wav."""
        exe = os.path.join(os.path.dirname(BIN), "wavwiden-en.exe")
        linux = os.path.join(os.path.dirname(LINUX_BIN), "wavwiden-en")
        env = dict(os.environ, LC_ALL="ja_JP.UTF-8")
        results = []
        for command in (WRAPPER + [exe], [linux]):
            done = subprocess.run(command + args, cwd=folder, env=env, capture_output=True,
                                  timeout=120, **how)
            out = os.path.join(folder, "out.wav")
            made = None
            if os.path.exists(out):
                with open(out, "rb") as f:
                    made = f.read()
                os.unlink(out)
            results.append((done.returncode, done.stdout, done.stderr, made))
        return results

    def test_english_options_streams_and_names(self):
        with open(EXAMPLE, "rb") as f:
            example = f.read()
        with tempfile.TemporaryDirectory() as folder:
            shutil.copyfile(EXAMPLE, os.path.join(folder, "in.wav"))
            for args in (["--help"], ["--version"], ["-x"], ["in.wav", "out.wav", "0,02"]):
                with self.subTest(args=args):
                    windows, linux = self.english(args, folder)
                    self.assertEqual(windows, (linux[0], crlf(linux[1]), crlf(linux[2]), None))
            with self.subTest("- as the source, from a pipe"):
                windows, linux = self.english(["-", "out.wav"], folder, input=example)
                self.assertEqual(windows, (linux[0], crlf(linux[1]), linux[2], linux[3]))
                self.assertEqual(linux[0], 0)
            with self.subTest("- as the output, into a pipe"):
                windows, linux = self.english(["in.wav", "-"], folder, stdin=subprocess.DEVNULL)
                self.assertEqual(windows, (linux[0], linux[1], crlf(linux[2]), None))
                self.assertEqual(linux[1][:4], b"RIFF")
            for name in ("a\x1b]0;owned\x07.wav", "b\x1b[31m.wav", "c\u009b2J.wav"):
                with self.subTest(name=name):
                    windows, linux = self.english([name, "out.wav"], folder,
                                                  stdin=subprocess.DEVNULL)
                    self.assertEqual(windows[0], 255)
                    shown = name.replace("\x1b", "\\x1b").replace("\x07", "\\x07")
                    shown = shown.replace("\u009b", "\\x9b")
                    said = windows[2].decode("utf-8")
                    self.assertTrue(said.startswith("error: cannot open the source %s: " % shown), said)
                    self.assertIsNone(re.search("[\x00-\x09\x0b\x0c\x0e-\x1f\x7f-\x9f]", said), said)

    def test_english_on_24_bit_and_float_sources(self):
        # What wavwiden.exe refuses, wavwiden-en.exe converts as the Linux
        # build does, a LIST chunk kept and a pad byte skipped.
        exe = os.path.join(os.path.dirname(BIN), "wavwiden-en.exe")
        linux = os.path.join(os.path.dirname(LINUX_BIN), "wavwiden-en")
        tags = chunk(b"LIST", b"INFOINAM\x05\0\0\0Tune\0\0")
        sources = {"24-bit": riff(chunk(b"fmt ", fmt_body(bits=24)), tags, chunk(b"data", ramp(301, 5)) + b"\0"),
                   "float": riff(chunk(b"fmt ", fmt_body(tag=3, bits=32) + b"\0\0"),
                                 chunk(b"data", ramp(400, 3)), tags)}
        for what, source in sources.items():
            with self.subTest(what), tempfile.TemporaryDirectory() as ours, \
                    tempfile.TemporaryDirectory() as windows:
                for folder in (ours, windows):
                    with open(os.path.join(folder, "in.wav"), "wb") as f:
                        f.write(source)
                status, out, err, files = run([linux, "in.wav", "out.wav"], ours)
                self.assertEqual(status, 0)
                self.assertIn(b"Tune", files["out.wav"])
                self.assertEqual(run(WRAPPER + [exe, "in.wav", "out.wav"], windows),
                                 (status, crlf(out), crlf(err), files))
                self.assertNotEqual(run(WRAPPER + [BIN, "in.wav", "out.wav"], windows)[0], 0)


if __name__ == "__main__":
    unittest.main()
