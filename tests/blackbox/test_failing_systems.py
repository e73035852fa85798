"""Failing and awkward systems around the binary: a FIFO as input, a read
that fails part way, slow and hanging reads, a reader that quits early, a
stream beyond 4 GiB through pipes in constant memory, and a file over
4 GiB on a 32-bit build."""
import base64
import errno
import hashlib
import itertools
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from harness import CFG, TIMEOUT, Case, nl, run
import reference

EIO = os.strerror(errno.EIO).encode()
EPIPE = os.strerror(errno.EPIPE).encode()
SHIM = os.environ.get("TESSALY_FAILING_READ_SHIM")


def posix_only(test):
    return unittest.skipIf(CFG.runner or sys.platform != "linux", "needs the binary to run natively on Linux")(test)


def pump_in_thread(target, *args):
    t = threading.Thread(target=target, args=args, daemon=True)
    t.start()
    return t


@posix_only
class Fifo(Case):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.fifo = os.path.join(self.dir.name, "fifo")
        os.mkfifo(self.fifo)

    def tearDown(self):
        self.dir.cleanup()

    def feed(self, data):
        def write():
            with open(self.fifo, "wb") as w:   # blocks until the program opens it
                w.write(data)
        return pump_in_thread(write)

    def test_fifo_operand_and_stdin(self):
        data = bytes(random.Random(CFG.seed).randrange(256) for _ in range(100000))
        text = reference.encode(data, 76)
        for argv, sent, out in [(["fifo"], data, text), (["-d", "fifo"], text, data), (["fifo"], b"", b""),
                                (["-d", "-i", "fifo"], b"QU#JD", b"ABC")]:
            with self.subTest(argv=argv, size=len(sent)):
                t = self.feed(sent)
                self.check(argv, out=out, cwd=self.dir.name)
                t.join(5)
        t = self.feed(text)
        with open(self.fifo, "rb") as r:
            self.check(["-d"], r, out=data)
        t.join(5)


