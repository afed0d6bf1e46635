"""In place under wine, each way it can go wrong: wavwiden.exe converts a file
into itself, or writes an output, while another process changes, holds or
removes a file at a chosen moment, a file-size limit binds, the user may not
write the folder, or Ctrl+C comes (SIGINT, which wine makes the console event).
The moments are held, not raced: at "read" the run waits in its first read,
its standard output unread; at "made", in its second, the hidden new file made;
at "flush" and "flush2", stopped at that flush by the shim run_e2e_wine.sh
builds. "copying" races the copy over the target: where the copy outruns it,
the row shows nothing, never a wrong failure. Rows as the unprivileged user run
in a prefix of its own, whose server, which gives files their room, has a
file-size limit. Wine cannot show a flush that is not written through
(FlushFileBuffers is fsync there), a read-only target refusing the move (wine
renames over it, as Linux does), or NUL taken for a file: wine gives NUL,
pipes and consoles no identity. A folder taken for one is neither read nor
written; only where a file put under its name since gets the folder's freed
number, as ext4 may give it or not, would the folder's identity pass it.
"""
import contextlib
import glob
import os
import resource
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from wavtest import (BIN, CHANGED, DATA_WRITE_ERROR, FAIL, OUT_OPEN, WRAPPER, WRITE_FAILED,  # noqa: E402
                     chunk, fmt_body, header, riff, sjis)

STOP = os.environ.get("WAVWIDEN_WINE_STOP", "")
USER = os.environ.get("WAVWIDEN_TEST_USER", "") if os.geteuid() == 0 else ""
CAP = 100 << 10  # above a chunky source, below its result
# Sample bytes, and empty chunks before them: 3000 make a report longer than a pipe holds.
SOURCES = {"small": (512, 0), "chunky": (64 << 10, 3000), "big": (16 << 20, 3000)}


def files(kind):
    """The source, and the result with no delay: each sample twice."""
    size, chunks = SOURCES[kind]
    data, frames = bytes(range(256)) * (size >> 8), bytearray(2 * size)
    for lane in (0, 2):
        frames[lane::4], frames[lane + 1::4] = data[0::2], data[1::2]
    return (riff(*[chunk(b"junk", b"")] * chunks, chunk(b"fmt ", fmt_body()), chunk(b"data", data)),
            header(16, 8000, 2 * size) + frames)


def read(path):
    if os.path.isfile(path):
        with open(path, "rb") as f:
            return f.read()
    return None


def put(path, data=b"another file", mode="wb", at=0):
    with open(path, mode) as f:
        f.seek(at, os.SEEK_END)
        f.write(data)


def hidden(folder):
    return sorted(os.path.join(folder, n) for n in os.listdir(folder) if n.startswith(".wavwiden-"))


# What another process does to the row's run r.
ACTS = {
    "grow": lambda r: put(r.name, chunk(b"junk", b""), "ab"),
    "rewrite": lambda r: put(r.name, b"\x7f\x7f", "r+b", -2),  # the same size
    "replace": lambda r: (put(r.name + "~"), os.replace(r.name + "~", r.name)),
    "unfold": lambda r: (os.rmdir(r.name), put(r.name)),
    "make": lambda r: put(r.name),
    "unhide": lambda r: os.unlink(hidden(r.folder)[0]),
    "SIGINT": lambda r: os.kill(r.process.pid, signal.SIGINT),
    "SIGKILL": lambda r: os.kill(r.process.pid, signal.SIGKILL),
    # A redirection of cmd's shares the file for reading only, the C runtime's readers for writing too.
    "shut": lambda r: r.start(["cmd", "/c", "Z:" + BIN.replace("/", "\\") + " in.wav NUL < in.wav"], hold=True),
    "cap": lambda r: resource.prlimit(r.process.pid, resource.RLIMIT_FSIZE, (4096, 4096)),
}

