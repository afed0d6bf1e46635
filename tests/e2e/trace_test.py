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
import stat
import subprocess
import tempfile
import time
import unittest

import tracer
from wavtest import (CHANGED, DATA_WRITE_ERROR, FAIL, IN_OPEN, NO_HEADER, OUT_OPEN, READ_AT,
                     READ_FAILED, SUCCESS, WRITE_FAILED, mono, out, ramp, stereo, stream)

SLOW = os.environ.get("WAVWIDEN_SLOW") == "1"
XFS = os.environ.get("WAVWIDEN_XFS") == "1"
O_ACCMODE, O_PATH, O_TMPFILE, RENAME_EXCHANGE, AT_SYMLINK_NOFOLLOW = 3, 0o10000000, 0o20000000, 2, 0x100
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
# whole run that brings it about. A plain run writes over an old output, or
# makes a new one.
MODES = {
    "plain": ("out.wav", lambda c: None),
    "plain, no output yet": ("new.wav", lambda c: None),
    "unnamed new file": ("in.wav", lambda c: None),
    "hidden new file": ("in.wav", tmpfile_fails(errno.EOPNOTSUPP)),
    "hidden new file, owner not kept": ("in.wav", lambda c: errno.EPERM if c.name == "fchown"
                                        else tmpfile_fails(errno.EOPNOTSUPP)(c)),
    "renamed over": ("in.wav", lambda c: errno.EINVAL if c.name == "renameat2" and
                     c.args[4] & RENAME_EXCHANGE else None),
    "copied over": ("in.wav", lambda c: errno.EPERM if c.name == "renameat2" and
                    c.args[4] & RENAME_EXCHANGE else None),
    "overwritten": ("in.wav", tmpfile_fails(errno.EACCES)),
}
COPIED_OVER = ("hidden new file, owner not kept", "copied over")
WRITTEN_OVER = COPIED_OVER + ("overwritten",)
# The calls the default run acts at: those that open, trade, check or sync
# files (a check being a look at a name).
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
    """A folder f another user may write, holding the source (and for a plain
    run an old output); root-only files outside it, one of them in a folder
    g under each name the run uses; and what the other user has done: the
    files of theirs (links, pipes and folders included) under the names they
    last gave them."""

    def __init__(self, root, output, acl):
        self.root = root
        self.folder = os.path.join(root, "f")
        os.mkdir(self.folder)
        self.secret = os.path.join(root, "secret")
        self.elsewhere = os.path.join(root, "g")
        os.mkdir(self.elsewhere)
        self.root_only = {}  # path -> (device, inode)
        for path in (self.secret, os.path.join(self.elsewhere, "in.wav"),
                     os.path.join(self.elsewhere, output)):
            with open(path, "wb") as f:
                f.write(b"root only")
            os.chmod(path, 0o600)
            st = os.stat(path)
            self.root_only[path] = (st.st_dev, st.st_ino)
        self.theirs = {}  # path -> (inode, what it holds: bytes, "-> target", "fifo", "folder")
        self.link = os.path.join(self.folder, ".link")
        self.put(self.link, "link to a root-only file")
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
        if output == "out.wav":
            with open(self.output, "wb") as f:
                f.write(b"an old output")
        self.names = {"source": source, "output": self.output, "folder": self.folder}
        self.folder_inode = os.stat(self.folder).st_ino
        self.fd = os.open(source, os.O_RDWR)
        st = os.fstat(self.fd)
        self.times = (st.st_atime_ns, st.st_mtime_ns)
        self.made = time.monotonic()
        self.failed_at = None     # the call made to fail
        self.acts = []            # the calls acted at
        self.changed = False      # the other user changed the source

    def put(self, path, what):
        """Puts what the other user makes under path, and notes it as theirs."""
        made = len(self.theirs)
        if what == "another file":
            with open(path, "wb") as f:
                f.write(b"another user's file %d" % made)
        elif what == "removed":
            return
        else:
            {"link to a root-only file": lambda: os.symlink(self.secret, path),
             "link to a folder of root-only files": lambda: os.symlink(self.elsewhere, path),
             "hard link to a root-only file": lambda: os.link(self.secret, path),
             "FIFO": lambda: os.mkfifo(path),
             "folder": lambda: os.mkdir(path)}[what]()
        self.theirs[path] = (os.lstat(path).st_ino, self.holds(path))

    def holds(self, path):
        """What path holds, as theirs are noted."""
        st = os.lstat(path)
        if stat.S_ISLNK(st.st_mode):
            return "-> " + os.readlink(path)
        if stat.S_ISREG(st.st_mode):
            with open(path, "rb") as f:
                return f.read()
        return "fifo" if stat.S_ISFIFO(st.st_mode) else "folder"

    def mine(self, path):
        """The files of theirs that path holds, as (name, where it goes if
        path is renamed) pairs, the link and the output trading places."""
        there = os.lstat(path).st_ino if os.path.lexists(path) else None
        other = {self.output: self.link, self.link: self.output}.get(path)
        return [(name, (other or "") + name[len(path):]) for name in self.theirs
                if name == path and self.theirs[name][0] == there or name.startswith(path + "/")]

    def move(self, path, to):
        """Renames path (the files of theirs in it too) to to."""
        mine = self.mine(path)
        os.rename(path, to)
        for name, _ in mine:
            self.theirs[to + name[len(path):]] = self.theirs.pop(name)

    def home(self):
        """The folder the run started in, wherever it is now."""
        for name in os.listdir(self.root):
            path = os.path.join(self.root, name)
            if os.lstat(path).st_ino == self.folder_inode:
                return path
        return self.folder

    def look(self):
        """Notes what the run's folder holds after the run: every regular
        file's bytes and every name's mode and owner; which files of theirs
        are not where they put them; and the root-only files."""
        self.files, self.modes = {}, {}
        home = self.home()
        for name in os.listdir(home):
            path = os.path.join(home, name)
            st = os.lstat(path)
            self.modes[name] = (st.st_mode & 0o7777, st.st_uid, st.st_gid)
            if stat.S_ISREG(st.st_mode):
                with open(path, "rb") as f:
                    self.files[name] = f.read()
        self.lost = [path for path, (inode, what) in self.theirs.items()
                     if not os.path.lexists(path) or os.lstat(path).st_ino != inode or
                     self.holds(path) != what]
        self.root_only_bytes = set()
        for path in self.root_only:
            with open(path, "rb") as f:
                self.root_only_bytes.add(f.read())
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
    mine = scene.mine(scene.output) + scene.mine(scene.link)
    if not _libc.renameat2(-100, os.fsencode(scene.output), -100, os.fsencode(scene.link),
                           RENAME_EXCHANGE):
        for path, other in mine:
            scene.theirs[other] = scene.theirs.pop(path)


