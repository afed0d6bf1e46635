"""Another user acting at the entry of the system calls of a run, and every
call failing in turn, under the project's own tracer (tracer.py), for a
plain run and each way of converting in place. Whatever happens the run ends
with 0 or 255, opens no file outside the folder for writing, changes none of
the other user's files, keeps the source under some name when it fails, and
reports success only with the whole result, made durable.

The default run acts at the calls that open, trade or sync files; with
WAVWIDEN_SLOW=1 (label slow) at every call, twice, and again and again."""
import collections
import ctypes
import errno
import multiprocessing
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

import tracer
from wavtest import (CHANGED, DATA_WRITE_ERROR, FAIL, IN_OPEN, NO_HEADER, OUT_OPEN, READ_AT,
                     READ_FAILED, SUCCESS, WRITE_FAILED, mono, out, ramp, stereo, stream)

SLOW = os.environ.get("WAVWIDEN_SLOW") == "1"
O_ACCMODE, O_TMPFILE, RENAME_EXCHANGE, AT_SYMLINK_NOFOLLOW = 3, 0o20000000, 2, 0x100
ACL = "system.posix_acl_access"
OWNER = 12345  # the source's owner and group, where the tests run as root
SUCCESS_START = stream(out(SUCCESS.split("[")[0]), "out")
# The last line of a failure, as patterns.
FAILURES = [re.compile(re.escape(text.encode("cp932").strip(b"\n")).replace(b"%s", b".*")
                       .replace(b"%d", rb"-?\d+"))
            for text in (IN_OPEN, READ_AT, READ_FAILED, CHANGED, OUT_OPEN, NO_HEADER, WRITE_FAILED,
                         DATA_WRITE_ERROR)]
_libc = ctypes.CDLL(None, use_errno=True)


def tmpfile_fails(error):
    return lambda c: error if c.name == "openat" and c.args[2] & O_TMPFILE else None


# Each way of running: its output's name, and the call made to fail for the
# whole run that brings it about.
MODES = {
    "plain": ("out.wav", lambda c: None),
    "unnamed new file": ("in.wav", lambda c: None),
    "hidden new file, owner not kept": ("in.wav", lambda c: errno.EPERM if c.name == "fchown"
                                        else tmpfile_fails(errno.EOPNOTSUPP)(c)),
    "renamed over": ("in.wav", lambda c: errno.EINVAL if c.name == "renameat2" and
                     c.args[4] & RENAME_EXCHANGE else None),
    "copied over": ("in.wav", lambda c: errno.EPERM if c.name == "renameat2" and
                    c.args[4] & RENAME_EXCHANGE else None),
    "overwritten": ("in.wav", tmpfile_fails(errno.EACCES)),
}
WRITTEN_OVER = ("copied over", "overwritten")
# The calls the default run acts at.
LOOKS = {"openat", "renameat2", "renameat", "linkat", "unlinkat", "fsync", "439", "pread64", "fallocate"}
# The calls made to fail, with the errors: the result they must give (FAIL,
# 0, or None for either), and for a failed open, a message other than that
# the input changed.
FAILING = {name: [(errno.EIO, None)] for name in
           ("openat", "read", "pread64", "write", "ftruncate", "fchown", "fchmod", "fsetxattr",
            "linkat", "renameat2", "unlinkat", "sendfile", "close")}
FAILING.update({name: [(errno.EIO, FAIL), (errno.ENOSPC, FAIL)] for name in
                ("fsync", "fdatasync", "fallocate")})
FAILING["openat"].append((errno.EMFILE, None))
for name in ("fchmod", "fsetxattr"):  # what a file system cannot hold
    FAILING[name] += [(errno.ENOSYS, 0), (errno.EOPNOTSUPP, 0)]


