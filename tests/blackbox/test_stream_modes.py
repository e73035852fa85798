"""Stream modes where text streams translate line ends (Windows): decoded
bytes and the bytes read from standard input pass unchanged, while encoded
lines end the way the platform's text does."""
import base64
import random

from harness import CFG, Case, run
import reference

# Every byte, with the ones a text-mode stream would change or stop at:
# 10 (gains a 13), 13 10 (loses the 13) and 26 (end of file on Windows).
BYTES = bytes(range(256)) + b"\n\n\r\n\x1a\x1a\n\r"


def eol():
    return b"\r\n" if CFG.crlf else b"\n"


class StreamModes(Case):
    def test_decoding_writes_bytes_unchanged(self):
        text = base64.b64encode(BYTES)
        for argv, stdin, out in ((["-d"], text, BYTES), (["--decode", "-"], text, BYTES),
                                 (["-d", "-s", text.decode()], b"", BYTES),
                                 (["-di"], text.replace(b"A", b"A\x1a"), BYTES),
                                 (["-d"], base64.b64encode(b"\n" * 5000), b"\n" * 5000)):
            with self.subTest(argv=argv[:2], n=len(stdin)):
                st, o, err = run(argv, stdin)
                self.assertEqual((st, err), (0, b""))
                self.assertEqual(o, out, "decoded output was translated")

    def test_encoded_lines_end_as_text(self):
        for argv, stdin, lines in ((["-w", "4"], b"abcdef\n", [b"YWJj", b"ZGVm", b"Cg=="]),
                                   (["-s", "\n\n\n"], b"", [b"CgoK"]),
                                   ([], b"\n" * 60, [b"CgoK" * 19, b"CgoK"])):
            with self.subTest(argv=argv):
                st, out, err = run(argv, stdin)
                self.assertEqual((st, err), (0, b""))
                self.assertEqual(out, b"".join(line + eol() for line in lines))

    def test_encoded_lines_in_every_width_class(self):
        # Over more than one read chunk (786432 bytes), every kind of width:
        # none, 1, odd, even but not a multiple of 4, multiples of 4, the
        # default and one beyond any line; the last line ends too.
        data = random.Random(CFG.seed).randbytes(2 * 786432 + 7)
        for width in (0, 1, 5, 6, 8, 64, 76, 2147483647):
            with self.subTest(width=width):
                st, out, err = run(["-w", str(width)], data)
                self.assertEqual((st, err), (0, b""))
                self.assertEqual(out, reference.encode(data, width).replace(b"\n", eol()))

    def test_standard_input_is_read_as_bytes(self):
        st, out, err = run(["-w", "0"], BYTES)
        self.assertEqual((st, err, out), (0, b"", base64.b64encode(BYTES)))