def substitute(target, what):
    """The entry of target renamed away, and what the other user makes put
    in its place; the new file's hidden name only while it has one."""
    def act(scene, call):
        if target == "hidden":
            home = scene.home()
            names = [os.path.join(home, n) for n in sorted(os.listdir(home)) if n.startswith(".wavwiden-")]
            names = [n for n in names if n not in scene.theirs]
            if not names:
                return
            path = names[0]
        else:
            path = scene.names[target]
        if os.path.lexists(path):
            scene.move(path, os.path.join(os.path.dirname(path), ".away%d" % len(scene.acts)))
        scene.put(path, what)
    return act


# What the other user does: the output's name exchanged with a link to a
# root-only file; the source rewritten at the same size, or one sample
# longer, its times put back; a terminating signal; and each name the run is
# given, each folder on their paths and the new file's hidden name replaced
# by another entry, or removed.
ACTIONS = {
    "exchange with a link": act_exchange,
    "rewrite": lambda scene, call: rewrite(scene, ramp(400, 11 + 2 * len(scene.samples))),
    "grow": lambda scene, call: rewrite(scene, ramp(402, 11 + 2 * len(scene.samples))),
    "terminate": lambda scene, call: os.kill(call.pid, signal.SIGTERM),
}
TARGET_OF = dict.fromkeys(ACTIONS, "output")
# What takes a file's name, and what takes a folder's.
SUBSTITUTES = {"link to a root-only file", "hard link to a root-only file", "FIFO", "folder",
               "another file", "removed"}
FOLDER_SUBSTITUTES = {"link to a folder of root-only files", "folder", "another file", "removed"}
# What the default run puts under each: at a hidden name, a link or a pipe
# does what any other file of theirs does.
DEFAULT_SUBSTITUTES = {"source": SUBSTITUTES, "output": SUBSTITUTES, "folder": FOLDER_SUBSTITUTES,
                       "hidden": {"another file", "folder", "removed"}}
