"""Command line, driver texts, diagnostics and stream failures."""
import os
import tempfile
import threading

from harness import CFG, CLOSED, HINT, Case, nl, run
import reference

HELP = (b"Usage: base64 [OPTION]...  [FILE]\n"
        b"Base64 encode or decode FILE, or standard input, and print to standard output\n\n"
        b"With no FILE, or when FILE is -, read standard input.\n"
        b"Mandatory arguments to long options are mandatory for short options too.\n"
        b"  -d, --decode          decode data\n"
        b"  -i, --ignore-garbage  when decoding, ignore non-alphabet characters\n"
        b"  -w, --wrap=COLS       wrap encoded lines after COLS character (default 76).\n"
        b"                          Use 0 to disable line wrapping\n"
        b"  -s, --string=\"TEXT\"   use \"TEXT\" as input string\n"
        b"  -h, --help            display this help and exit\n"
        b"  -v, --version         output version information and exit\n"
        b"The data are encoded as described for the base64 alphabet in RFC 4648.\n"
        b"When decoding, the input may contain newlines in addition to the bytes of\n"
        b"the formal alphabet.  Use --ignore-garbage to attempt to recover\n"
        b"from any other non-alphabet bytes in the encoded stream.\n\n")

ENOENT, EISDIR = b"No such file or directory", b"Is a directory"
ENOSPC, EBADF = b"No space left on device", b"Bad file descriptor"


def wrap_err(text):
    return b"base64: Invalid argument for wrap '" + text + b"' (expect nonzero integer)\n"


# Malformed options: (argv, scanner line). Each is followed by the hint, status 1.
# ("ambiguous long option" cannot arise: no two names share a prefix.)
SCANNER = [
    (["--foo=1"], b"illegal long option --foo=1"),
    (["--foo"], b"illegal long option --foo"),
    (["--=x"], b"illegal long option --=x"),            # leading "=" is part of the name
    (["--decodex"], b"illegal long option --decodex"),  # a name longer than the row's never matches
    (["--Decode"], b"illegal long option --Decode"),
    (["-d", "--wrapx=3"], b"illegal long option --wrapx=3"),
    (["--decode=x"], b"this long option does not take an argument --decode=x"),
    (["--help="], b"this long option does not take an argument --help="),
    (["--v=1"], b"this long option does not take an argument --v=1"),
    (["--ignore=", "-d"], b"this long option does not take an argument --ignore="),
    (["--wrap"], b"this long option needs an argument --wrap"),
    (["-d", "--str"], b"this long option needs an argument --str"),
    (["-x"], b"illegal option '-x'"),
    (["-:"], b"illegal option '-:'"),
    (["-W"], b"illegal option '-W'"),
    (["-dix", "f"], b"illegal option '-x'"),
    ([b"-\xc3\xa9"], b"illegal option '-\xc3'"),     # one byte, as the scanner sees it
    (["-w"], b"option requires an argument '-w'"),
    (["-di", "-s"], b"option requires an argument '-s'"),
    (["-dw"], b"option requires an argument '-w'"),
]

# Help/version end the scan where they stand: (argv, expected stdout or None for version, stderr, status)
ORDER = [
    (["-h"], HELP, b"", 0), (["--help"], HELP, b"", 0), (["--he"], HELP, b"", 0),
    (["-h", "-x"], HELP, b"", 0), (["-hx"], HELP, b"", 0), (["-dh"], HELP, b"", 0),
    (["-h", "-w", "x"], HELP, b"", 0), (["--help", "--foo"], HELP, b"", 0),
    (["-h", "-v"], HELP, b"", 0), (["-h", "nofile"], HELP, b"", 0),
    (["-x", "-h"], b"", b"illegal option '-x'\n" + HINT, 1),
    (["--foo", "--help"], b"", b"illegal long option --foo\n" + HINT, 1),
    (["-w", "x", "-h"], b"", wrap_err(b"x"), 1),
    (["-w", "-h"], b"", wrap_err(b"-h"), 1),          # the argument is taken whatever it looks like
    (["-v"], None, b"", 0), (["--version"], None, b"", 0), (["--vers"], None, b"", 0),
    (["-v", "-h"], None, b"", 0), (["-iv", "-x"], None, b"", 0),
    (["-s", "-h"], b"LWg=\n", b"", 0),                 # "-h" is the -s text
    (["-", "-h"], b"YWJj\n", b"", 0),                  # options after the operand are never seen
]

