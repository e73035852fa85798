"""Shared plumbing for the black-box tests: how to start the binary and
what its output should look like on the platform under test."""
import os
import pty
import re
import shlex
import subprocess
import unittest

TIMEOUT = 20  # a hang must fail the case, never block the run


class Config:
    binary = None          # absolute path of the built program
    runner = []            # e.g. ["wine"] for a Windows build
    crlf = False           # text-mode stdout/stderr: every "\n" leaves as "\r\n"
    loose_errno = False    # system error texts differ: check "base64: NAME: " only
    windows = False        # a Windows program: arguments are text, not bytes
    seed = None


CFG = Config()
HINT = b"Try `base64 --help' for more information.\n"
CLOSED = "closed"  # marker for stdin/stdout passed as a closed descriptor
WINDOWS_COMMAND_LINE = 32767  # characters, the program's name included


def configure(binary, runner="", crlf=False, loose_errno=False, seed=None, windows=False):
    CFG.binary = os.path.abspath(binary)
    CFG.runner = shlex.split(runner) if runner else []
    CFG.crlf = crlf
    CFG.loose_errno = loose_errno
    CFG.windows = windows
    CFG.seed = seed


def nl(data):
    """Bytes as the program's text-mode streams deliver them."""
    return data.replace(b"\n", b"\r\n") if CFG.crlf else data


def decodes(args):
    """Whether these arguments get the program as far as decoding, where
    standard output is switched to binary mode: the options up to the
    first operand hold -d, and neither help nor version ends the scan
    first. Malformed options write nothing to standard output, so they
    need no care here."""
    args = [os.fsdecode(a) if isinstance(a, bytes) else a for a in args]
    decode, i = False, 0
    while i < len(args):
        a = args[i]
        i += 1
        if a == "--" or a == "-" or not a.startswith("-"):
            break
        if a.startswith("--"):
            name, has_value = a[2:].partition("=")[0], "=" in a[2:]
            full = next((n for n in ("decode", "wrap", "ignore-garbage", "string", "help", "version")
                         if name and n.startswith(name)), "")
            if full in ("help", "version"):
                return False
            decode |= full == "decode"
            i += full in ("wrap", "string") and not has_value
            continue
        for j, c in enumerate(a[1:], 1):
            if c in "hv":
                return False
            decode |= c == "d"
            if c in "sw":
                i += j == len(a) - 1
                break
    return decode


def out_nl(args, data):
    """Standard output as the program delivers it: text, except decoded bytes."""
    return data if decodes(args) else nl(data)


def _windows_limits(cmd, text_args):
    """Cases that a Windows command line cannot carry are skipped."""
    if not text_args and any(not a.isascii() for a in cmd[len(CFG.runner) + 1:]):
        raise unittest.SkipTest("Windows hands a program its arguments as text in the ANSI code page, "
                                "so these bytes cannot reach it unchanged")
    if sum(len(a) + 3 for a in cmd[len(CFG.runner):]) > WINDOWS_COMMAND_LINE:
        raise unittest.SkipTest("a Windows command line holds at most %d characters" % WINDOWS_COMMAND_LINE)


def run(args, stdin=b"", stdout=None, cwd=None, env=None, timeout=TIMEOUT, text_args=False,
        stderr_terminal=False):
    """Run the binary; returns (status, stdout bytes, stderr bytes).

    stdin: bytes, a file object / descriptor, subprocess.DEVNULL, or CLOSED.
    stdout: None to capture, a file object, or CLOSED (stdout then b"").
    text_args: the arguments are text, and the case expects a Windows
    program to get them as such: Wine turns a UTF-8 argv into the wide
    command line, which it then hands over in the ANSI code page too.
    stderr_terminal: standard error is a terminal, and the stderr returned
    is the text it shows (see _shown). Wine gives a program whose stream is
    a terminal a console, which writes to it in the locale's character set."""
    cmd = CFG.runner + [CFG.binary] + [os.fsencode(a) if isinstance(a, str) else a for a in args]
    if CFG.windows:
        _windows_limits([os.fsencode(a) if isinstance(a, str) else a for a in cmd], text_args)
        if text_args:   # Wine reads argv in the locale's character set
            env = dict(os.environ if env is None else env, LC_ALL="C.UTF-8")
    return _run_once(cmd, args, stdin, stdout, cwd, env, timeout, stderr_terminal)