for target in ("source", "output", "folder", "hidden"):
    for what in sorted(FOLDER_SUBSTITUTES if target == "folder" else SUBSTITUTES):
        ACTIONS[f"{target}: {what}"] = substitute(target, what)
        TARGET_OF[f"{target}: {what}"] = target


def look_indexes(calls, output):
    """The call at which the run looks at each name it is given: the first
    open of the folder, the look at the source's entry and at the output's.
    What the other user does there or before makes what the run starts from."""
    def first(test):
        return next((c.index for c in calls if test(c)), -1)

    def entry(name):
        return first(lambda c: c.name == "newfstatat" and c.text == name and c.args[3] & AT_SYMLINK_NOFOLLOW)
    return {"folder": first(lambda c: c.name == "openat" and c.text == "f"), "source": entry("in.wav"),
            "output": entry(output), "hidden": -1}


def admitted(calls, k, action):
    """Whether an act comes in a window no program can close, which the
    README names: on the hidden name right between the run's look at it and
    the call that removes it; between the look at the target and the rename
    over it; or right after the exchange, before the run has looked at both
    names and traded them back if need be (what it finds is exchanged back)."""
    call, before = calls[k], [c for c in calls[:k] if c.name in ("renameat2", "renameat")]
    exchanged = [c.index for c in before if c.name == "renameat2" and c.result == 0]
    return (TARGET_OF[action] == "hidden" and call.name == "unlinkat" and
            (call.text or "").startswith(".wavwiden-") or
            bool(before) and before[-1].result != 0 and call.name != "renameat2" and
            any(c.name == "renameat" for c in calls[k:]) or
            bool(exchanged) and all(c.name in ("newfstatat", "renameat2") for c in calls[exchanged[-1] + 1:k + 1]))


def commit_index(calls):
    """The first call at which the other user's acts can no longer be seen:
    the exchange of names, or the rename over the target; else, to write
    over the source, the call after the last check before its room is
    reserved; else the last open for writing."""
    exchanged = [c.index for c in calls if c.result == 0 and (c.name == "renameat" or
                 c.name == "renameat2" and c.args[4] & RENAME_EXCHANGE)]
    if exchanged:
        return exchanged[0]
    reserved = [c.index for c in calls if c.name == "fallocate"]
    if reserved:
        return max(c.index for c in calls[:reserved[0]] if c.name == "newfstatat") + 1
    opened = [c.index for c in calls if c.name == "openat" and c.path and "/f/" in c.path and
              c.args[2] & O_ACCMODE]
    if not opened:
        return len(calls)
    # A file opened anew through /proc was taken before, as a path alone.
    if not (calls[opened[-1]].text or "").startswith("/proc/"):
        return opened[-1]
    return max(c.index for c in calls[:opened[-1]] if c.name == "openat" and c.args[2] & O_PATH)


def hidden_calls(calls):
    """The calls from the one that gives the new file its hidden name to the
    last on that name."""
    named = [c.index for c in calls if c.name == "linkat" or (c.text or "").startswith(".wavwiden-")]
    return range(named[0], named[-1] + 1) if named else range(0)


def diverging(calls, first):
    """The first call at which a run's calls leave those of the first run of
    its kind (in place or not), up to which both runs are one."""
    pairs = zip(((c.name, c.text) for c in calls), ((c.name, c.text) for c in first))
    return 0 if calls is first else next((k for k, (a, b) in enumerate(pairs) if a != b), len(calls))