# -w values: (argv, stdin, stdout). 3000 bytes -> 4000 chars exercises wrapping.
BIG = bytes(range(256)) * 11 + b"xyz" * 61 + b"q"
B64 = reference.encode
ONE_LINE = B64(BIG, 0) + b"\n"
WRAP_OK = [
    (["-w", "0"], BIG, B64(BIG, 0)), (["-w", ""], BIG, B64(BIG, 0)), (["--wrap="], BIG, B64(BIG, 0)),
    (["-w", "-0"], BIG, B64(BIG, 0)), (["-w0"], b"abc", b"YWJj"), (["--w=0"], b"abc", b"YWJj"),
    ([], BIG, B64(BIG, 76)), (["-w", " 7"], BIG, B64(BIG, 7)), (["-w", "\t7"], BIG, B64(BIG, 7)),
    (["-w", "+7"], BIG, B64(BIG, 7)), (["-w", "007"], BIG, B64(BIG, 7)), (["--wrap", "5"], BIG, B64(BIG, 5)),
    (["--wrap=13"], BIG, B64(BIG, 13)), (["-dw10", "-s", "YWJj"], b"", b"abc"), (["-w3", "-w", "9"], BIG, B64(BIG, 9)),
    (["-w", "2147483647"], BIG, ONE_LINE), (["-w", "2147483648"], BIG, ONE_LINE),
    (["-w", "4294967296"], BIG, ONE_LINE), (["-w", "4294967373"], BIG, ONE_LINE),   # not cut to 32 bits
    (["-w", "9223372036854775808"], BIG, ONE_LINE), (["-w", "99999999999999999999"], BIG, ONE_LINE),
    (["-d", "-w", "5"], b"QUJD", b"ABC"), (["-w", "3", "-d"], b"QUJDRA", b"ABCD"),
    (["-i"], b"#", b"Iw==\n"), (["-i", "-w", "2"], b"abc", b"YW\nJj\n"),      # -i means nothing when encoding
]
# (argv, the text the message must quote)
WRAP_BAD = [(["-w", v], v) for v in ("-1", "3x", " 7 ", "7 ", "+", "-", " ", "0x10", "1e3", "-2147483648",
                                     "-2147483649", "-99999999999999999999", "\u0663")]
WRAP_BAD += [(["--wrap=-5"], "-5"), (["--wrap", "abc"], "abc"), (["-w-1"], "-1"), (["-d", "-w", "x"], "x"),
             (["-d", "-w", "-1"], "-1"), (["-w", "x", "-d", "nofile"], "x"), (["-w", "1", "-w", "y"], "y"),
             (["--wrap", "-d"], "-d")]

WRITE_CASES = [([], b"abc"), (["-d"], b"QUJD"), (["--help"], b""), (["--version"], b""),
               (["-s", "abc"], b""), (["-d", "-s", "YWJj"], b""), (["-w", "0"], BIG), (["-d", "-i"], B64(BIG, 76))]


class ScannerAndTexts(Case):
    def test_malformed_options(self):
        for argv, line in SCANNER:
            with self.subTest(argv=argv):
                self.check(argv, b"QUJD", err=line + b"\n" + HINT, status=1)

    def test_version_text(self):
        st, out, err = run(["-v"])
        self.assertEqual((st, err), (0, b""))
        lines = out.split(nl(b"\n"))
        self.assertEqual(len(lines), 8, out)
        self.assertEqual(lines[:2] + lines[3:5] + lines[6:], [
            b"Tessaly 1.0.0", b"", b"This is free software. Provided 'as is'. There is NO warranty;",
            b"not even for MERCHANTABILITY or FITNESS FOR A PARTICULAR PURPOSE.", b"", b""])
        self.assertIn(b"2021", lines[2])
        self.assertIn(b"@", lines[5])
        self.assertNotIn(b"\r", out.replace(b"\r\n", b""))

    def test_option_order_and_forms(self):
        version = run(["-v"])[1]
        for argv, out, err, status in ORDER:
            with self.subTest(argv=argv):
                st, o, e = run(argv, b"abc")
                self.assertEqual((st, e, o), (status, nl(err), version if out is None else nl(out)))

    def test_wrap_accepted(self):
        for argv, data, out in WRAP_OK:
            with self.subTest(argv=argv):
                self.check(argv, data, out)

    def test_wrap_rejected(self):
        for argv, val in WRAP_BAD:
            with self.subTest(argv=argv):
                self.check(argv, b"QUJD", err=wrap_err(os.fsencode(val)), status=1)


