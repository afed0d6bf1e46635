"""wavwiden-en against wavwiden, on the inputs of the other end-to-end
tables: the same exit status and the same files, and English text in UTF-8,
the report once, each line as it comes, a failure last and on standard error;
and the warnings on a delay, as one table."""
import errno
import os
import pty
import pwd
import re
import subprocess
import tempfile
import threading
import tty
import unittest

from convert_test import Delays
from reader_test import ACCEPTED, REFUSED
from wavtest import BIN, EN_BIN, FAIL, WRAPPER, f32, linux_only, mono, ramp, stereo

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
# The delays wavwiden-en takes: a plain decimal number, in full, with an
# optional unit; it refuses every other text that wavwiden reads as a number.
STRICT_DELAY = re.compile(r"[+-]?([0-9]+(\.[0-9]*)?|\.[0-9]+)([eE][+-]?[0-9]+)?(s|ms)?")
NOT_A_DELAY = 'error: the delay "%s" is not a number of seconds'
UNKNOWN = 'error: unknown option "%s"; wavwiden-en --help lists the options\n'
OPTION = re.compile("-[-A-Za-z]")


def shown(name):
    """A name (str or bytes) as wavwiden-en prints it: each control
    character, C1 included, and each byte that is not UTF-8 as \\xNN."""
    if isinstance(name, str):
        name = name.encode("utf-8", "surrogateescape")
    text = ""
    for c in name.decode("utf-8", "surrogateescape"):
        code = ord(c)
        if code < 0x20 or 0x7F <= code <= 0x9F or 0xDC80 <= code <= 0xDCFF:
            text += "\\x%02x" % (code & 0xFF)
        else:
            text += c
    return text


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


def version():
    """The project's version, as the build takes it."""
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
    with open(os.path.join(root, "CMakeLists.txt"), encoding="utf-8") as f:
        return re.search(r"project\(wavwiden VERSION ([0-9.]+)", f.read()).group(1)


def run_once(args, files, stdin=subprocess.DEVNULL, program=None, folder=None, **how):
    """Runs wavwiden-en once in a folder holding files (or in folder, as it
    is), the streams apart; returns the status, both streams and every file
    of the folder after, a folder's as None."""
    with tempfile.TemporaryDirectory() as scratch:
        folder = folder or scratch
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        done = subprocess.run(WRAPPER + [program or EN_BIN] + args, cwd=folder, stdin=stdin,
                              capture_output=True, timeout=120, **how)
        after = {}
        for name in sorted(os.listdir(folder)):
            path = os.path.join(folder, name)
            after[name] = None
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    after[name] = f.read()
        return done.returncode, done.stdout, done.stderr, after


def made(args, files):
    """What wavwiden makes of args: its output file, run on a folder of files."""
    return run_once(args, files, program=BIN)[3][args[1]]