# (what, set-up: the source, "held" by a reader sharing writing, "user" with
# the folder's and file's modes, "cap" on the run's file sizes, CAP without a
# number, "out" for an output besides the source and what its name holds
# first; when another process acts, and how; the status, None for any; the
# last line; what the name and what lies beside it may hold after, NAME/BESIDE:
# source, result, other (as the act left it) or * for any.)
ROWS = [
    ("write past a file-size limit", "small cap=600", "", FAIL, DATA_WRITE_ERROR, "source/"),
    ("source grown after the first read", "chunky", "read grow", FAIL, CHANGED, "other/"),
    ("target rewritten as the result is flushed", "small", "flush rewrite", FAIL, CHANGED, "other/"),
    ("target grown as the result is flushed", "small", "flush grow", FAIL, CHANGED, "other/"),
    ("another file renamed over the target then", "small", "flush replace", FAIL, CHANGED, "other/"),
    ("the hidden new file removed then", "small", "flush unhide", FAIL, OUT_OPEN, "source/"),
    ("Ctrl+C in the second read", "chunky", "made SIGINT", None, "", "source/ result/"),
    ("held: copied over the target", "chunky held", "", 0, "", "result/"),
    ("held, killed as the copy is flushed", "chunky held", "flush2 SIGKILL", None, "", "result/result"),
    ("held, Ctrl+C as the result is copied", "big held", "copying SIGINT", None, "", "source/ result/ */result"),
    ("held, the copy cut short by a file-size limit", "chunky held", "flush cap", FAIL, WRITE_FAILED, "*/result"),
    ("a reader sharing no writing opens the target then", "chunky", "flush shut", FAIL, OUT_OPEN, "source/"),
    ("held, no room for the copy", "chunky held user=777/666", "", FAIL, WRITE_FAILED, "source/"),
    ("a folder the user may not write: overwritten", "small user=555/666", "", 0, "", "result/"),
    ("a folder the user may not write, no room", "chunky user=555/666 cap", "", FAIL, WRITE_FAILED, "source/"),
    ("a read-only target, the folder writable", "small user=777/444", "", FAIL, OUT_OPEN, "source/"),
    ("output made under its missing name before the write", "chunky out", "read make", FAIL, OUT_OPEN, "other/"),
    ("another file renamed over the output then", "chunky out=file", "read replace", FAIL, OUT_OPEN, "other/"),
    ("a file put under a folder's name, the output", "chunky out=folder", "read unfold", FAIL, OUT_OPEN, "other/"),
]


def limited(size):
    """A child's set-up: SIGXFSZ ignored, which wavwiden.exe cannot do, its files limited."""
    def limit():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        if size:
            resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
    return limit


def as_user(prefix):
    return {"user": USER, "group": USER, "extra_groups": [],
            "env": dict(os.environ, WINEPREFIX=prefix, HOME=prefix)}


def proc(pid, name):
    try:
        with open(f"/proc/{pid}/{name}") as f:
            return f.read()
    except OSError:
        return ""


class Run:
    """A row's run in folder: the name it writes, its process, the readers holding the target."""

    def __init__(self, folder, setup, acts, prefix):
        kind, *words = setup.split()
        how = dict(word.partition("=")[::2] for word in words)
        self.folder, self.acts, self.prefix = folder, acts.split() or [""], "user" in how and prefix
        self.source, self.result = files(kind)
        self.name, self.holders, self.other = os.path.join(folder, "out.wav" if "out" in how else "in.wav"), [], None
        put(os.path.join(folder, "in.wav"), self.source)
        {"file": put, "folder": os.mkdir}.get(how.get("out"), lambda _: None)(self.name)
        if self.prefix:
            for path, mode in zip((folder, os.path.join(folder, "in.wav")), how["user"].split("/")):
                os.chmod(path, int(mode, 8))
        if "held" in how:
            self.start([BIN, "in.wav", "NUL"], hold=True)
        self.process = self.start([BIN, "in.wav", os.path.basename(self.name), "0"],
                                  "cap" in how and int(how["cap"] or CAP), "flush" in acts and STOP)

    def start(self, command, cap=None, preload="", hold=False):
        """Starts command; one that holds waits on its standard output, unread."""
        how = as_user(self.prefix) if self.prefix else {"env": dict(os.environ)}
        how["env"]["LD_PRELOAD"] = preload or ""
        process = subprocess.Popen(WRAPPER + command, cwd=self.folder, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   preexec_fn=limited(cap), **how)
        if hold:
            self.holders.append(process)
            select.select([process.stdout], [], [], 60)
        return process

    def act(self):
        ACTS[self.acts[1]](self)
        self.other = read(self.name)
        return True

    def finish(self):
        """Acts when the row says, then waits out wine's server; whether it acted, the status, standard error."""
        p, when, ended, stops = self.process, self.acts[0], [], 0
        acted = when == "" or when == "read" and bool(select.select([p.stdout], [], [], 60)[0]) and self.act()
        while when == "made" and not acted and os.read(p.stdout.fileno(), 4096):
            acted = bool(hidden(self.folder)) and self.act()
        drain = threading.Thread(target=lambda: ended.append(p.communicate(timeout=120)))
        drain.start()
        while (state := proc(p.pid, "stat").rpartition(")")[2][1:2]) not in ("", "Z"):
            stops += state == "T"
            written = int((proc(p.pid, "io").split("wchar: ")[1:] or ["0"])[0].split()[0])
            if not acted and (state == "T" and ("flush", "flush2")[stops - 1:stops] == (when,) or
                              when == "copying" and written > len(self.result) + (1 << 20)):
                acted = self.act()
            if state == "T":
                with contextlib.suppress(ProcessLookupError):  # one the act has killed
                    os.kill(p.pid, signal.SIGCONT)
            elif when != "copying":
                time.sleep(0.001)
        drain.join()
        for holder in self.holders:
            holder.kill()
            holder.communicate()
        # Wine's server closes an ended process's files, and removes one deleted
        # while open, only once it has seen the process go, which may be after
        # the test has; Windows closes them before a process counts as ended.
        # The server does one thing at a time: a process started now and ended
        # has been served after that.
        self.start(["cmd", "/c", "exit"]).communicate(timeout=120)
        return acted, p.returncode, ended[0][1]