class InputsAndOperands(Case):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        d = self.dir.name
        for name, data in (("f", b"abc"), ("g", b"xyz"), ("-d", b"abc"), ("-d-", b"YWJj"), ("e", b"YWJj")):
            with open(os.path.join(d, name), "wb") as fh:
                fh.write(data)
        os.mkdir(os.path.join(d, "dir"))

    def tearDown(self):
        self.dir.cleanup()

    def test_sources(self):
        big = bytes(range(1, 128)) * 700       # no zero byte: it must fit in one argument
        table = [
            (["f"], b"", b"YWJj\n"), (["-"], b"abc", b"YWJj\n"), ([], b"abc", b"YWJj\n"),
            (["f", "g"], b"", b"YWJj\n"), (["f", "nofile"], b"", b"YWJj\n"), (["--", "-d"], b"", b"YWJj\n"),
            (["--", "-"], b"abc", b"YWJj\n"), (["e", "-d"], b"", b"WVdKag==\n"), (["-d-"], b"", b"abc"),
            (["-d", "e"], b"", b"abc"), (["-d", "--", "e", "-i"], b"", b"abc"), ([], b"", b""),
            (["-s", "abc"], b"zzz", b"YWJj\n"), (["-d", "-s", "YWJj"], b"", b"abc"), (["-s", ""], b"x", b""),
            (["-s", "abc", "nofile"], b"", b"YWJj\n"), (["-s", "abc", "dir"], b"", b"YWJj\n"),
            (["-s", "x", "-s", "abc"], b"", b"YWJj\n"), (["--string=abc"], b"", b"YWJj\n"),
            (["--string", "abc"], b"", b"YWJj\n"), (["--s=abc"], b"", b"YWJj\n"), (["-sabc"], b"", b"YWJj\n"),
            (["-s", "-d"], b"", b"LWQ=\n"), (["-ds", "YWJj"], b"", b"abc"), (["-s", "QUJD", "-d"], b"", b"ABC"),
            (["-d", "-i", "-s", "QU#JD"], b"", b"ABC"), (["-s", "", "-d"], b"", b""),
            (["-s", big], b"", B64(big, 76)), (["-d", "-s", B64(big, 64).decode()], b"", big),
        ]
        for argv, stdin, out in table:
            with self.subTest(argv=repr(argv)[:80]):
                self.check(argv, stdin, out, cwd=self.dir.name)
        with self.subTest(env="TMPDIR nowhere"):
            if CFG.windows:
                self.skipTest("wine itself needs TMPDIR, and Windows takes the temporary directory from the registry")
            self.check(["-s", "abc"], out=b"YWJj\n", env=dict(os.environ, TMPDIR="/nonexistent/tmp"))
        self.check(["-d", "-s", "QU#JD"], err=b"base64: invalid input\n", status=1)

    def test_names_and_texts_beyond_the_code_page(self):
        # A Windows program gets its arguments in the ANSI code page too:
        # under Wine in a UTF-8 locale that is 1252, which holds "café" but
        # not "文件" or "ł". Files open by any name; a -s text is taken only
        # when the code page holds it exactly. On Linux arguments are bytes.
        d, data = self.dir.name, bytes(range(256)) * 3
        for name in ("文件-ł.bin", "café.bin"):
            with self.subTest(name=name):
                for suffix, content in (("", data), (".b64", B64(data, 76))):
                    with open(os.path.join(d, name + suffix), "wb") as fh:
                        fh.write(content)
                self.check([name], out=B64(data, 76), cwd=d, text_args=True)
                self.check(["-d", name + ".b64"], out=data, cwd=d, text_args=True)
        code_page = "cp1252" if CFG.windows else "utf-8"
        for argv in (["-s", "café"], ["--string=½ Ölçü"], ["-w", "3", "-s", "É"]):
            with self.subTest(argv=argv):
                text = argv[-1].partition("=")[2] or argv[-1]
                width = int(argv[1]) if argv[0] == "-w" else 76
                self.check(argv, out=B64(text.encode(code_page), width), text_args=True)
        unheld = (b"", b"base64: the -s text has characters that the current code page cannot represent; "
                       b"put it in a file and name the file instead\n", 1)
        abc = (b"YWJj\n", b"", 0)
        for argv, on_windows, on_linux in (
                (["-s", "文件"], unheld, (B64("文件".encode(), 76), b"", 0)),
                (["-sł"], unheld, (B64("ł".encode(), 76), b"", 0)),
                (["-s", "文件", "-s", "abc"], abc, abc),     # only the last -s counts
                (["-di", "-s", "YWJj文件"], unheld, (b"abc", b"", 0)),
                (["--decode", "--string=ł"], unheld, (b"", b"base64: invalid input\n", 1))):
            with self.subTest(argv=argv):
                out, err, status = on_windows if CFG.windows else on_linux
                self.check(argv, out=out, err=err, status=status, text_args=True)

    def test_messages_quote_what_was_typed(self):
        # With standard error redirected, a message quotes an argument as the
        # program got it: on Windows its bytes in the ANSI code page (1252
        # under Wine here, with look-alikes and "?"), as they always were. A
        # terminal shows it as typed: a Windows console gets the message as
        # wide text, the quote taken from the wide command line.
        file_error = b"base64: %s: "   # then the system's text for the error
        cases = [  # argv, the quoted text, as Windows hands it over, the message
            (["nofile-ł"], "nofile-ł", b"nofile-l", file_error),
            (["数据-żółw.txt"], "数据-żółw.txt", b"??-z\xf3lw.txt", file_error),
            (["-d", "文件.b64"], "文件.b64", b"??.b64", file_error),
            (["-w", "五"], "五", b"?", wrap_err(b"%s")),
            (["--wrap=ł"], "ł", b"l", wrap_err(b"%s")),
            (["-dw", "zł"], "zł", b"zl", wrap_err(b"%s")),
            (["--ż=文"], "ż=文", b"z=?", b"illegal long option --%s\n" + HINT),
        ]
        for argv, typed, windows_bytes, message in cases:
            for terminal in (False, True):
                quoted = typed.encode() if terminal or not CFG.windows else windows_bytes
                with self.subTest(argv=argv, stderr="terminal" if terminal else "redirected"):
                    self._check_quoting(argv, message % quoted, terminal)

    def _check_quoting(self, argv, want, terminal):
        try:
            st, o, e = run(argv, cwd=self.dir.name, text_args=True, stderr_terminal=terminal)
        except OSError as error:    # no terminals to be had here
            self.skipTest("no pseudo-terminal: %s" % error)
        # A terminal shows each line end as "\n", whatever was written.
        end = b"\n" if terminal else nl(b"\n")
        self.assertEqual((st, o), (1, b""), argv)
        if want.endswith(b": "):
            self.assertTrue(e.startswith(want) and e.endswith(end) and e.count(b"\n") == 1,
                            "%r: stderr %r" % (argv, e))
        else:
            self.assertEqual(e, want if terminal else nl(want), argv)

    def test_open_and_read_failures(self):
        for argv, name, text in [(["nofile"], b"nofile", ENOENT), (["-d", "nofile"], b"nofile", ENOENT),
                                 ([""], b"", ENOENT), (["-d-x"], b"-d-x", ENOENT), (["dir"], b"dir", EISDIR),
                                 (["-d", "dir"], b"dir", EISDIR), (["-w", "0", "dir", "f"], b"dir", EISDIR)]:
            with self.subTest(argv=argv):
                self.check_errno(argv, b"abc", b"base64: " + name + b": ", text, cwd=self.dir.name)
        for argv in ([], ["-d"], ["-"]):
            with self.subTest(argv=argv, stdin="closed"):
                self.check_errno(argv, CLOSED, b"base64: -: ", EBADF)


