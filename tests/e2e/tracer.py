"""A tracer of the project's own: runs the program under ptrace and stops it
at the entry of each of its system calls, where a test can act as another
user would (rename, rewrite, remove files) or make the call fail with an
error of its choosing. Calls are counted from the program's own first one
(setting SIGXFSZ aside), so that the dynamic loader's are left out, and up
to a coverage build's writing of its counts at exit. A run still going after
DEADLINE seconds is killed and reported as hung.
x86_64 Linux only."""
import ctypes
import os
import platform
import signal
import subprocess
import tempfile
import threading

from wavtest import BIN, WRAPPER

SUPPORTED = platform.machine() == "x86_64" and not WRAPPER
DEADLINE = 10

# The calls that take a name as their second argument, and those that take a
# descriptor as their first.
_NAMED = {"openat", "newfstatat", "unlinkat", "linkat", "renameat", "renameat2", "439"}
_ON_FILES = {"fsync", "fdatasync", "write", "sendfile", "ftruncate", "fallocate"}

# The calls the tests name, by number.
NAMES = {0: "read", 1: "write", 3: "close", 13: "rt_sigaction", 17: "pread64", 40: "sendfile",
         74: "fsync", 75: "fdatasync", 77: "ftruncate", 91: "fchmod", 93: "fchown",
         190: "fsetxattr", 257: "openat", 262: "newfstatat", 263: "unlinkat", 264: "renameat",
         265: "linkat", 285: "fallocate", 316: "renameat2"}

_libc = ctypes.CDLL(None, use_errno=True)
_libc.ptrace.restype = ctypes.c_long
_libc.ptrace.argtypes = [ctypes.c_long, ctypes.c_long, ctypes.c_void_p, ctypes.c_void_p]
_TRACEME, _GETREGS, _SETREGS, _SYSCALL, _SETOPTIONS = 0, 12, 13, 24, 0x4200
_TRACESYSGOOD, _EXITKILL = 1, 0x100000


class _Regs(ctypes.Structure):
    _fields_ = [(name, ctypes.c_ulonglong) for name in
                "r15 r14 r13 r12 rbp rbx r11 r10 r9 r8 rax rcx rdx rsi rdi orig_rax rip cs "
                "eflags rsp ss fs_base gs_base ds es fs gs".split()]


class Call:
    """One system call of the program: its place in the run, its process, its
    name (or number), its arguments, and once it returns, its result."""

    def __init__(self, index, regs, pid):
        self.index = index
        self.pid = pid
        self.name = NAMES.get(regs.orig_rax, str(regs.orig_rax))
        self.args = [regs.rdi, regs.rsi, regs.rdx, regs.r10, regs.r8, regs.r9]
        self.result = None
        self.text = None  # the name a call on names is given first
        self.path = None  # what the descriptor a call gives or takes leads to
        self.file = None  # the device and inode of the file an open gave


class Traced:
    def __init__(self, status, stdout, stderr, calls, hung):
        self.status = status  # the exit status, or minus the signal that ended it
        self.stdout = stdout
        self.stderr = stderr
        self.calls = calls    # every Call of the program's, in order
        self.hung = hung      # killed at the deadline


def _text(memory, address):
    """The string at address in the program's memory."""
    text = b""
    while b"\0" not in text:
        piece = os.pread(memory, 4096 - address % 4096, address)
        if not piece:
            break
        text += piece
        address += len(piece)
    return text.split(b"\0")[0]


def _fd_path(pid, fd):
    try:
        return os.readlink(f"/proc/{pid}/fd/{fd}")
    except OSError:
        return None


def _fd_file(pid, fd):
    try:
        st = os.stat(f"/proc/{pid}/fd/{fd}")
        return st.st_dev, st.st_ino
    except OSError:
        return None


def _ptrace(request, pid, data=0):
    if _libc.ptrace(request, pid, None, ctypes.c_void_p(data)) < 0:
        raise OSError(ctypes.get_errno(), "ptrace")


def trace(args, cwd, at_entry=None, user=None, env=None):
    """Runs the program with args in cwd, standard input empty and both
    streams captured apart. at_entry(call) runs at the entry of each of the
    program's calls, the program stopped; it returns None, or an errno value
    that the call then fails with instead of being made."""
    ids = {} if user is None else {"user": user, "group": user, "extra_groups": []}
    # The leak checker cannot run under a tracer.
    env = dict(os.environ if env is None else env)
    env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.Popen([BIN] + list(args), cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=err, **ids,
                                   preexec_fn=lambda: _ptrace(_TRACEME, 0))
        pid, calls, call, failing, counting, entering, deliver = process.pid, [], None, None, False, True, 0
        os.waitpid(pid, 0)  # stopped by its exec
        _ptrace(_SETOPTIONS, pid, _TRACESYSGOOD | _EXITKILL)
        memory = os.open(f"/proc/{pid}/mem", os.O_RDONLY)
        hung = []
        deadline = threading.Timer(DEADLINE, lambda: hung.append(os.kill(pid, signal.SIGKILL)))
        deadline.start()
        while True:
            _ptrace(_SYSCALL, pid, deliver)
            deliver = 0
            _, status = os.waitpid(pid, 0)
            if os.WIFEXITED(status) or os.WIFSIGNALED(status):
                break
            if os.WSTOPSIG(status) != signal.SIGTRAP | 0x80:
                deliver = os.WSTOPSIG(status)  # a signal for the program: it gets it
                continue
            regs = _Regs()
            _ptrace(_GETREGS, pid, ctypes.addressof(regs))
            if entering:
                counting = counting or (regs.orig_rax == 13 and regs.rdi == signal.SIGXFSZ)
                call = Call(len(calls), regs, pid) if counting else None
                if call and call.name in _NAMED:
                    call.text = os.fsdecode(_text(memory, call.args[1]))
                    # A coverage build writing its counts at exit: the
                    # program's own calls are over.
                    counting = not call.text.endswith(".gcda")
                    call = call if counting else None
                if call:
                    calls.append(call)
                    if call.name in _ON_FILES:
                        call.path = _fd_path(pid, call.args[0])
                    failing = at_entry and at_entry(call)
                    if failing:
                        regs.orig_rax = 2**64 - 1  # no such call: the kernel makes none
                        _ptrace(_SETREGS, pid, ctypes.addressof(regs))
            elif call:
                if failing:
                    regs.rax = 2**64 - failing
                    _ptrace(_SETREGS, pid, ctypes.addressof(regs))
                call.result = regs.rax - 2**64 if regs.rax >= 2**63 else regs.rax
                if call.name == "openat" and call.result >= 0:
                    call.path = _fd_path(pid, call.result)
                    call.file = _fd_file(pid, call.result)
                failing = None
            entering = not entering
        deadline.cancel()
        os.close(memory)
        process.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        return Traced(process.returncode, out.read(), err.read(), calls, bool(hung))