@unittest.skipUnless(EN_BIN, "needs WAVWIDEN_EN_BIN")
class English(unittest.TestCase):
    maxDiff = None

    def test_same_work_in_english(self):
        for what, files, args in CASES:
            with self.subTest(what):
                status, _, _, _, after = run(BIN, args, files)
                en_status, combined, stdout, stderr, en_after = run(EN_BIN, args, files)
                if len(args) > 2 and not STRICT_DELAY.fullmatch(args[2]):
                    self.assertEqual((en_status, en_after, stdout), (FAIL, files, b""))
                    said = UNKNOWN if OPTION.match(args[2]) else NOT_A_DELAY
                    self.assertTrue(stderr.decode("utf-8").startswith(said % shown(args[2])), stderr)
                    continue
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
            ("30ms", []), ("1000ms", [long % "1", covers % 8000]), ("0.1ms", [short % "0.0001"]),
            ("2s", [long % "2", covers % 16000]), ("1e39", [long % "inf", covers % (2**31 - 1)]),
        ]
        for text, warnings in cases:
            with self.subTest(delay=text):
                args = ["in.wav", "out.wav"] + ([] if text is None else [text])
                status, _, _, stderr, _ = run(EN_BIN, args, {"in.wav": SOURCE})
                self.assertEqual(status, 0)
                lines = stderr.decode("utf-8").replace("\r\n", "\n").splitlines()
                self.assertEqual(lines, warnings)


    def test_command_lines(self):
        # (arguments, status, what standard output starts with, what standard
        # error starts with, the files after beside in.wav: out.wav as
        # wavwiden makes it of the arguments given, or none).
        usage = "Usage: wavwiden-en [OPTION]... IN.wav OUT.wav [DELAY]\n"
        help_text = run_once(["--help"], {})[1].decode("utf-8")
        too_many = usage + "error: %d operands given, but at most 3 are taken"
        eps = {"ep%d.wav" % n: mono(ramp(100 + n, n), bits=8) for n in range(1, 5)}
        cases = [
            (["--help"], 0, usage, "", None), (["-h"], 0, help_text, "", None),
            (["in.wav", "out.wav", "--help"], 0, help_text, "", None),
            (["--help", "-x"], 0, help_text, "", None),
            (["--version"], 0, "wavwiden-en %s\nCopyright " % version(), "", None),
            (["-x"], FAIL, "", UNKNOWN % "-x", None),
            (["--foo", "in.wav", "out.wav"], FAIL, "", UNKNOWN % "--foo", None),
            (["in.wav", "out.wav", "-x", "--help"], FAIL, "", UNKNOWN % "-x", None),
            (["--help=1"], FAIL, "", UNKNOWN % "--help=1", None),
            (["-hx"], FAIL, "", UNKNOWN % "-hx", None),
            (["--verbose"], FAIL, "", UNKNOWN % "--verbose", None),
            ([], FAIL, "", usage, None), (["in.wav"], FAIL, "", usage, None),
            (["--", "in.wav"], FAIL, "", usage, None),
            (["in.wav", "out.wav"], 0, "File: in.wav\n", "", ["in.wav", "out.wav"]),
            (["--", "in.wav", "out.wav"], 0, "File: in.wav", "", ["in.wav", "out.wav"]),
            (["in.wav", "--", "out.wav", "0.01"], 0, "File:", "", ["in.wav", "out.wav", "0.01"]),
            (["in.wav", "out.wav", "0.01", "x"], FAIL, "", too_many % 4, None),
            (["in.wav", "out.wav", "0.01", "x", "y"], FAIL, "", too_many % 5, None),
            (["in.wav", "out.wav", "-0.01"], 0, "File:", "", ["in.wav", "out.wav", "-0.01"]),
            (["in.wav", "out.wav", "-.5"], 0, "File:", "", ["in.wav", "out.wav", "-.5"]),
            (["in.wav", "out.wav", "30ms"], 0, "File:", "", ["in.wav", "out.wav", "0.03"]),
            (["in.wav", "out.wav", "0.03s"], 0, "File:", "", ["in.wav", "out.wav", "0.03"]),
            (["in.wav", "out.wav", "+.5e1"], 0, "File:", "", ["in.wav", "out.wav", "+.5e1"]),
            (["in.wav", "out.wav", "5."], 0, "File:", "", ["in.wav", "out.wav", "5."]),
            (["in.wav", "out.wav", "12.5ms"], 0, "File:", "", ["in.wav", "out.wav", "0.0125"]),
        ] + [(["in.wav", "out.wav", text], FAIL, "", NOT_A_DELAY % shown(text), None)
             for text in ("ep3.wav", "0,02", "abc", "0x10", "inf", "nan", "", " 0.02", "0.02 ",
                          "1e", "30 ms", "30MS", "0.03S", "1s0", ".", "+", "-", "1e+", "ms")]
        for args, status, stdout, stderr, result in cases:
            with self.subTest(args=args):
                got = run_once(args, {"in.wav": SOURCE})
                files = {"in.wav": SOURCE}
                if result:
                    files["out.wav"] = made(result, {"in.wav": SOURCE})
                self.assertEqual((got[0], got[3]), (status, files))
                self.assertTrue(got[1].decode("utf-8").startswith(stdout), got[1])
                self.assertTrue(got[2].decode("utf-8").startswith(stderr), got[2])
                if status == FAIL:
                    self.assertEqual(got[1], b"")
        with self.subTest("*.wav in a folder of four"):
            self.assertEqual(run_once(sorted(eps), eps)[::3], (FAIL, eps))
        with self.subTest("a file named -h"):
            got = run_once(["--", "-h", "out.wav"], {"-h": SOURCE})
            self.assertEqual(got[3].get("out.wav"), made(["in.wav", "out.wav"], {"in.wav": SOURCE}))
        for line in help_text.splitlines():
            self.assertLessEqual(len(line), 79, line)
        for piece in ("--help", "--version", "30ms", "-0.01", "man wavwiden-en"):
            self.assertIn(piece, help_text)


    @linux_only
    def test_standard_streams(self):
        # (what, arguments, standard input: bytes, a file's name or None,
        # standard output: None for a pipe or a file's name opened with mode).
        result = made(["in.wav", "out.wav"], {"in.wav": SOURCE})
        report = "File: %s\n  chunk \"fmt \": 16 bytes\n"
        done = "Converted the mono file %s into the stereo file %s.\n"
        cases = [
            ("cat src | wavwiden-en - out.wav", ["-", "out.wav"], SOURCE, None),
            ("wavwiden-en - out.wav < src", ["-", "out.wav"], "in.wav", None),
            ("cat src | wavwiden-en - -", ["-", "-"], SOURCE, None),
        ] + [("wavwiden-en src %s | cat" % name, ["in.wav", name], None, None)
             for name in ("-", "/dev/stdout", "/dev/fd/1", "/proc/self/fd/1")] + [
            ("wavwiden-en src - > file", ["in.wav", "-"], None, ("res.wav", "wb")),
            ("wavwiden-en src /dev/stdout > file", ["in.wav", "/dev/stdout"], None, ("res.wav", "wb")),
            ("wavwiden-en src res.wav > res.wav", ["in.wav", "res.wav"], None, ("res.wav", "wb")),
            ("wavwiden-en src - >> file", ["in.wav", "-"], None, ("res.wav", "ab")),
        ]
        for what, args, stdin, stdout in cases:
            with self.subTest(what), tempfile.TemporaryDirectory() as folder:
                with open(os.path.join(folder, "in.wav"), "wb") as f:
                    f.write(SOURCE)
                with open(os.path.join(folder, "res.wav"), "wb") as f:
                    f.write(b"old")
                given = {"input": stdin} if isinstance(stdin, bytes) else {
                    "stdin": open(os.path.join(folder, stdin or os.devnull), "rb")}
                sink = stdout and open(os.path.join(folder, stdout[0]), stdout[1])
                done_run = subprocess.run([EN_BIN] + args, cwd=folder, stderr=subprocess.PIPE,
                                          stdout=sink or subprocess.PIPE, timeout=120, **given)
                for f in (given.get("stdin"), sink):
                    if f:
                        f.close()
                with open(os.path.join(folder, "res.wav"), "rb") as f:
                    res = f.read()
                written = res if stdout else done_run.stdout
                if args[1] == "out.wav":
                    with open(os.path.join(folder, "out.wav"), "rb") as f:
                        written = f.read()
                    self.assertEqual(done_run.stdout.decode("utf-8")[:12], "File: -\n  ch")
                    self.assertEqual(done_run.stderr, b"")
                else:
                    text = done_run.stderr.decode("utf-8")
                    self.assertTrue(text.startswith(report % args[0]), text)
                    self.assertTrue(text.endswith(done % tuple(args)), text)
                expected = b"old" + result if stdout and stdout[1] == "ab" else result
                self.assertEqual((done_run.returncode, written), (0, expected))
                with open(os.path.join(folder, "in.wav"), "rb") as f:
                    self.assertEqual(f.read(), SOURCE)

    @linux_only
    def test_outputs_refused_or_written_in_one_pass(self):
        result = made(["in.wav", "out.wav"], {"in.wav": SOURCE})
        with tempfile.TemporaryDirectory() as folder:
            source = os.path.join(folder, "in.wav")
            with open(source, "wb") as f:
                f.write(SOURCE)
            # A named pipe: written header first, all in one pass.
            fifo = os.path.join(folder, "out.fifo")
            os.mkfifo(fifo)
            received = []

            def read_all():
                with open(fifo, "rb") as pipe:
                    received.append(pipe.read())
            reader = threading.Thread(target=read_all)
            reader.start()
            status, _, stderr, _ = run_once(["in.wav", "out.fifo"], {}, folder=folder)
            reader.join(timeout=60)
            self.assertEqual((status, received, stderr), (0, [result], b""))
            # Standard output whose file is the source, by "-" or a name of it.
            for name in ("-", "/dev/stdout", "/proc/self/fd/1"):
                with self.subTest(appended=name):
                    with open(source, "ab") as sink:
                        done = subprocess.run([EN_BIN, "in.wav", name], cwd=folder, stdout=sink,
                                              stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
                    with open(source, "rb") as f:
                        self.assertEqual((done.returncode, f.read()), (FAIL, SOURCE))
                    self.assertEqual(done.stderr.decode("utf-8"),
                                     "error: standard output is the source in.wav itself: give its "
                                     "name as OUT.wav to convert it in place\n")
            # A terminal, as standard output or by its name: nothing reaches it.
            master, slave = pty.openpty()
            tty.setraw(slave)
            terminal = os.ttyname(slave)
            for args, stdout in ((["in.wav", "-"], slave), (["in.wav", terminal], subprocess.PIPE)):
                with self.subTest(terminal=args[1]):
                    done = subprocess.run([EN_BIN] + args, cwd=folder, stdout=stdout,
                                          stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
                    self.assertEqual((done.returncode, done.stdout or b""), (FAIL, b""))
                    self.assertEqual(done.stderr.decode("utf-8"),
                                     "error: the output %s is a terminal: WAVE data is not written "
                                     "to one; redirect it to a file or a pipe\n" % shown(args[1]))
            os.set_blocking(master, False)
            try:
                self.assertEqual(os.read(master, 4096), b"")
            except BlockingIOError:
                pass  # nothing was written to the terminal
            os.close(slave)
            os.close(master)
            # A standard stream closed: its number, which the program's first
            # open takes, is not taken for it.
            bad = os.strerror(errno.EBADF)
            for args, closed, said in ((["in.wav", "-"], 1, "output -"),
                                       (["-", "out.wav"], 0, "source -")):
                with self.subTest(closed=closed):
                    done = subprocess.run([EN_BIN] + args, cwd=folder, stderr=subprocess.PIPE,
                                          preexec_fn=lambda fd=closed: os.close(fd), timeout=60)
                    self.assertEqual(done.returncode, FAIL)
                    self.assertTrue(done.stderr.decode("utf-8").endswith(
                        "error: cannot open the %s: %s\n" % (said, bad)), done.stderr)
                    self.assertFalse(os.path.exists(os.path.join(folder, "out.wav")))
                    with open(source, "rb") as f:
                        self.assertEqual(f.read(), SOURCE)
            # A reader gone before the run starts: the writes fail, with the reason.
            gone, into = os.pipe()
            os.close(gone)
            done = subprocess.run([EN_BIN, "in.wav", "-"], cwd=folder, stdout=into,
                                  stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, timeout=60)
            os.close(into)
            stderr = done.stderr.decode("utf-8")
            self.assertEqual(done.returncode, FAIL)
            self.assertTrue(stderr.endswith("error: cannot write the output -: %s\n"
                                            % os.strerror(errno.EPIPE)), stderr)


    @linux_only
    def test_hostile_names(self):
        names = [b"\x1b]0;owned\x07.wav", b"\x1b[31mred.wav", b"new\nline.wav", b"\xff.wav",
                 b"\xc2\x9b2J.wav", b"tab\t.wav", b"del\x7f.wav", b"\xe2\x80.wav", b"\xc0\xaf.wav"]
        unsafe = re.compile("[\x00-\x09\x0b-\x1f\x7f-\x9f]")
        for name in names:
            text = os.fsdecode(name)
            for args, files, said in (
                    ([text, "out.wav"], {text: SOURCE}, "File: %s\n" % shown(name)),
                    (["in.wav", text], {"in.wav": SOURCE}, "into the stereo file %s.\n" % shown(name)),
                    ([text, "out.wav"], {}, "error: cannot open the source %s: %s\n"
                     % (shown(name), os.strerror(errno.ENOENT))),
                    (["in.wav", "no/" + text], {"in.wav": SOURCE}, "error: cannot open the output "
                     "no/%s: %s\n" % (shown(name), os.strerror(errno.ENOENT))),
                    (["in.wav", "out.wav", text], {"in.wav": SOURCE}, NOT_A_DELAY % shown(name))):
                with self.subTest(name=name, args=args):
                    status, stdout, stderr, _ = run_once(args, files)
                    printed = (stdout + stderr).decode("utf-8")  # strict: valid UTF-8 only
                    self.assertIsNone(unsafe.search(printed), printed)
                    self.assertIn(said, printed)
                    self.assertEqual(status, 0 if files and len(args) == 2 and "no/" not in args[1]
                                     else FAIL)

    @linux_only
    def test_failure_reasons(self):
        no_such = os.strerror(errno.ENOENT)
        cases = [
            (["in.wav", "nodir/x.wav"], {}, "error: cannot open the output nodir/x.wav: " + no_such),
            (["in.wav", "folder"], {}, "error: cannot open the output folder: "
             + os.strerror(errno.EISDIR)),
            (["in.wav", "in.wav/x.wav"], {}, "error: cannot open the output in.wav/x.wav: "
             + os.strerror(errno.ENOTDIR)),
            (["gone.wav", "out.wav"], {}, "error: cannot open the source gone.wav: " + no_such),
            (["folder", "out.wav"], {}, "error: cannot read the header of the source folder: "
             + os.strerror(errno.EISDIR)),
            (["in.wav", "locked/out.wav"], {"user": True},
             "error: cannot open the output locked/out.wav: " + os.strerror(errno.EACCES)),
            (["secret.wav", "out.wav"], {"user": True},
             "error: cannot open the source secret.wav: " + os.strerror(errno.EACCES)),
        ]
        user = os.environ.get("WAVWIDEN_TEST_USER")
        for args, how, said in cases:
            with self.subTest(args=args), tempfile.TemporaryDirectory() as folder:
                if how.get("user") and (os.geteuid() != 0 or not user):
                    continue  # file modes bind only another user, as CI makes
                os.chmod(folder, 0o777)
                for name in ("in.wav", "secret.wav"):
                    with open(os.path.join(folder, name), "wb") as f:
                        f.write(SOURCE)
                os.chmod(os.path.join(folder, "secret.wav"), 0o600)
                os.mkdir(os.path.join(folder, "folder"))
                os.mkdir(os.path.join(folder, "locked"), 0o755)
                ids = {"user": user, "group": pwd.getpwnam(user).pw_gid} if how.get("user") else {}
                status, _, stderr, after = run_once(args, {}, folder=folder, **ids)
                self.assertEqual(status, FAIL)
                self.assertEqual(stderr.decode("utf-8").splitlines()[-1], said)
                self.assertNotIn("out.wav", after)


if __name__ == "__main__":
    unittest.main()