class WriteFailures(Case):
    def test_full_device(self):
        for argv, stdin in WRITE_CASES:
            with self.subTest(argv=argv), open("/dev/full", "wb") as full:
                self.check_errno(argv, stdin, b"base64: write error: ", ENOSPC, stdout=full)

    def test_closed_stdout(self):
        # With stdout closed, the -s stream must not land on descriptor 1.
        for argv, stdin in WRITE_CASES + [(["-s", "x" * 50000], b""), (["-d", "-s", "QUJD" * 20000], b"")]:
            with self.subTest(argv=repr(argv)[:80]):
                self.check_errno(argv, stdin, b"base64: write error: ", EBADF, stdout=CLOSED)

    def test_endless_input_stops_after_failed_write(self):
        with open("/dev/full", "wb") as full:
            for argv in ([], ["-w", "0"]):
                with open("/dev/zero", "rb") as zero:
                    self.check_errno(argv, zero, b"base64: write error: ", ENOSPC, stdout=full)
        # Files large enough to be read on a thread beside the coding: the
        # failure is reported once, and the reading stops with it.
        with tempfile.TemporaryDirectory() as d, open("/dev/full", "wb") as full:
            with open(os.path.join(d, "data"), "wb") as fh:
                fh.truncate(16 << 20)
            with open(os.path.join(d, "text"), "wb") as fh:
                fh.write((b"QUJD" * 19 + b"\n") * (1 << 16))
            for argv in (["data"], ["-w", "0", "data"], ["-d", "text"]):
                with self.subTest(argv=argv):
                    self.check_errno(argv, b"", b"base64: write error: ", ENOSPC, stdout=full, cwd=d)
        r, w = os.pipe()
        stop = threading.Event()

        def feed():   # an endless stream of valid text, until the reader goes away
            try:
                while not stop.is_set():
                    os.write(w, b"QUJD" * 4096 + b"\n")
            except OSError:
                pass
        t = threading.Thread(target=feed, daemon=True)
        t.start()
        try:
            with open("/dev/full", "wb") as full:
                self.check_errno(["-d"], r, b"base64: write error: ", ENOSPC, stdout=full)
        finally:
            stop.set()
            os.close(r)
            t.join(5)
            os.close(w)