# Wine's console draws on a terminal: it hides and shows the cursor, and
# moves it right over blanks.
_CURSOR_RIGHT = re.compile(rb"\x1b\[(\d*)C")
_OTHER_CONTROL = re.compile(rb"\x1b\[[0-9;?]*[A-Za-z]|\r")


def _shown(data):
    """The text that a terminal shows for what was written to it."""
    data = _CURSOR_RIGHT.sub(lambda m: b" " * int(m.group(1) or 1), data)
    return _OTHER_CONTROL.sub(b"", data)


def _read_terminal(master):
    data = b""
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:     # EIO: every writer has closed the terminal
            break
        if not chunk:
            break
        data += chunk
    os.close(master)
    return data


def _run_once(cmd, args, stdin, stdout, cwd, env, timeout, stderr_terminal):
    closes = []
    if stdin is CLOSED:
        closes.append(0)
    if stdout is CLOSED:
        closes.append(1)
    pre = (lambda: [os.close(fd) for fd in closes]) if closes else None
    data = stdin if isinstance(stdin, bytes) else None
    master = terminal = None
    if stderr_terminal:
        master, terminal = pty.openpty()
    p = subprocess.Popen(cmd, cwd=cwd, env=env, preexec_fn=pre,
                         stdin=subprocess.PIPE if data is not None else
                         (subprocess.DEVNULL if stdin is CLOSED else stdin),
                         stdout=subprocess.PIPE if stdout in (None, CLOSED) else stdout,
                         stderr=subprocess.PIPE if terminal is None else terminal)
    if terminal is not None:
        os.close(terminal)
    try:
        out, err = p.communicate(data, timeout=timeout)
    except subprocess.TimeoutExpired:
        if master is not None:
            os.close(master)
        p.kill()
        try:
            p.communicate(timeout=5)
        except subprocess.TimeoutExpired:   # a process it started still holds the pipes
            pass
        raise AssertionError("timed out after %ss: %r" % (timeout, args))
    if master is not None:
        # A message is far smaller than what a terminal buffers.
        err = _shown(_read_terminal(master))
    return p.returncode, out or b"", err


class Case(unittest.TestCase):
    maxDiff = 2000

    def check(self, args, stdin=b"", out=b"", err=b"", status=0, msg=None, **kw):
        """Exact check of status, stdout and stderr (as the platform's
        text-mode streams deliver them)."""
        st, o, e = run(args, stdin, **kw)
        label = msg or repr(args)[:200]
        self.assertEqual(e, nl(err), label)
        # The output's length tells a failure that wrote nothing from one
        # that stopped part way.
        self.assertEqual(st, status, "%s (%d bytes of output)" % (label, len(o)))
        exp = out_nl(args, out)
        if o != exp:
            at = _diff_at(o, exp)
            self.fail("%s: stdout differs (got %d bytes, want %d); first difference at %d:\n got %r\nwant %r"
                      % (label, len(o), len(exp), at, o[max(at - 20, 0):at + 40], exp[max(at - 20, 0):at + 40]))
        return o

    def check_errno(self, args, stdin=b"", prefix=b"", sys_text=b"", status=1, out=b"", **kw):
        """A fatal_errno line: prefix ("base64: NAME: ") then the system text."""
        st, o, e = run(args, stdin, **kw)
        label = repr(args)[:200]
        if CFG.loose_errno:
            self.assertTrue(e.startswith(prefix) and e.endswith(nl(b"\n")) and e.count(b"\n") == 1,
                            "%s: stderr %r" % (label, e))
        else:
            self.assertEqual(e, nl(prefix + sys_text + b"\n"), label)
        self.assertEqual(st, status, label)
        self.assertEqual(o, out_nl(args, out), label)


def _diff_at(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b))