@posix_only
@unittest.skipUnless(SHIM and os.path.exists(SHIM), "the failing-read shim is built with the tests")
class ReadFailsPartWay(Case):
    """The shim fails the input's reads with EIO after N bytes; the program
    must say so, status 1, with only output of bytes read before it."""

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        rnd = random.Random(CFG.seed)
        # Larger than a read's piece, so that a file is read on a thread of
        # its own beside the coding, and fails there.
        self.data = rnd.randbytes(3 << 20)
        self.text = reference.encode(self.data, 76)
        for name, contents in (("data", self.data), ("text", self.text)):
            with open(os.path.join(self.dir.name, name), "wb") as fh:
                fh.write(contents)

    def tearDown(self):
        self.dir.cleanup()

    def run_failing(self, argv, stdin, after):
        env = dict(os.environ, LD_PRELOAD=SHIM, TESSALY_FAIL_READ_AFTER=str(after),
                   ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0")
        return run(argv, stdin, cwd=self.dir.name, env=env)

    def test_failure_is_reported_with_the_input_name(self):
        file_stdin = os.path.join(self.dir.name, "data")
        for after in (0, 1, 4095, 4096, 49152, 65536, 100000, (1 << 20) + 1, 2500000):
            for argv, stdin, name, full in [([], self.data, b"-", self.text), (["data"], b"", b"data", self.text),
                                            ([], file_stdin, b"-", self.text),
                                            (["-d"], self.text, b"-", self.data),
                                            (["-d", "-i", "text"], b"", b"text", self.data)]:
                with self.subTest(argv=argv, after=after, stdin_is_file=stdin is file_stdin):
                    if stdin is file_stdin:
                        with open(file_stdin, "rb") as fh:
                            status, out, err = self.run_failing(argv, fh, after)
                    else:
                        status, out, err = self.run_failing(argv, stdin, after)
                    self.assertEqual((status, err), (1, b"base64: " + name + b": " + EIO + b"\n"))
                    self.assertTrue(full.startswith(out), "output is not a prefix of the right one")
                    read = self.data[:after] if full is self.text else self.text[:after]
                    limit = len(reference.encode(read, 76)) if full is self.text else len(read) * 3 // 4
                    self.assertLessEqual(len(out), limit, "more output than the bytes read give")
                    # Every whole group, or every whole block, of the bytes
                    # read is written before the failure is reported.
                    if full is self.text:
                        least = len(reference.encode(read[:after // 3 * 3], 76).rstrip(b"\n"))
                    else:
                        least = max(0, after - 2 * 4096) * 76 // 77 * 3 // 4
                    self.assertGreaterEqual(len(out), least, "less output than the bytes read give")

    def test_no_failure_before_the_end(self):
        # Read ahead, the text of several pieces gathers into one write:
        # every layout must still come out whole and in order.
        with open(os.path.join(self.dir.name, "data1"), "wb") as fh:
            fh.write(self.data[:400000])   # width 1 multiplies the text by 2.3
        for argv, out in ((["data"], self.text), (["-w", "0", "data"], reference.encode(self.data, 0)),
                          (["-w", "1", "data1"], reference.encode(self.data[:400000], 1)),
                          (["-w", "5", "data"], reference.encode(self.data, 5)),
                          (["-w", "64", "data"], reference.encode(self.data, 64)),
                          (["-d", "text"], self.data)):
            with self.subTest(argv=argv):
                status, got, err = self.run_failing(argv, b"", len(self.data) + len(self.text))
                self.assertEqual((status, err), (0, b""))
                self.assertTrue(got == out, "output differs (%d bytes, want %d)" % (len(got), len(out)))


class OutputFlows(Case):
    """Behind a producer that pauses, everything its input so far decides
    is written before the pipe closes: every whole group when encoding,
    every whole 4096-byte block when decoding."""

    def test_decided_output_arrives_while_the_pipe_is_open(self):
        rnd = random.Random(CFG.seed)
        data = rnd.randbytes(30001)
        flat = base64.b64encode(rnd.randbytes(9 * 3072 + 300))
        # 30000 bytes are 40000 characters: the last line is still open.
        for argv, sent, decided, full in (
                ([], data, nl(reference.encode(data[:30000], 76)[:-1]), nl(reference.encode(data, 76))),
                (["-w", "0"], data[:29999], base64.b64encode(data[:29997]), base64.b64encode(data[:29999])),
                (["-d"], flat, base64.b64decode(flat[:9 * 4096]), base64.b64decode(flat))):
            with self.subTest(argv=argv):
                p = subprocess.Popen(CFG.runner + [CFG.binary] + argv, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                got = bytearray()

                def drain():
                    while chunk := os.read(p.stdout.fileno(), 1 << 16):
                        got.extend(chunk)
                reader = pump_in_thread(drain)
                p.stdin.write(sent)
                p.stdin.flush()
                # A generous deadline for what must come; it ends early.
                deadline = time.monotonic() + 10
                while len(got) < len(decided) and time.monotonic() < deadline:
                    time.sleep(0.01)
                arrived = bytes(got)
                p.stdin.close()
                reader.join(TIMEOUT)
                err = p.stderr.read()
                self.assertEqual((p.wait(TIMEOUT), err), (0, b""))
                self.assertEqual(arrived[:len(decided)], decided,
                                 "%d of %d decided bytes arrived before the input's end"
                                 % (len(arrived), len(decided)))
                self.assertEqual(bytes(got), full)


@posix_only
@unittest.skipUnless(SHIM and os.path.exists(SHIM), "the failing-read shim is built with the tests")
class ReadsInPieces(Case):
    """Input that arrives one byte at a time, or in pieces of random sizes
    (the shim caps every read), gives exactly the reference's output."""

    def test_pieces_give_the_reference_output(self):
        rnd = random.Random(CFG.seed)
        data = rnd.randbytes(12000)
        text = reference.encode(data, 76)
        # Garbage in a late block: strict decoding stops after the blocks
        # before it, -i drops it.
        spoiled = text[:9000] + b"#" + text[9000:]
        cases = [([], data), (["-w", "0"], data), (["-w", "1"], data[:3000]), (["-w", "5"], data),
                 (["-w", "64"], data), (["-d"], text), (["-d"], spoiled), (["-d", "-i"], spoiled),
                 (["-d"], base64.b64encode(data).rstrip(b"="))]
        for pieces in (1, 7, 5000):
            for argv, stdin in cases:
                with self.subTest(pieces=pieces, argv=argv, size=len(stdin)):
                    env = dict(os.environ, LD_PRELOAD=SHIM, TESSALY_READ_PIECES=str(pieces),
                               ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0")
                    if "-d" in argv:
                        out, ok = reference.decode(stdin, "-i" in argv)
                        err = b"" if ok else b"base64: invalid input\n"
                    else:
                        width = int(argv[1]) if argv else 76
                        out, ok, err = reference.encode(stdin, width), True, b""
                    self.check(argv, stdin, out=out, err=err, status=0 if ok else 1, env=env)


@posix_only
@unittest.skipUnless(SHIM and os.path.exists(SHIM), "the failing-read shim is built with the tests")
class SlowMedia(Case):
    """Input from a share, a stick or a failing disk, whose reads take
    seconds or never return (the shim slows or stops them). A failure that
    is known ends the program with its message at once, whatever a read
    under way is doing; output never waits for input that is still to come.
    Each deadline leaves less than a read's time after the failure is
    known, or 10 s behind a read that hangs: only a program that waits for
    a read that nothing will use misses it."""

    PIECE = 3 * 64 * 1024   # what a file's read asks for
    SLOW = 2.0              # seconds a read takes after the first

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        rnd = random.Random(CFG.seed)
        cls.data = rnd.randbytes(4500000)
        text = reference.encode(cls.data, 76)
        # Past the first piece: known once the second read is in.
        cls.spoiled = text[:250000] + b"#" + text[250000:]
        cls.small = cls.data[:4 * cls.PIECE + 1000]
        for name, contents in (("raw", cls.data), ("spoiled", cls.spoiled), ("small", cls.small),
                               ("text", reference.encode(cls.small, 76))):
            with open(os.path.join(cls.dir.name, name), "wb") as fh:
                fh.write(contents)

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def env(self, **settings):
        return dict(os.environ, LD_PRELOAD=SHIM, **{"TESSALY_" + k: str(v) for k, v in settings.items()},
                    ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0")

    def test_failure_ends_the_program_at_once(self):
        invalid = b"base64: invalid input\n"
        nospace = b"base64: write error: " + os.strerror(errno.ENOSPC).encode() + b"\n"
        eio = b"base64: raw: " + EIO + b"\n"
        decoded, _ = reference.decode(self.spoiled)
        fail_after = 300000   # the third read fails
        # The read that brings the failure, counting from 1: slowed, every
        # read after the first; hanging, the read after that one.
        cases = [("garbage", ["-d", "spoiled"], invalid, decoded, 2, {}),
                 ("write error", ["raw"], nospace, None, 1, {}),
                 ("read error", ["raw"], eio, reference.encode(self.data, 76), 3, {"FAIL_READ_AFTER": fail_after})]
        for (what, argv, message, full, failing_read, settings), hangs in itertools.product(cases, (False, True)):
            with self.subTest(what, hangs=hangs):
                if hangs:
                    settings = dict(settings, READ_HANG_AT=failing_read + 1)
                    deadline = 10.0   # generous: the hung read is the difference
                else:
                    settings = dict(settings, READ_DELAY_MS=int(self.SLOW * 1000))
                    deadline = (failing_read - 1 + 0.75) * self.SLOW
                with open("/dev/full", "wb") as device_full:
                    stdout = device_full if full is None else None
                    started = time.monotonic()
                    status, out, err = run(argv, b"", stdout=stdout, cwd=self.dir.name, env=self.env(**settings),
                                           timeout=deadline if hangs else TIMEOUT)
                    took = time.monotonic() - started
                self.assertEqual((status, err), (1, message))
                self.assertLess(took, deadline, "the program ended %.1f s after its start" % took)
                if full is decoded:
                    self.assertTrue(out == decoded, "output differs (%d bytes, want %d)" % (len(out), len(decoded)))
                elif full is not None:
                    self.assertTrue(full.startswith(out), "output is not a prefix of the right one")
                    self.assertLessEqual(len(out), len(reference.encode(self.data[:fail_after], 76)),
                                         "more output than the bytes read give")

    def test_first_output_comes_before_the_next_read(self):
        slow = 1.0
        for argv, full in ((["small"], reference.encode(self.small, 76)), (["-d", "text"], self.small)):
            with self.subTest(argv=argv):
                started = time.monotonic()
                p = subprocess.Popen(CFG.runner + [CFG.binary] + argv, cwd=self.dir.name, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     env=self.env(READ_DELAY_MS=int(slow * 1000)))
                first = os.read(p.stdout.fileno(), 1 << 16)
                took = time.monotonic() - started
                out, err = p.communicate(timeout=TIMEOUT)
                self.assertEqual((p.returncode, err), (0, b""))
                self.assertTrue(first + out == full, "output differs (%d bytes, want %d)"
                                % (len(first + out), len(full)))
                # The first piece is in at once; a program that holds its
                # output until two more reads are in misses this.
                self.assertLess(took, 2 * slow, "the first output came %.1f s after the start" % took)


def runs_under_wine64():
    """A 64-bit .exe (PE32+), which runs under the 64-bit Wine loader."""
    if not (CFG.windows and sys.platform == "linux"):
        return False
    with open(CFG.binary, "rb") as fh:
        head = fh.read(4096)
    at = int.from_bytes(head[0x3c:0x40], "little")
    return head[at + 24:at + 26] == b"\x0b\x02"


@unittest.skipUnless(runs_under_wine64() and shutil.which("c++"),
                     "a 64-bit Windows build under 64-bit Wine, and a compiler for this machine")
class HangingReadUnderWine(Case):
    """Under Wine, the .exe's reads of its input are reads of this machine,
    made by Wine's own code in its process: the shim, built here for the
    host and preloaded into the 64-bit loader, makes one of them hang. It
    touches the input file only, so Wine's own reads and the wineserver,
    which may be started by this run and inherit the setting, are left
    alone. Garbage known while the read after it hangs: the program must
    still end with its message, whatever the runtime holds."""

    def test_garbage_behind_a_hanging_read(self):
        with tempfile.TemporaryDirectory() as d:
            shim = os.path.join(d, "failing_read.so")
            source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "shims", "failing_read.cpp")
            subprocess.run(["c++", "-std=c++20", "-O2", "-shared", "-fPIC", "-o", shim, source, "-ldl"], check=True)
            text = reference.encode(random.Random(CFG.seed).randbytes(800000), 76)
            spoiled = text[:250000] + b"#" + text[250000:]   # in the second read
            path = os.path.join(d, "spoiled")
            with open(path, "wb") as fh:
                fh.write(spoiled)
            env = dict(os.environ, LD_PRELOAD=shim, TESSALY_READ_FILE=path, TESSALY_READ_HANG_AT="3")
            decoded, _ = reference.decode(spoiled)
            # Generous: the hung read is the difference.
            self.check(["-d", "spoiled"], b"", out=decoded, err=b"base64: invalid input\n", status=1,
                       cwd=d, env=env, timeout=10)


@posix_only
class ReaderQuitsEarly(Case):
    """Like `base64 /dev/zero | head -c 100`: the program ends at once, by
    SIGPIPE or, with SIGPIPE ignored, with a write error."""

    def start(self, argv, stdin, ignore_sigpipe):
        pre = (lambda: signal.signal(signal.SIGPIPE, signal.SIG_IGN)) if ignore_sigpipe else None
        return subprocess.Popen([CFG.binary] + argv, stdin=stdin, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, preexec_fn=pre)

    def endless_text(self):
        r, w = os.pipe()

        def feed():
            try:
                while True:
                    os.write(w, b"QUJD" * 4096 + b"\n")
            except OSError:
                os.close(w)
        pump_in_thread(feed)
        return r

    def test_program_ends_when_its_reader_goes(self):
        # A large file is read on a thread beside the coding; a device or a
        # pipe is not.
        with tempfile.TemporaryDirectory() as d:
            zeros, text = os.path.join(d, "zeros"), os.path.join(d, "text")
            with open(zeros, "wb") as fh:
                fh.truncate(64 << 20)
            with open(text, "wb") as fh:
                fh.write((b"QUJD" * 19 + b"\n") * (1 << 18))
            for argv, source in (([], "/dev/zero"), (["-w", "0"], "/dev/zero"), (["-d"], None),
                                 ([], zeros), (["-d"], text)):
                for ignore in (False, True):
                    with self.subTest(argv=argv, source=os.path.basename(source or "pipe"),
                                      sigpipe_ignored=ignore):
                        self.quit_early(argv, source, ignore)

    def quit_early(self, argv, path, ignore):
        source = open(path, "rb") if path else self.endless_text()
        p = self.start(argv, source, ignore)
        self.assertEqual(len(p.stdout.read(100)), 100)
        p.stdout.close()
        try:
            err = p.stderr.read()
            status = p.wait(timeout=10)
        except subprocess.TimeoutExpired:
            p.kill()
            self.fail("still running after its reader went away")
        finally:
            source.close() if hasattr(source, "close") else os.close(source)
            p.stderr.close()
        if ignore:
            self.assertEqual((status, err), (1, b"base64: write error: " + EPIPE + b"\n"))
        else:
            self.assertEqual((status, err), (-signal.SIGPIPE, b""))


def high_water_kib(pid):
    """The peak resident size (VmHWM) of the program's own image, or None
    before its exec and after its end."""
    try:
        if os.readlink("/proc/%d/exe" % pid) != os.path.realpath(CFG.binary):
            return None
        with open("/proc/%d/status" % pid, "rb") as fh:
            for line in fh:
                if line.startswith(b"VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def peak_rss_kib(argv, feed, drain):
    """Runs the binary between two callables; returns (status, peak RSS).

    The peak is read from /proc while the program runs: getrusage of the
    child would count the Python it was forked from. The high-water mark
    only grows, so the last reading is the peak up to a moment before the
    end, and memory use is flat once the buffers are touched."""
    p = subprocess.Popen([CFG.binary] + argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    threads = [pump_in_thread(feed, p.stdin), pump_in_thread(drain, p.stdout)]
    peak = None
    while threads[1].is_alive():
        peak = high_water_kib(p.pid) or peak
        threads[1].join(0.1)
    threads[0].join()
    return p.wait(), peak


@posix_only
@unittest.skipIf(os.environ.get("TESSALY_SKIP_SLOW") == "1", "slow test skipped by TESSALY_SKIP_SLOW=1")
class BeyondFourGiB(Case):
    """A little over 4 GiB encoded, then decoded, through pipes: the right
    bytes (compared by SHA-256 digests taken while streaming) and a peak
    resident size that does not grow with the input."""

    # 57 bytes make one 76-character line, so the text of every repetition
    # of the pattern is the same whole lines.
    PATTERN = random.Random(7).randbytes(57 * 4096)
    TOTAL = (1 << 32) + 12345

    def source_chunks(self, total):
        full, tail = divmod(total, len(self.PATTERN))
        for _ in range(full):
            yield self.PATTERN
        yield self.PATTERN[:tail]

    def expected_text_digest(self, total):
        h = hashlib.sha256()
        line_text = reference.encode(self.PATTERN, 76)
        full, tail = divmod(total, len(self.PATTERN))
        for _ in range(full):
            h.update(line_text)
        h.update(reference.encode(self.PATTERN[:tail], 76))
        return h.hexdigest()

    def round_trip(self, total):
        """Encoder and decoder run one after the other on the same stream;
        returns the digests and the peak RSS of each."""
        source_digest, text_digest, out_digest = hashlib.sha256(), hashlib.sha256(), hashlib.sha256()
        text_pipe_r, text_pipe_w = os.pipe()

        def feed(stdin):
            for chunk in self.source_chunks(total):
                source_digest.update(chunk)
                stdin.write(chunk)
            stdin.close()

        def relay(stdout):   # encoder output: hashed, then handed on to the decoder
            with os.fdopen(text_pipe_w, "wb") as w:
                while chunk := stdout.read(1 << 20):
                    text_digest.update(chunk)
                    w.write(chunk)

        def feed_decoder(stdin):
            with os.fdopen(text_pipe_r, "rb") as r:
                while chunk := r.read(1 << 20):
                    stdin.write(chunk)
            stdin.close()

        def drain(stdout):
            while chunk := stdout.read(1 << 20):
                out_digest.update(chunk)

        results = {}
        enc = threading.Thread(target=lambda: results.update(enc=peak_rss_kib([], feed, relay)))
        enc.start()
        results["dec"] = peak_rss_kib(["-d"], feed_decoder, drain)
        enc.join()
        return source_digest.hexdigest(), text_digest.hexdigest(), out_digest.hexdigest(), results

    def test_stream_beyond_4_gib(self):
        small = self.round_trip(1 << 28)   # long enough to be watched
        started = time.monotonic()
        source, text, out, results = self.round_trip(self.TOTAL)
        elapsed = time.monotonic() - started
        self.assertEqual(results["enc"][0], 0)
        self.assertEqual(results["dec"][0], 0)
        self.assertEqual(text, self.expected_text_digest(self.TOTAL), "encoded text differs")
        self.assertEqual(out, source, "decoded bytes differ from the input")
        for side in ("enc", "dec"):
            self.assertIsNotNone(results[side][1])
            self.assertIsNotNone(small[3][side][1])
            grew = results[side][1] - small[3][side][1]
            self.assertLess(grew, 4096, "%s: peak RSS %d KiB after 4 GiB, %d KiB after 256 MiB"
                            % (side, results[side][1], small[3][side][1]))
        print("\n4 GiB round trip: %.0f s; peak RSS encoder %d KiB, decoder %d KiB"
              % (elapsed, results["enc"][1], results["dec"][1]), file=sys.stderr)


def under_i386_emulator():
    return bool(CFG.runner) and os.path.basename(CFG.runner[0]) == "qemu-i386"


@unittest.skipUnless(under_i386_emulator() and sys.platform == "linux",
                     "a 32-bit x86 build under qemu-i386, whose -strace shows the program's own calls")
class LargeFileOn32Bit(Case):
    """A 32-bit build opens a file over 4 GiB as a large file, reads it
    from where standard input stands past 4 GiB, and reads it ahead on a
    thread of its own. qemu adds O_LARGEFILE to the host's open itself,
    so the flags that count are the program's, as -strace shows them.
    The file is sparse: it takes no disk space."""

    SIZE = (5 << 30) + 1000

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.dir.name, "big")
        self.tail = random.Random(CFG.seed).randbytes(1000)
        with open(self.path, "wb") as fh:
            fh.truncate(self.SIZE - len(self.tail))
            fh.seek(0, os.SEEK_END)
            fh.write(self.tail)

    def tearDown(self):
        self.dir.cleanup()

    def start(self, args, stdin):
        # -strace writes to qemu's standard error, where nothing else goes
        # when the program succeeds.
        return subprocess.Popen(CFG.runner + ["-strace", CFG.binary] + args, cwd=self.dir.name,
                                stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def test_named_file_opens_large(self):
        p = self.start(["big"], subprocess.DEVNULL)
        head = p.stdout.read(154)   # two lines: then the reader goes
        p.stdout.close()
        log = p.stderr.read()
        p.wait(TIMEOUT)
        self.assertEqual(head, reference.encode(bytes(114), 76))
        opens = [line for line in log.splitlines() if b'openat(' in line and b'"big"' in line]
        self.assertEqual(len(opens), 1, log[-2000:])
        self.assertIn(b"O_LARGEFILE", opens[0])
        self.assertIn(b" clone(", log, "a file over one piece is read on a thread of its own")

    def test_standard_input_past_4_gib(self):
        # Positioned 100 bytes before the end: the last 100 bytes, read in
        # one go. A megabyte before it: the file is read ahead.
        for left, thread in ((100, False), (1 << 20, True)):
            with self.subTest(left=left), open(self.path, "rb") as fh:
                fh.seek(self.SIZE - left)
                p = self.start([], fh)
                out, log = p.communicate(timeout=TIMEOUT)
                expected = reference.encode((bytes(left) + self.tail)[-left:], 76)
                self.assertEqual(p.returncode, 0, log[-2000:])
                self.assertTrue(out == expected, "output differs (%d bytes, want %d)" % (len(out), len(expected)))
                self.assertEqual(b" clone(" in log, thread, log[-2000:])
