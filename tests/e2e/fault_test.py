"""Faults, end to end: outputs and inputs that cannot be used, an input that
changes between the two reads, a source that claims more data than memory
allows, and that a failed run leaves its input as it was.

These need the program to run natively on Linux: named pipes, devices, file
modes, `ulimit -v`. As root, the cases that need a file mode to be refused run
the program as the user nobody.
"""
import os
import pwd
import re
import resource
import shutil
import signal
import subprocess
import threading
import time
import unittest

from reader_test import ACCEPTED, P, REFUSED
from wavtest import (BIN, EN_BIN, SANITIZED, CHANGED, DATA_WRITE_ERROR, ERR, FAIL, IN_OPEN, NO_HEADER, NO_MEMORY,
                     NAME, NOT_MONO, OUT, OUT_OPEN, READ_AT, READ_FAILED, SUCCESS, TOO_LARGE, WRAPPER,
                     WRITE_FAILED, WorkDir, chunk, data_line, err, fmt_body, fmt_report, header, mono,
                     memory_cap, mono_report, out, ramp, report, riff, stereo, stream, time_line)

# The user whom file modes bind, where the tests run as root: CI makes one of
# its own (WAVWIDEN_TEST_USER), else nobody.
NOBODY = pwd.getpwnam(os.environ["WAVWIDEN_TEST_USER"]).pw_uid if os.environ.get("WAVWIDEN_TEST_USER") else 65534


class Result:
    def __init__(self, status, stdout, stderr):
        self.status = status
        self.stdout = stdout
        self.stderr = stderr


def execute(args, cwd, memory_kib=None, user=None, started=None, file_size=None, groups=(),
            timeout=120):
    """Runs the program natively with both streams captured apart. memory_kib
    runs it under `ulimit -v`; user runs it as that user id, in its own group
    and groups; started is called with the process once it runs; file_size
    caps the files it writes, in bytes, SIGXFSZ at its default action as a
    shell leaves it."""
    command = [BIN] + list(args)
    limit, env = memory_cap(None if memory_kib is None else memory_kib << 10)

    def limits():
        if limit:
            limit()
        if file_size is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (file_size, file_size))

    ids = {} if user is None else {"user": user, "group": user, "extra_groups": list(groups)}
    process = subprocess.Popen(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               preexec_fn=limits, **ids)
    if started:
        started(process)
    stdout, stderr = process.communicate(timeout=timeout)
    if memory_kib is not None and SANITIZED:  # the allocator says when it gives null
        stderr = re.sub(rb"==\d+==WARNING: AddressSanitizer failed to allocate 0x[0-9a-f]+ bytes\n",
                        b"", stderr)
    return Result(process.returncode, stdout, stderr)


class FifoServer:
    """Serves each payload in turn, from a thread, to one opening of the named
    pipe by the program, and waits for the program to close it before
    serving the next, so that no two payloads meet in one read."""

    def __init__(self, path, payloads, stall=False):
        os.mkfifo(path)
        self.path = path
        self.payloads = payloads
        self.stall = stall  # the pipe held open after the last payload, as long as the program runs
        self.process = None
        self.served = 0
        self.thread = threading.Thread(target=self._serve, daemon=True)

    def start(self, process):
        self.process = process
        self.thread.start()

    def _running(self):
        return self.process.poll() is None

    def _held(self):
        """Whether the program has the pipe open."""
        fifo = os.stat(self.path)
        folder = f"/proc/{self.process.pid}/fd"
        try:
            names = os.listdir(folder)
        except FileNotFoundError:
            return False
        for name in names:
            try:
                st = os.stat(os.path.join(folder, name))
            except OSError:
                continue
            if (st.st_dev, st.st_ino) == (fifo.st_dev, fifo.st_ino):
                return True
        return False

    def _serve(self):
        for payload in self.payloads:
            while True:  # until the program opens the pipe, or ends
                try:
                    fd = os.open(self.path, os.O_WRONLY | os.O_NONBLOCK)
                    break
                except OSError:
                    if not self._running():
                        return
                    time.sleep(0.001)
            os.set_blocking(fd, True)
            while self._running() and not self._held():  # its open is still returning
                time.sleep(0.001)
            try:
                view = memoryview(payload)
                while view:
                    view = view[os.write(fd, view):]
            except BrokenPipeError:
                pass
            finally:
                while self.stall and self._running():
                    time.sleep(0.001)
                os.close(fd)
            self.served += 1
            while self._running() and self._held():
                time.sleep(0.001)

    def stop(self):
        self.thread.join(10)