@unittest.skipUnless(BIN and WRAPPER, "needs WAVWIDEN_BIN and the wine wrapper")
class InPlace(unittest.TestCase):
    prefix = ""

    @classmethod
    def setUpClass(cls):
        """The user's own prefix, its server limited; services started now keep no row's pipes."""
        if not USER:
            return
        scratch = tempfile.mkdtemp()
        cls.addClassCleanup(shutil.rmtree, scratch)
        os.chmod(scratch, 0o755)
        cls.prefix = os.path.join(scratch, "prefix")
        os.mkdir(cls.prefix)
        shutil.chown(cls.prefix, USER, USER)
        cls.addClassCleanup(cls.server_end)
        for command, cap in ((["wineserver", "-p"], CAP), (WRAPPER + ["wineboot", "-i"], None)):
            subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           preexec_fn=limited(cap), check=True, timeout=300, **as_user(cls.prefix))

    @classmethod
    def server_end(cls):
        for flag in ("-k", "-w"):
            subprocess.run(["wineserver", flag], timeout=60, **as_user(cls.prefix))
        st = os.stat(cls.prefix)
        for server in glob.glob(f"/tmp/wine-*/server-{st.st_dev:x}-{st.st_ino:x}"):
            shutil.rmtree(os.path.dirname(server))

    def test_rows(self):
        for what, setup, acts, status, last, leaves in ROWS:
            with self.subTest(what), tempfile.TemporaryDirectory() as scratch:
                if "user" in setup and not self.prefix or "flush" in acts and not STOP:
                    self.skipTest("needs root, WAVWIDEN_TEST_USER and the shim WAVWIDEN_WINE_STOP")
                os.chmod(scratch, 0o755)
                os.mkdir(os.path.join(scratch, "f"))
                run = Run(os.path.join(scratch, "f"), setup, acts, self.prefix)
                acted, got, err = run.finish()
                os.chmod(run.folder, 0o755)
                self.assertTrue(acted or "copying" in acts, f"the run never came to {acts}")
                if status is not None:
                    self.assertEqual(got, status, err)
                self.assertTrue(err.endswith(sjis(last.replace("%s", os.path.basename(run.name)))), err)
                holds = {"source": run.source, "result": run.result, "other": run.other}
                seen = [next((k for k, v in holds.items() if v == data), "another")
                        for data in [read(run.name)] + [read(h) for h in hidden(run.folder)]]
                self.assertTrue(any(name in ("*", seen[0]) and beside == "".join(seen[1:])
                                    for name, beside in (leave.split("/") for leave in leaves.split())),
                                f"{seen[0]}/{''.join(seen[1:])} left, not {leaves}")
                if "out" in setup:
                    self.assertEqual(read(os.path.join(run.folder, "in.wav")), run.source)


if __name__ == "__main__":
    unittest.main()