class Scene:
    """A folder another user may write, holding the source (and for a plain
    run an old output), a root-only file outside it that a link in the folder
    leads to, and what the other user has done."""

    def __init__(self, root, output, acl):
        self.folder = os.path.join(root, "f")
        os.mkdir(self.folder)
        self.secret = os.path.join(root, "secret")
        with open(self.secret, "wb") as f:
            f.write(b"root only")
        os.chmod(self.secret, 0o600)
        self.link = os.path.join(self.folder, ".link")
        os.symlink(self.secret, self.link)
        self.samples = [ramp(400, 7)]
        self.contents = [mono(self.samples[0])]
        source = os.path.join(self.folder, "in.wav")
        with open(source, "wb") as f:
            f.write(self.contents[0])
        if acl:  # an access list to carry over
            os.setxattr(source, ACL, acl)
        if os.geteuid() == 0:  # another user's, with set-id bits to keep only with the owner
            os.chown(source, OWNER, OWNER)
            os.chmod(source, 0o6755)
        self.output = os.path.join(self.folder, output)
        if output != "in.wav":
            with open(self.output, "wb") as f:
                f.write(b"an old output")
        self.fd = os.open(source, os.O_RDWR)
        st = os.fstat(self.fd)
        self.times = (st.st_atime_ns, st.st_mtime_ns)
        self.made = time.monotonic()
        self.failed_at = None     # the call made to fail
        self.theirs = {}          # the other user's files: inode -> bytes
        self.acts = []            # the calls acted at
        self.source_gone = False  # the other user removed the source's name
        self.changed = False      # the other user changed the source

    def look(self):
        """Notes what the folder holds after the run, and the root-only file:
        every regular file's bytes and every name's inode."""
        self.files, self.inodes, self.modes = {}, {}, {}
        for name in os.listdir(self.folder):
            path = os.path.join(self.folder, name)
            st = os.lstat(path)
            self.inodes[name], self.modes[name] = st.st_ino, (st.st_mode & 0o7777, st.st_uid)
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, "rb") as f:
                    self.files[name] = f.read()
        with open(self.secret, "rb") as f:
            self.secret_bytes = f.read()
        os.close(self.fd)


def run_job(job):
    """One run of a mode in a folder of its own, with the other user acting
    at the calls of plan (index -> action) and, where failing is (name, n,
    error), the n-th call of that name failing with error, counted as strace
    counts them (so that what a coverage build does at exit moves nothing);
    returns the scene, looked at, and the run. Runs in a worker process: each
    worker traces one run at a time."""
    mode, plan, failing, acl = job
    root = tempfile.mkdtemp()
    try:
        scene = Scene(root, MODES[mode][0], acl)
        steer = MODES[mode][1]
        seen = collections.Counter()

        def at_entry(call):
            if call.index in plan:
                scene.acts.append(call.index)
                ACTIONS[plan[call.index]](scene, call)
            seen[call.name] += 1
            if failing and (call.name, seen[call.name]) == failing[:2]:
                scene.failed_at = call.index
                return failing[2]
            return steer(call)

        run = tracer.trace(["f/in.wav", "f/" + os.path.basename(scene.output)], root, at_entry)
        scene.look()
        return scene, run
    finally:
        shutil.rmtree(root)


def run_jobs(jobs):
    """Runs the jobs, as many at once as there are processors."""
    with multiprocessing.get_context("fork").Pool(os.cpu_count()) as pool:
        return pool.map(run_job, jobs, chunksize=4)


def rewrite(scene, samples):
    """The source rewritten in place with samples, its times put back; a
    clock tick after it was made, so that its change time moves."""
    time.sleep(max(0, scene.made + 0.01 - time.monotonic()))
    data = mono(samples)
    os.ftruncate(scene.fd, 0)
    os.pwrite(scene.fd, data, 0)
    os.utime(scene.fd, ns=scene.times)
    scene.samples.append(samples)
    scene.contents.append(data)
    scene.changed = True


def act_exchange(scene, call):
    _libc.renameat2(-100, os.fsencode(scene.output), -100, os.fsencode(scene.link), RENAME_EXCHANGE)


def act_rename_over(scene, call):
    path = os.path.join(scene.folder, ".theirs%d" % len(scene.theirs))
    data = b"another user's file %d" % len(scene.theirs)
    with open(path, "wb") as f:
        f.write(data)
    scene.theirs[os.stat(path).st_ino] = data
    os.rename(path, scene.output)
    scene.source_gone = scene.source_gone or scene.output.endswith("in.wav")


def act_remove(scene, call):
    try:
        os.unlink(scene.output)
        scene.source_gone = scene.source_gone or scene.output.endswith("in.wav")
    except FileNotFoundError:
        pass