def files(folder):
    """The bytes of every regular file in folder that can be read."""
    found = {}
    for name in os.listdir(folder):
        path = os.path.join(folder, name)
        if os.path.isfile(path) and not os.path.islink(path) and os.access(path, os.R_OK):
            with open(path, "rb") as f:
                found[name] = f.read()
    return found


SUCCESS_START = stream(out(SUCCESS.split("[")[0]), OUT)

PIPED_ACCEPTED = ["LIST before data", "18-byte fmt", "second data chunk replaces the first",
                  "odd chunk: pad byte read as an id byte", "length -8 moves forward"]
PIPED_REFUSED = ['14-byte fmt takes "da" as bits', "data one byte past the end",
                 "data of length 0"]


def piped(reading):
    """A report of the reader's tables as a read of pipe.wav prints it."""
    assert reading[0] == out(NAME, P)[0]
    return out(NAME, "pipe.wav") + reading[1:]


@unittest.skipIf(WRAPPER, "needs the program to run natively on Linux")
class Faults(WorkDir):
    def setUp(self):
        super().setUp()
        os.chmod(self.dir, 0o755)  # the user nobody works in it too
        self.data = ramp(400, 11)
        self.source = mono(self.data)
        self.write("in.wav", self.source)
        self.reading = mono_report("in.wav", 400)

    def user_without_rights(self):
        """A user whom file modes bind: this one, or nobody in place of root."""
        if os.geteuid() != 0:
            return None
        try:
            probe = execute([], self.dir, user=NOBODY)
        except (OSError, subprocess.SubprocessError):
            probe = None
        if probe is None or probe.status != FAIL:
            self.skipTest("the user nobody cannot run the program here")
        return NOBODY

    def check_run(self, args, outputs, status, **how):
        """Runs the program and compares both streams and the status; a run
        that fails must print no success line and change no file."""
        before = files(self.dir)
        result = execute(args, self.dir, **how)
        self.assertEqual(result.stdout, stream(outputs, OUT), "stdout")
        self.assertEqual(result.stderr, stream(outputs, ERR), "stderr")
        self.assertEqual(result.status, status, "status")
        if status != 0:
            self.assertNotIn(SUCCESS_START, result.stdout)
            self.assertEqual(files(self.dir), before, "a file changed")
        return result

    def test_outputs_that_fail(self):
        def folder(path):
            os.mkdir(path)

        def file_as_folder(path):
            self.write(os.path.dirname(path), b"x")

        def read_only_folder(path):
            os.mkdir(os.path.dirname(path), 0o555)

        def read_only_file(path):
            self.write(path, b"x")
            os.chmod(path, 0o444)

        refused = lambda target: err(OUT_OPEN, target)
        # (output path, how it is prepared, what the writer prints, whether
        # file modes must bind the user)
        cases = [
            ("/dev/full", None, lambda _: err(WRITE_FAILED) + err(DATA_WRITE_ERROR), False),
            ("missing/out.wav", None, refused, False),
            ("plain/out.wav", file_as_folder, refused, False),
            ("folder", folder, refused, False),
            ("folder2/", folder, refused, False),
            ("ro/out.wav", read_only_folder, refused, True),
            ("ro.wav", read_only_file, refused, True),
        ]
        for target, prepare, tail, needs_modes in cases:
            with self.subTest(target):
                user = self.user_without_rights() if needs_modes else None
                if prepare:
                    prepare(self.path(target))
                self.check_run(["in.wav", target], 2 * self.reading + tail(target), FAIL,
                               user=user)

    def test_output_to_a_named_pipe(self):
        os.mkfifo(self.path("pipe.wav"))
        received = []

        def drain():
            with open(self.path("pipe.wav"), "rb") as pipe:
                received.append(pipe.read())

        reader = threading.Thread(target=drain, daemon=True)
        reader.start()
        self.check_run(["in.wav", "pipe.wav"], 2 * self.reading + err(NO_HEADER, "pipe.wav"), FAIL)
        reader.join(10)
        self.assertEqual(received, [stereo(self.data)[:44]])

    def test_inputs_that_cannot_be_read(self):
        os.mkdir(self.path("dir.wav"))
        self.write("secret.wav", self.source)
        os.chmod(self.path("secret.wav"), 0)
        cases = [
            ("missing.wav", err(IN_OPEN, "missing.wav"), False),
            ("secret.wav", err(IN_OPEN, "secret.wav"), True),
            ("dir.wav", report("dir.wav", err(READ_AT, 0)), False),
            ("dir.wav/.", report("dir.wav/.", err(READ_AT, 0)), False),
        ]
        for source, outputs, needs_modes in cases:
            with self.subTest(source):
                user = self.user_without_rights() if needs_modes else None
                self.check_run([source, "out.wav"], outputs, FAIL, user=user)
                self.assertFalse(os.path.lexists(self.path("out.wav")))

    def test_named_pipe_as_input(self):
        data8 = ramp(400, 5)
        body8, body_rate = fmt_body(bits=8), fmt_body(rate=11025)
        longer = mono(ramp(402, 11))
        short_read = mono_report("pipe.wav", 400)
        long_read = mono_report("pipe.wav", 402)
        cut = riff(chunk(b"fmt ", fmt_body()), chunk(b"data", self.data, 4000))
        empty_read = report("pipe.wav", err(READ_AT, -1))  # a pipe has no position
        # (what, one payload per opening, what the run prints, output file or
        # None when the run fails)
        cases = [
            ("same file twice", [self.source] * 2,
             2 * short_read + out(SUCCESS, "pipe.wav", "out.wav"), stereo(self.data)),
            ("longer second", [self.source, longer], short_read + long_read + err(CHANGED), None),
            ("shorter second", [longer, self.source], long_read + short_read + err(CHANGED), None),
            ("other rate second", [self.source, mono(self.data, rate=11025)],
             short_read + report("pipe.wav", fmt_report(body_rate), data_line(400),
                                 time_line(400, body_rate)) + err(CHANGED), None),
            ("other width second", [self.source, mono(data8, bits=8)],
             short_read + report("pipe.wav", fmt_report(body8), data_line(400),
                                 time_line(400, body8)) + err(CHANGED), None),
            ("nothing second", [self.source, b""], short_read + empty_read, None),
            ("nothing", [b""], empty_read, None),
            ("data cut short", [cut],
             report("pipe.wav", fmt_report(fmt_body()), data_line(4000), err(READ_FAILED)), None),
        ]
        # The chunk walk of a stream that cannot seek: sources of the reader's
        # tables whose reports are the same through a pipe.
        for what, source, reading, result in ACCEPTED:
            if what in PIPED_ACCEPTED:
                cases.append((what, [source] * 2, 2 * piped(reading) + out(SUCCESS, "pipe.wav",
                                                                           "out.wav"), result))
        for what, source, reading in REFUSED:
            if what in PIPED_REFUSED:
                cases.append((what, [source], piped(reading), None))
        for what, payloads, outputs, result_file in cases:
            with self.subTest(what):
                for name in ("pipe.wav", "out.wav"):
                    if os.path.lexists(self.path(name)):
                        os.unlink(self.path(name))
                server = FifoServer(self.path("pipe.wav"), payloads)
                self.check_run(["pipe.wav", "out.wav"], outputs, 0 if result_file else FAIL,
                               started=server.start)
                server.stop()
                self.assertEqual(server.served, len(payloads))
                if result_file is None:
                    self.assertFalse(os.path.lexists(self.path("out.wav")))
                else:
                    self.assertEqual(self.read("out.wav"), result_file)

    def test_claimed_data_is_not_allocated(self):
        # 100 bytes whose "data" chunk claims 4 GiB, under a 256 MiB limit.
        claim = riff(chunk(b"fmt ", fmt_body()), chunk(b"data", ramp(56), 0xFFFFFFFF))
        self.assertEqual(len(claim), 100)
        self.write("claim.wav", claim)
        self.check_run(["claim.wav", "out.wav"],
                       report("claim.wav", fmt_report(fmt_body()), data_line(0xFFFFFFFF),
                              err(READ_FAILED)), FAIL, memory_kib=1 << 18)
        self.assertFalse(os.path.lexists(self.path("out.wav")))

        # Through a pipe the size cannot be known, but a claim larger than
        # converts is refused at once, nothing held for it, even where the
        # pipe's writer stalls.
        server = FifoServer(self.path("pipe.wav"), [claim], stall=True)
        self.check_run(["pipe.wav", "out.wav"],
                       report("pipe.wav", fmt_report(fmt_body()), data_line(0xFFFFFFFF),
                              err(TOO_LARGE)), FAIL, memory_kib=1 << 18, started=server.start,
                       timeout=10)
        server.stop()

    def test_large_source_under_a_memory_limit(self):
        # 256 MiB of samples under a 400 MiB limit, less than twice their size:
        # from a pipe they are held once, from a regular file read as the
        # result is written; both convert.
        size = 256 << 20
        source = mono(b"")[:-4] + size.to_bytes(4, "little")
        os.mkdir(self.path("big"))  # the sparse source lies in a folder of its own
        with open(self.path("big/in.wav"), "wb") as f:
            f.write(source)
            f.truncate(f.tell() + size)
        for name in ("pipe.wav", "big/in.wav"):
            with self.subTest(name):
                server = None
                if name == "pipe.wav":
                    server = FifoServer(self.path(name), [source + bytes(size)] * 2)
                self.check_run([name, "out.wav"], 2 * mono_report(name, size) + out(SUCCESS, name, "out.wav"),
                               0, memory_kib=400 << 10, started=server and server.start)
                if server:
                    server.stop()
                with open(self.path("out.wav"), "rb") as f:
                    self.assertEqual(f.read(44), header(16, 8000, 2 * size))
                    self.assertEqual(f.seek(0, os.SEEK_END), 44 + 2 * size)
                os.unlink(self.path("out.wav"))

    def test_console_that_fails(self):
        # Console streams that are full or closed take nothing from the
        # conversion: the same file and the same status. A closed stream's
        # number may be reused by the files the program opens.
        # A report pipe closed early (its reader gone, as after `| head -c1`)
        # takes nothing either, from both programs.
        programs = [BIN] + ([EN_BIN] if EN_BIN else [])
        for program, streams in [(BIN, s) for s in ["<&- >&- 2>&-", ">/dev/full 2>/dev/full", ">&-"]] + \
                [(p, "closed pipe") for p in programs]:
            for source, status in [("in.wav", 0), ("missing.wav", FAIL)]:
                with self.subTest(program=program, streams=streams, source=source):
                    if os.path.lexists(self.path("out.wav")):
                        os.unlink(self.path("out.wav"))
                    if streams == "closed pipe":
                        read, write = os.pipe()
                        os.close(read)
                        process = subprocess.run([program, source, "out.wav"], cwd=self.dir, stdout=write,
                                                 stderr=write, timeout=120)
                        os.close(write)
                    else:
                        process = subprocess.run(
                            ["bash", "-c", f'exec "$0" "$@" {streams}', program, source, "out.wav"],
                            cwd=self.dir, timeout=120)
                    self.assertEqual(process.returncode, status)
                    if status == 0:
                        self.assertEqual(self.read("out.wav"), stereo(self.data))
                    else:
                        self.assertFalse(os.path.lexists(self.path("out.wav")))
                    self.assertEqual(self.read("in.wav"), self.source)

    def test_in_place(self):
        # Converting a file into itself: a failed run leaves it as it was and
        # no other file; where no new file can be made beside it, or put in
        # its place, it is overwritten. As root the folder and the file belong
        # to root, and the program runs as the user nobody. A folder whose
        # default access list names nobody hands nothing of it to the result.
        # The result keeps the owner and group, and the mode, less the set-id
        # bits where the new file could not take the owner or group: it is
        # then copied over the source, the one who writes it not being allowed
        # to keep them. A reservation refused by the file-size limit takes no
        # block (the 8000-byte source's result would need more).
        failed = lambda _: err(WRITE_FAILED) + err(DATA_WRITE_ERROR)
        no_room = lambda _: err(WRITE_FAILED)
        refused = lambda path: err(OUT_OPEN, path)
        converted = lambda path: out(SUCCESS, path, path)
        long_name = "a" * 246 + ".wav"
        result = stereo(self.data)
        group = 54321  # a group nobody is in, but where made a member
        # (what, file name, folder mode, file mode, as nobody, a cap on the
        # size of the files written, what follows both reports, the file
        # after; and where given: the file's owner, "nobody" or root, and
        # group, the folder's group too, nobody made its member, the mode
        # after)
        cases = [
            ("file size capped", "in.wav", 0o755, 0o644, False, 600, failed, self.source),
            ("250-byte name, size capped", long_name, 0o755, 0o644, False, 600, failed, self.source),
            ("file read-only", "in.wav", 0o755, 0o444, True, None, refused, self.source),
            ("file read-only, folder writable", "in.wav", 0o777, 0o444, True, None, refused,
             self.source),
            ("folder read-only", "in.wav", 0o555, 0o666, True, None, converted, result),
            ("folder read-only, size capped", "in.wav", 0o555, 0o666, True, 12000, no_room, self.source,
             dict(size=8000)),
            ("folder sticky", "in.wav", 0o1777, 0o666, True, None, converted, result),
            ("default access list", "in.wav", 0o755, 0o640, False, None, converted, result),
            ("another user's set-user-id file", "in.wav", 0o777, 0o4666, True, None, converted, result,
             dict(mode=0o666)),
            ("a group that cannot be carried over", "in.wav", 0o777, 0o2775, True, None, converted,
             result, dict(owner="nobody", group=group, mode=0o775)),
            ("group-only access", "in.wav", 0o770, 0o660, True, None, converted, result,
             dict(group=group, member=True)),
        ]
        for what, name, folder_mode, file_mode, as_nobody, file_size, tail, after, *how in cases:
            how = how[0] if how else {}
            with self.subTest(what):
                if os.path.lexists(self.path("f")):
                    os.chmod(self.path("f"), 0o755)
                    shutil.rmtree(self.path("f"))
                user = self.user_without_rights() if as_nobody else None
                if how and user is None:
                    self.skipTest("needs root to give the file to other users and groups")
                path = "f/" + name
                os.mkdir(self.path("f"))
                if what == "default access list":
                    if not shutil.which("setfacl"):
                        self.skipTest("needs setfacl: apt-get install acl")
                    subprocess.run(["setfacl", "-d", "-m", f"u:{NOBODY}:rw", self.path("f")], check=True)
                data = ramp(how.get("size", 400), 11)
                source = mono(data)
                after = source if after is self.source else stereo(data)
                self.write(path, source)
                if what == "default access list":  # a source made elsewhere, without one
                    os.removexattr(self.path(path), "system.posix_acl_access")
                if "group" in how:
                    os.chown(self.path(path), NOBODY if how.get("owner") else 0, how["group"])
                    os.chown(self.path("f"), 0, how["group"])
                os.chmod(self.path(path), file_mode)
                os.chmod(self.path("f"), folder_mode)
                before = os.stat(self.path(path))
                self.check_run([path, path], 2 * mono_report(path, len(data)) + tail(path),
                               0 if tail is converted else FAIL, user=user, file_size=file_size,
                               groups=[how["group"]] if how.get("member") else [])
                self.assertEqual(os.listdir(self.path("f")), [name])
                self.assertEqual(self.read(path), after)
                st = os.stat(self.path(path))
                self.assertEqual(st.st_mode & 0o7777, how.get("mode", file_mode))
                self.assertEqual((st.st_uid, st.st_gid), (before.st_uid, before.st_gid), "owner, group")
                if tail is not converted:
                    self.assertEqual(st.st_blocks, before.st_blocks, "blocks reserved")
                with self.assertRaises(OSError):  # no access list of its own
                    os.getxattr(self.path(path), "system.posix_acl_access")

    def test_killed_in_place_conversion_leaves_the_source(self):
        # Killed while it writes the result, the run leaves the source under
        # its name and nothing else.
        data = ramp(64 << 20, 3)
        source = mono(data)
        os.mkdir(self.path("f"))

        def kill_when_writing(process, signal_number):
            while process.poll() is None:
                with open(f"/proc/{process.pid}/io") as io:
                    if int(io.read().split("wchar: ")[1].split()[0]) > 8 << 20:
                        process.send_signal(signal_number)
                        return
                time.sleep(0.001)

        for signal_number in (signal.SIGKILL, signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal.Signals(signal_number).name):
                self.write("f/in.wav", source)
                result = execute(["f/in.wav", "f/in.wav"], self.dir,
                                 started=lambda p: kill_when_writing(p, signal_number))
                self.assertEqual(result.status, -signal_number)
                self.assertEqual(os.listdir(self.path("f")), ["in.wav"])
                self.assertTrue(self.read("f/in.wav") == source)

    def test_output_that_standard_output_writes_to(self):
        # The report would land amid the samples: the run refuses that file,
        # by whatever name, in place or not, and leaves what standard output
        # wrote, appended or over the file's first bytes.
        self.write("f.wav", b"an old output")
        old = {"in.wav": self.source, "f.wav": b"an old output"}
        # (redirection, source, output, the file it writes to)
        cases = [(">", "in.wav", "/dev/stdout", "f.wav"), (">", "in.wav", "f.wav", "f.wav"),
                 (">>", "in.wav", "/dev/stdout", "f.wav"), ("1<>", "in.wav", "f.wav", "f.wav"),
                 (">>", "in.wav", "/dev/stdout", "in.wav"), ("1<>", "in.wav", "in.wav", "in.wav"),
                 ("1<>", "in.wav", "/dev/stdout", "in.wav")]
        for redirection, source, target, written in cases:
            with self.subTest(redirection=redirection, source=source, target=target, written=written):
                for name, data in old.items():
                    self.write(name, data)
                reading = mono_report(source, 400)
                process = subprocess.run(["bash", "-c", f'exec "$0" "$@" {redirection} {written}', BIN,
                                          source, target], cwd=self.dir, stderr=subprocess.PIPE, timeout=120)
                self.assertEqual(process.returncode, FAIL)
                self.assertEqual(process.stderr, stream(2 * reading + err(OUT_OPEN, target), ERR))
                report = stream(2 * reading, OUT)
                before = b"" if redirection == ">" else old[written]
                after = before + report if redirection == ">>" else report + before[len(report):]
                self.assertEqual(self.read(written), after)
                self.assertEqual(self.read("in.wav"), after if written == "in.wav" else self.source)
                self.assertEqual(sorted(os.listdir(self.dir)), ["f.wav", "in.wav"])

    def test_refused_in_place_conversion_leaves_the_file(self):
        self.write("in.wav", mono(self.data, channels=2))
        self.check_run(["in.wav", "in.wav"],
                       mono_report("in.wav", 400, channels=2) + err(NOT_MONO), FAIL)


if __name__ == "__main__":
    unittest.main()
