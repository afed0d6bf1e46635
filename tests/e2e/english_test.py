"""wavwiden-en against wavwiden, on the inputs of the other end-to-end
tables: the same exit status and the same files, and English text in UTF-8,
the report once, each line as it comes, a failure last and on standard error;
and the warnings on a delay, as one table."""
import os
import re
import subprocess
import tempfile
import unittest

from convert_test import Delays
from reader_test import ACCEPTED, REFUSED
from wavtest import BIN, EN_BIN, WRAPPER, mono, ramp

# (what, files in the folder, arguments)
SOURCE = mono(ramp(400, 3), bits=8)
CASES = ([(what, {"in.wav": source}, ["in.wav", "out.wav"]) for what, source, *_ in ACCEPTED + REFUSED]
         + [("no arguments", {}, []), ("one argument", {"in.wav": SOURCE}, ["in.wav"]),
            ("missing source", {}, ["in.wav", "out.wav"]),
            ("stereo", {"in.wav": mono(ramp(40), channels=2)}, ["in.wav", "out.wav"]),
            ("output folder missing", {"in.wav": SOURCE}, ["in.wav", "nowhere/out.wav"]),
            ("in place", {"in.wav": SOURCE}, ["in.wav", "in.wav"]),
            ("old output", {"in.wav": SOURCE, "out.wav": b"old"}, ["in.wav", "out.wav"]),
            ("UTF-8 name", {"テスト.wav": SOURCE}, ["テスト.wav", "한국어.wav"])]
         + [("delay " + repr(text), {"in.wav": SOURCE}, ["in.wav", "out.wav"] + [text])
            for text, _ in Delays.CASES if text is not None])
# The sources wavwiden-en reads further than wavwiden: their other chunks kept,
# a pad byte skipped, a cut-short "data" chunk read, 24 bits taken. Where
# wavwiden converts them, wavwiden-en converts them into the same samples.
WIDER = {"LIST before data", "odd chunk: pad byte read as an id byte", "odd data chunk: no seek after it",
         "id bytes printed raw", "float samples", "24 bits", "bad fmt after data",
         "data one byte past the end", "data claims 4 GiB", "data hidden behind a pad byte"}
JAPANESE = re.compile("[\u3000-\u30ff\u4e00-\u9fff\uff00-\uffef]")


def samples(wave):
    """The body of the last "data" chunk of a file the program wrote."""
    at, body = 12, None
    while at + 8 <= len(wave):
        size = int.from_bytes(wave[at + 4:at + 8], "little")
        if wave[at:at + 4] == b"data":
            body = wave[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)
    return body


def run(program, args, files):
    """Runs the program in a folder of its own holding files, both streams in
    one capture and, once more, apart; returns the status, the capture, the
    two streams and every file of the folder after."""
    with tempfile.TemporaryDirectory() as folder:
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        with tempfile.TemporaryFile() as both:
            status = subprocess.run(WRAPPER + [program] + args, cwd=folder, stdin=subprocess.DEVNULL,
                                    stdout=both, stderr=both, timeout=120).returncode
            both.seek(0)
            combined = both.read()
        for name in os.listdir(folder):
            os.unlink(os.path.join(folder, name))
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        apart = subprocess.run(WRAPPER + [program] + args, cwd=folder, stdin=subprocess.DEVNULL,
                               capture_output=True, timeout=120)
        after = {}
        for name in sorted(os.listdir(folder)):
            path = os.path.join(folder, name)
            after[name] = None
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    after[name] = f.read()
    return status, combined, apart.stdout, apart.stderr, after


@unittest.skipUnless(EN_BIN, "needs WAVWIDEN_EN_BIN")
class English(unittest.TestCase):
    maxDiff = None

    def test_same_work_in_english(self):
        for what, files, args in CASES:
            with self.subTest(what):
                status, _, _, _, after = run(BIN, args, files)
                en_status, combined, stdout, stderr, en_after = run(EN_BIN, args, files)
                if what in WIDER:
                    if status == 0:
                        self.assertEqual(en_status, 0)
                        self.assertEqual(samples(en_after["out.wav"]), samples(after["out.wav"]))
                else:
                    self.assertEqual((en_status, en_after), (status, after))
                text = combined.decode("utf-8").replace("\r\n", "\n")
                self.assertIsNone(JAPANESE.search(text.replace("テスト", "")), text)  # but a name
                self.assertLessEqual(stdout.count(b"File: "), 1)
                last = text.rstrip("\n").split("\n")[-1]
                if en_status == 0:
                    self.assertTrue(last.startswith("Converted the mono file "), text)
                else:
                    self.assertTrue(last.startswith("error: "), text)
                    self.assertTrue(stderr.decode("utf-8").rstrip().endswith(last), stderr)

    def test_warnings_on_the_delay(self):
        # 400 frames at 8000 Hz: 0.05 s.
        plain = 'warning: the delay "%s" is not a plain decimal number; it is read as %s s'
        long = "warning: a delay of %s s is 1 s or more: the right channel is heard as a late copy"
        covers = ("warning: the delay of %d frames is as long as the source or longer: the right "
                  "channel is the left one")
        short = ("warning: a delay of %s s is less than one frame at 8000 Hz: the right channel is "
                 "the left one")
        cases = [
            (None, []), ("0.03", []), ("0", []), ("-0.01", []), ("-5", []), ("0.0499", []),
            ("1e-3", []), ("5.e-3", []), ("+.5e-2", []),
            ("0.05", [covers % 400]), (".5", [covers % 4000]),
            ("1", [long % "1", covers % 8000]), ("30", [long % "30", covers % 240000]),
            ("0.0001", [short % "0.0001"]),
            ("30ms", [plain % ("30ms", "30"), long % "30", covers % 240000]),
            ("0,02", [plain % ("0,02", "0")]), ("abc", [plain % ("abc", "0")]),
            ("0x10", [plain % ("0x10", "0")]), ("INF", [plain % ("INF", "0")]),
            ("+INF", [plain % ("+INF", "inf"), long % "inf", covers % (2**31 - 1)]),
            ("1e", [plain % ("1e", "1"), long % "1", covers % 8000]),
            (" 0.02", [plain % (" 0.02", "0.02")]), ("", [plain % ("", "0")]),
        ]
        for text, warnings in cases:
            with self.subTest(delay=text):
                args = ["in.wav", "out.wav"] + ([] if text is None else [text])
                status, _, _, stderr, _ = run(EN_BIN, args, {"in.wav": SOURCE})
                self.assertEqual(status, 0)
                lines = stderr.decode("utf-8").replace("\r\n", "\n").splitlines()
                self.assertEqual(lines, warnings)


if __name__ == "__main__":
    unittest.main()