# What the other user does: the output's name exchanged with a link to a
# root-only file, another file renamed over it, the name removed; the source
# rewritten at the same size, or one sample longer, its times put back; and a
# terminating signal.
ACTIONS = {
    "exchange with a link": act_exchange,
    "rename over": act_rename_over,
    "remove": act_remove,
    "rewrite": lambda scene, call: rewrite(scene, ramp(400, 11 + 2 * len(scene.samples))),
    "grow": lambda scene, call: rewrite(scene, ramp(402, 11 + 2 * len(scene.samples))),
    "terminate": lambda scene, call: os.kill(call.pid, signal.SIGTERM),
}


def look_index(calls, output):
    """The call that looks at the output's name: what it finds is, for the
    run, the output."""
    return next((c.index for c in calls if c.name == "newfstatat" and c.text == output and
                 c.args[3] & AT_SYMLINK_NOFOLLOW), -1)


def commit_index(calls):
    """The first call at which the other user's acts can no longer be seen:
    the exchange of names, or the rename over the target; else, to write over the source, the call after the
    check of the target opened for writing; else the last open for writing."""
    exchanged = [c.index for c in calls if c.result == 0 and (c.name == "renameat" or
                 c.name == "renameat2" and c.args[4] & RENAME_EXCHANGE)]
    if exchanged:
        return exchanged[0]
    reserved = [c.index for c in calls if c.name == "fallocate"] + [len(calls)]
    opened = [c.index for c in calls if c.name == "openat" and c.path and "/f/" in c.path and
              c.args[2] & O_ACCMODE and c.index < reserved[0]]
    if not opened:
        return len(calls)
    return opened[-1] + 2 if reserved[0] < len(calls) else opened[-1]


def access_list():
    """An access list that lets the user nobody read, where setfacl can make
    one, for sources that carry one over."""
    with tempfile.NamedTemporaryFile() as probe:
        if shutil.which("setfacl") and not subprocess.run(["setfacl", "-m", "u:65534:r", probe.name]).returncode:
            return os.getxattr(probe.name, ACL)
    return None