def last_line(run):
    """The last line the run printed on standard error."""
    return run.stderr.rstrip(b"\n").split(b"\n")[-1]


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
        file it changed durable before it reported success, in order, and
        given the result the source's owner and group."""
        scene, run = run_job((mode, {}, None, acl))
        self.assertEqual(run.status, 0, run.stderr)
        if os.geteuid() == 0 and MODES[mode][0] == "in.wav":
            self.assertEqual(scene.modes["in.wav"], (0o6755, OWNER, OWNER))
        synced = [c.index for c in run.calls if c.name == "fsync"]
        into = lambda c: c.path and "/f/" in c.path
        hidden = hidden_calls(run.calls)

        def first(test, after=-1):
            return next((c.index for c in run.calls if c.index > after and test(c)), len(run.calls))
        if mode in WRITTEN_OVER:
            last = max(c.index for c in run.calls if c.name in ("write", "sendfile") and
                       c.path and c.path.endswith("/f/in.wav"))
            synced_at = first(lambda c: c.name == "fsync" and c.path.endswith("/f/in.wav"), last)
            self.assertLess(synced_at, len(run.calls), "the source written over, not synced")
            if mode in COPIED_OVER:  # the result under its hidden name until then
                self.assertTrue(hidden.start < last < synced_at < hidden.stop - 1)
        elif MODES[mode][0] == "in.wav":
            commit = commit_index(run.calls)
            self.assertTrue([k for k in synced if k < commit and into(run.calls[k])])
            folder = first(lambda c: c.name == "fsync" and c.path.endswith("/f"), commit)
            confirmed = first(lambda c: c.name == "fsync" and into(c), folder)
            self.assertLess(confirmed, len(run.calls), "the folder, then the new file, not synced")
            if run.calls[commit].name == "renameat2":  # the old file goes only then
                removed = first(lambda c: c.name == "unlinkat" and (c.text or "").startswith(".wavwiden-"))
                self.assertLess(confirmed, removed)
        return run.calls

    def check_message(self, run):
        """A failure's message, from the README's list, last."""
        self.assertNotIn(SUCCESS_START, run.stdout)
        self.assertTrue(any(f.fullmatch(last_line(run)) for f in FAILURES), run.stderr)

    def check_acted(self, mode, plan, scene, run):
        results = [stereo(s) for s in scene.samples]
        files = scene.files
        self.assertFalse(run.hung, "the run hung")
        terminated = run.status == -signal.SIGTERM and "terminate" in plan.values()
        self.assertTrue(run.status in (0, FAIL) or terminated, run.status)
        output = os.path.basename(scene.output)
        looks = look_indexes(run.calls, output)
        if [k for k in scene.acts if k <= looks[TARGET_OF[plan[k]]] or admitted(run.calls, k, plan[k])]:
            return  # acts before the run looked made what it started from
        self.assertEqual(scene.root_only_bytes, {b"root only"})
        self.assertFalse([c for c in run.calls if c.name == "openat" and c.args[2] & O_ACCMODE and
                          c.file in scene.root_only.values()], "a root-only file was opened for writing")
        self.assertFalse(scene.lost, "files of theirs moved or changed")
        late = {plan[k] for k in scene.acts if k >= commit_index(run.calls)}
        # Written over, the source is the result in the making: what happens
        # to it then is the run's.
        written = output == "in.wav" and mode in WRITTEN_OVER and late
        theirs = {os.path.basename(path) for path in scene.theirs}
        if terminated:  # nothing left beside the names, the source whole or replaced
            self.assertFalse([n for n in files if n.startswith(".wavwiden-") and n not in theirs])
            if not written:
                self.assertTrue(set(files.values()) &
                                set(scene.contents + (results if output == "in.wav" else [])))
        elif run.status == 0:
            if not late:
                self.assertIn(files.get(output), results, "the result is not under its name")
                if output == "in.wav" and scene.changed:
                    self.assertEqual(files.get(output), results[-1], "a change was lost")
                if output == "in.wav" and os.geteuid() == 0:
                    self.assertEqual(scene.modes[output][1:], (OWNER, OWNER), "the owner changed")
            elif not late & {"rewrite", "grow"}:
                self.assertTrue(set(files.values()) & set(results), "no whole result")
        else:
            self.check_message(run)
            if not written and not (late and mode == "renamed over"):  # renamed over, it is gone
                self.assertTrue(set(files.values()) & set(scene.contents), "the source is gone")
            traded = [c for c in run.calls if c.name == "renameat2" and c.result == 0]
            if traded and set(plan.values()) == {"exchange with a link"}:
                # Traded back, the new file stays: no name is removed.
                self.assertTrue(set(files.values()) & set(results), "the new file is gone")

    def test_another_user_acting_at_every_call(self):
        jobs, first = [], {}
        for mode in MODES:
            calls = self.clean_calls(mode)
            output = MODES[mode][0]
            looks, hidden = look_indexes(calls, output), hidden_calls(calls)
            # Another way of converting in place acts from where its calls
            # leave the first way's on.
            start = diverging(calls, first.setdefault(output == "in.wav", calls))
            at = [c.index for c in calls if SLOW or c.name in LOOKS]
            # A name is replaced only once the run has looked at it (before,
            # that makes what it starts from), the hidden name while it is;
            # by default at the calls that open that name, trade or sync, a
            # folder at its opens and the trade.
            actions = [a for a in ACTIONS if not (output == "in.wav" and a.startswith("output:"))]
            def substituting(action, k):
                """By default the substitutes of DEFAULT_SUBSTITUTES; at every
                call, one of each target's at each call, in turn."""
                target, what = action.split(": ")
                if not SLOW:
                    return what in DEFAULT_SUBSTITUTES[target]
                kinds = sorted(FOLDER_SUBSTITUTES if target == "folder" else SUBSTITUTES)
                return kinds.index(what) == k % len(kinds)

            def taking(name):
                return {c.index for c in calls if SLOW or c.name in LOOKS - {"pread64", "fallocate"} and
                        (c.name != "openat" or c.text == name)}
            calls_of = {"source": taking("in.wav"), "output": taking(output), "hidden": taking(None) | {
                c.index for c in calls if (c.text or "").startswith(".wavwiden-")}, "folder": {
                c.index for c in calls if SLOW or c.text == "f" or c.name in ("renameat2", "renameat", "unlinkat")}}
            plans = [{k: a} for k in at for a in actions if ":" not in a and k >= start or
                     ":" in a and k > looks[TARGET_OF[a]] and k in calls_of[TARGET_OF[a]] and
                     (k in hidden if TARGET_OF[a] == "hidden" else k >= start) and
                     substituting(a, k)]
            # Each exchange of names met by another exchange, at once and at
            # the trade back.
            plans += [{k: "exchange with a link", k + d: "exchange with a link"}
                      for k in at if calls[k].name == "renameat2" for d in (1, 2)]
            if SLOW:
                # A second act at a later call, and the same act again and
                # again: at every p-th call from the k-th on, from the calls
                # that open, trade or sync files.
                again = [c.index for c in calls if c.name in LOOKS and c.index >= start]
                plans += [{k: a, k + d: b} for k in again for d in (1, 2, 3, 8) for a in ACTIONS
                          for b in ("exchange with a link", "rewrite") if ":" not in a]
                plans += [{i: a for i in range(k, len(calls), p)} for k in again for p in (1, 4)
                          for a in actions if a != "terminate" and k > looks[TARGET_OF[a]] and
                          (":" not in a or substituting(a, k))]
            jobs += [(mode, plan, None, None) for plan in plans]
        for (mode, plan, _, _), (scene, run) in zip(jobs, run_jobs(jobs)):
            with self.subTest(mode=mode, plan=plan):
                self.check_acted(mode, plan, scene, run)

    def test_every_call_failing_in_turn(self):
        acl = access_list()
        jobs, facts, first = [], [], {}
        for mode in MODES:
            clean = self.clean_calls(mode, acl)
            # Another way of converting in place fails its calls from where
            # they leave the first way's on.
            start = diverging(clean, first.setdefault(MODES[mode][0] == "in.wav", clean))
            # Written over, the source is the result in the making once its
            # room is reserved and its size set.
            written = max([c.index for c in clean if c.name == "ftruncate" and mode in WRITTEN_OVER],
                          default=len(clean))
            seen = collections.Counter()
            for failed in clean:
                seen[failed.name] += 1
                # A file opened anew through /proc, where /proc is missing.
                missing = [(errno.ENOENT, None)] if (failed.text or "").startswith("/proc/") else []
                for error, expected in FAILING.get(failed.name, []) + missing if failed.index >= start else []:
                    jobs.append((mode, {}, (failed.name, seen[failed.name], error), acl))
                    facts.append((expected, commit_index(clean), written))
        for (mode, _, (name, n, error), _), fact, (scene, run) in zip(jobs, facts, run_jobs(jobs)):
            with self.subTest(mode=mode, name=name, n=n, error=errno.errorcode[error]):
                self.check_failed(mode, scene, run, name, error, *fact)

    def check_failed(self, mode, scene, run, name, error, expected, commit, written):
        output = os.path.basename(scene.output)
        files = scene.files
        names = {"in.wav", output}
        self.assertIn(run.status, (0, FAIL) if expected is None else (expected,), run.stderr)
        if run.status == 0:
            self.assertEqual(files[output], stereo(scene.samples[0]))
            left = set(files) - names
            self.assertTrue(not left or name == "unlinkat", left)
            return
        self.check_message(run)
        if error == errno.EMFILE:
            self.assertFalse(FAILURES[3].fullmatch(last_line(run)), "out of descriptors, not a change")
        # A failed commit may leave the source under the hidden name (after
        # the exchange), or the whole result (copied over the target).
        left = {n: files[n] for n in set(files) - names}
        self.assertIn("in.wav", files)
        failed = len(run.calls) if scene.failed_at is None else scene.failed_at
        kept = {scene.contents[0], stereo(scene.samples[0])}
        self.assertTrue(len(left) <= 1 and set(left.values()) <= kept and (not left or failed > commit),
                        left.keys())
        if failed > written:  # copied over, the whole result stays beside the target
            if mode in COPIED_OVER:
                self.assertEqual(list(left.values()), [stereo(scene.samples[0])])
            return
        if output == "in.wav" and failed > commit:
            self.assertIn(files["in.wav"], kept)
            if mode != "renamed over":  # after an exchange, under the hidden name
                self.assertIn(scene.contents[0], set(files.values()), "the source is gone")
        else:
            self.assertEqual(files["in.wav"], scene.contents[0])

    @unittest.skipUnless(XFS, "set WAVWIDEN_XFS=1 (the slow test e2e_xfs)")
    def test_file_system_shut_down_in_the_commit(self):
        # XFS shut down (as a disk error does) at the folder's sync, at the
        # sync that confirms the result, or right after the old file goes:
        # exit 0 only where, mounted again, the result is under the name.
        if os.geteuid() != 0 or not shutil.which("mkfs.xfs") or not shutil.which("xfs_io"):
            self.skipTest("needs root and xfsprogs (apt-get install xfsprogs) for a loop mount")
        work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, work)
        image, mount = os.path.join(work, "xfs.img"), os.path.join(work, "mnt")
        os.mkdir(mount)
        with open(image, "wb") as f:
            f.truncate(300 << 20)
        subprocess.run(["mkfs.xfs", "-q", image], check=True)
        points = {"the folder's sync": lambda c, before: c.name == "fsync" and c.path.endswith("/f"),
                  "the confirming sync": lambda c, before: c.name == "fsync" and before.name == "fsync" and
                  before.path.endswith("/f"),
                  "the call after the old file's removal": lambda c, before: before.name == "unlinkat"}
        samples = ramp(4000, 7)
        for point, meets in points.items():
            with self.subTest(point):
                if subprocess.run(["mount", "-o", "loop", image, mount]).returncode:
                    self.skipTest("no loop device to mount a file system on")
                folder = os.path.join(mount, "f")
                shutil.rmtree(folder, ignore_errors=True)
                os.mkdir(folder)
                with open(os.path.join(folder, "in.wav"), "wb") as f:
                    f.write(mono(samples))
                os.sync()
                calls = []

                def at_entry(call):
                    if calls and meets(call, calls[-1]) and not [c for c in calls if c.text == "shut"]:
                        subprocess.run(["xfs_io", "-x", "-c", "shutdown", mount], check=True)
                        call.text = "shut"
                    calls.append(call)

                run = tracer.trace(["f/in.wav", "f/in.wav"], mount, at_entry)
                subprocess.run(["umount", mount], check=True)
                subprocess.run(["mount", "-o", "loop", image, mount], check=True)
                with open(os.path.join(folder, "in.wav"), "rb") as f:
                    found = f.read()
                subprocess.run(["umount", mount], check=True)
                self.assertFalse(run.hung)
                self.assertIn(run.status, (0, FAIL), run.stderr)
                self.assertTrue([c for c in calls if c.text == "shut"], "never shut down")
                if run.status == 0:
                    self.assertEqual(found, stereo(samples), "exit 0, the result lost")
                else:
                    self.assertIn(found, (mono(samples), stereo(samples)))
                    self.check_message(run)


if __name__ == "__main__":
    unittest.main()
