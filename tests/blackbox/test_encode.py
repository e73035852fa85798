"""Encoder: fixed vectors, layout rules, and random inputs against Python's base64."""
import os
import random
import tempfile

from harness import CFG, Case
from reference import encode

EDGES = [  # (argv, input, exact output)
    ([], b"", b""), (["-w", "0"], b"", b""), (["-w", "1"], b"", b""),
    ([], b"a", b"YQ==\n"), ([], b"ab", b"YWI=\n"), ([], b"abc", b"YWJj\n"), ([], b"\xff\xfe\xfd", b"//79\n"),
    ([], b"\xfb\xff", b"+/8=\n"), ([], b"\x00", b"AA==\n"),
    (["-w", "0"], b"abc", b"YWJj"), (["-w", "1"], b"abc", b"Y\nW\nJ\nj\n"), (["-w", "1"], b"a", b"Y\nQ\n=\n=\n"),
    (["-w", "3"], b"abcd", b"YWJ\njZA\n==\n"), (["-w", "4"], b"abcd", b"YWJj\nZA==\n"),
    (["-w", "8"], b"abcdef", b"YWJjZGVm\n"), (["-w", "9"], b"abcdef", b"YWJjZGVm\n"),
    ([], b"a" * 57, b"YWFh" * 19 + b"\n"), ([], b"a" * 58, b"YWFh" * 19 + b"\nYQ==\n"),
    ([], b"\0" * 3073, (b"A" * 76 + b"\n") * 53 + b"A" * 68 + b"AA==\n"),   # lines run on across chunks
    (["-w", "0"], b"\0" * 3072, b"A" * 4096), (["-w", "4096"], b"\0" * 3072, b"A" * 4096 + b"\n"),
    (["-w", "4095"], b"\0" * 3072, b"A" * 4095 + b"\nA\n"), (["-w", "4097"], b"\0" * 3072, b"A" * 4096 + b"\n"),
    (["-w", "1024"], b"\0" * 6144, (b"A" * 1024 + b"\n") * 8),
    ([], b"\0" * 100000, (b"A" * 76 + b"\n") * 1754 + b"A" * 28 + b"AA==\n"),
]
WIDTHS = [None, 0, 1, 2, 3, 4, 5, 7, 64, 76, 77, 1000, 4096, 2147483647]


class Encoder(Case):
    def test_edges(self):
        for argv, data, out in EDGES:
            with self.subTest(argv=argv, n=len(data)):
                self.assertEqual(encode(data, int(argv[1]) if argv else 76), out)   # the oracle agrees
                self.check(argv, data, out)

    def test_random_against_stdlib(self):
        rng = random.Random(CFG.seed)
        lengths = list(range(0, 13)) + [rng.randrange(20000) for _ in range(50)]
        lengths += [k * 3072 + d for k in (1, 2, 5) for d in (-2, -1, 0, 1, 2)] + [204800, 204801, 3 * 65536 + 2]
        with tempfile.TemporaryDirectory() as d:
            for i, n in enumerate(lengths):
                data = rng.randbytes(n) if i % 5 else bytes(rng.choice(b"\0\xff=\n") for _ in range(n))
                width = rng.choice(WIDTHS)
                argv = [] if width is None else ["-w", str(width)]
                if i % 3 == 0:    # a file operand takes the same path as standard input
                    path = os.path.join(d, "in%d" % i)
                    with open(path, "wb") as fh:
                        fh.write(data)
                    argv, data_in = argv + [path], b""
                else:
                    data_in = data
                self.check(argv, data_in, encode(data, 76 if width is None else width),
                           msg="seed %d case %d: %d bytes, width %s" % (CFG.seed, i, n, width))