@unittest.skipUnless(tracer.SUPPORTED, "the tracer needs the program native on x86_64 Linux")
class Traced(unittest.TestCase):
    maxDiff = None

    def clean_calls(self, mode, acl=None):
        """The calls of a run of mode left alone, which must have made every
        file it changed durable before it reported success."""
        scene, run = run_job((mode, {}, None, acl))
        self.assertEqual(run.status, 0, run.stderr)
        if os.geteuid() == 0 and mode != "plain":  # the set-id bits go where the owner could not
            kept = "owner not kept" not in mode
            self.assertEqual(scene.modes["in.wav"], (0o6755 if kept else 0o755, OWNER if kept else 0))
        synced = [c for c in run.calls if c.name == "fsync"]
        if mode in WRITTEN_OVER:
            last = max(c.index for c in run.calls if c.name in ("write", "sendfile") and
                       c.path and c.path.endswith("/f/in.wav"))
            self.assertTrue([c for c in synced if c.index > last and c.path.endswith("/f/in.wav")])
        elif mode != "plain":
            commit = commit_index(run.calls)
            self.assertTrue([c for c in synced if c.index < commit and "/f/" in c.path])
            self.assertTrue([c for c in synced if c.index > commit and c.path.endswith("/f")])
        return run.calls

    def check_acted(self, mode, plan, scene, run):
        results = [stereo(s) for s in scene.samples]
        files = scene.files
        terminated = run.status == -signal.SIGTERM and "terminate" in plan.values()
        self.assertTrue(run.status in (0, FAIL) or terminated, run.status)
        output = os.path.basename(scene.output)
        if scene.acts and scene.acts[0] <= look_index(run.calls, output):
            return  # acts before the run looked made the folder it started from
        self.assertEqual(scene.secret_bytes, b"root only")
        self.assertFalse([c for c in run.calls if c.name == "openat" and c.path == scene.secret and
                          c.args[2] & O_ACCMODE], "the root-only file was opened for writing")
        for name, inode in scene.inodes.items():
            if inode in scene.theirs:
                self.assertEqual(files[name], scene.theirs[inode], name)
        late = {plan[k] for k in scene.acts if k >= commit_index(run.calls)}
        # Written over, the source is the result in the making: what happens
        # to it then is the run's.
        written = output == "in.wav" and mode in WRITTEN_OVER and late
        if terminated:  # nothing left beside the names, the source whole or replaced
            self.assertFalse([name for name in files if name.startswith(".wavwiden-")])
            if not written and not scene.source_gone:
                self.assertTrue(set(files.values()) &
                                set(scene.contents + (results if output == "in.wav" else [])))
        elif run.status == 0:
            if not late:
                self.assertIn(files.get(output), results, "the result is not under its name")
                if output == "in.wav" and scene.changed:
                    self.assertEqual(files.get(output), results[-1], "a change was lost")
            elif late == {"exchange with a link"}:
                self.assertTrue(set(files.values()) & set(results), "no whole result")
        else:
            self.assertNotIn(SUCCESS_START, run.stdout)
            if not scene.source_gone and not written:
                self.assertTrue(set(files.values()) & set(scene.contents), "the source is gone")
            traded = [c for c in run.calls if c.name == "renameat2" and c.result == 0]
            if traded and set(plan.values()) == {"exchange with a link"}:
                # Traded back, the new file stays: no name is removed.
                self.assertTrue(set(files.values()) & set(results), "the new file is gone")

    def test_another_user_acting_at_every_call(self):
        jobs = []
        for mode in MODES:
            calls = self.clean_calls(mode)
            at = [c.index for c in calls if SLOW or c.name in LOOKS]
            plans = [{k: action} for k in at for action in ACTIONS]
            # Each exchange of names met by another exchange, at once and at
            # the trade back.
            plans += [{k: "exchange with a link", k + d: "exchange with a link"}
                      for k in at if calls[k].name == "renameat2" for d in (1, 2)]
            if SLOW:
                # A second act at a later call, and the same act again and
                # again: at every p-th call from the k-th on, from the calls
                # that open, trade or sync files.
                looks = [c.index for c in calls if c.name in LOOKS]
                plans += [{k: a, k + d: b} for k in looks for d in (1, 2, 3, 8) for a in ACTIONS
                          for b in ("exchange with a link", "rewrite")]
                plans += [{i: a for i in range(k, len(calls), p)} for k in looks for p in (1, 4)
                          for a in ACTIONS if a != "terminate"]
            jobs += [(mode, plan, None, None) for plan in plans]
        for (mode, plan, _, _), (scene, run) in zip(jobs, run_jobs(jobs)):
            with self.subTest(mode=mode, plan=plan):
                self.check_acted(mode, plan, scene, run)

    def test_every_call_failing_in_turn(self):
        acl = access_list()
        jobs, facts = [], []
        for mode in MODES:
            clean = self.clean_calls(mode, acl)
            # Written over, the source is the result in the making once its
            # room is reserved and its size set.
            written = max([c.index for c in clean if c.name == "ftruncate" and mode in WRITTEN_OVER],
                          default=len(clean))
            seen = collections.Counter()
            for failed in clean:
                seen[failed.name] += 1
                for error, expected in FAILING.get(failed.name, []):
                    jobs.append((mode, {}, (failed.name, seen[failed.name], error), acl))
                    facts.append((expected, commit_index(clean), written))
        for (mode, _, (name, n, error), _), fact, (scene, run) in zip(jobs, facts, run_jobs(jobs)):
            with self.subTest(mode=mode, name=name, n=n, error=errno.errorcode[error]):
                self.check_failed(scene, run, name, error, *fact)

    def check_failed(self, scene, run, name, error, expected, commit, written):
        output = os.path.basename(scene.output)
        files = scene.files
        names = {"in.wav", output}
        self.assertIn(run.status, (0, FAIL) if expected is None else (expected,), run.stderr)
        if run.status == 0:
            self.assertEqual(files[output], stereo(scene.samples[0]))
            left = set(files) - names
            self.assertTrue(not left or name == "unlinkat", left)
            return
        self.assertNotIn(SUCCESS_START, run.stdout)
        last = run.stderr.rstrip(b"\n").split(b"\n")[-1]
        self.assertTrue(any(f.fullmatch(last) for f in FAILURES), run.stderr)
        if error == errno.EMFILE:
            self.assertFalse(FAILURES[3].fullmatch(last), "out of descriptors, not a change")
        self.assertEqual(set(files), names)
        failed = len(run.calls) if scene.failed_at is None else scene.failed_at
        if failed > written:
            return
        if output == "in.wav" and failed > commit:
            self.assertIn(files["in.wav"], [scene.contents[0], stereo(scene.samples[0])])
        else:
            self.assertEqual(files["in.wav"], scene.contents[0])


if __name__ == "__main__":
    unittest.main()
