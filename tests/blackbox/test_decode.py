"""Decoder: fixed cases, every garbage class, blocks of 4096 bytes, the
first "=" ending the data, and random inputs against the reference model."""
import os
import random
import tempfile

from harness import CFG, Case, run
import reference
from reference import ALPHABET, GARBAGE, SPACE, decode

INVALID = b"base64: invalid input\n"
Z = b"\0"
A76 = b"".join(b"A" * 76 + b"\n" for _ in range(5000 // 76)) + b"A" * (5000 % 76) + b"\n"
CASES = [  # (input, -i?, output, ok)
    (b"", 0, b"", 1), (b"\n\r \t", 0, b"", 1), (b"QUJD", 0, b"ABC", 1), (b"QUJD\n", 0, b"ABC", 1),
    (b"QU JD", 0, b"ABC", 1), (b"QU\r\nJD", 0, b"ABC", 1), (b"\tQ\nU\rJ D\n", 0, b"ABC", 1),
    (b"QUJDRA", 0, b"ABCD", 1), (b"QUJDRA==", 0, b"ABCD", 1), (b"QUJDREU", 0, b"ABCDE", 1),
    (b"QUJDR", 0, b"ABC", 1), (b"Q", 0, b"", 1), (b"QQ", 0, b"A", 1), (b"QUI", 0, b"AB", 1),
    (b"QUI=", 0, b"AB", 1), (b"QQ==", 0, b"A", 1), (b"QR==", 0, b"A", 1), (b"QQ==QUJD", 0, b"A", 1),
    (b"QUJDQQ=", 0, b"ABCA", 1), (b"QUJD=QUJD", 0, b"ABC", 1), (b"=", 0, b"", 1), (b"====QUJD", 0, b"", 1),
    (b"Q=UJD", 0, b"", 1), (b"QQ=\n=\n", 0, b"A", 1), (b"+/8=", 0, b"\xfb\xff", 1), (b"//79", 0, b"\xff\xfe\xfd", 1),
    (b"QU#JD", 0, b"", 0), (b"QU#JD", 1, b"ABC", 1), (b"QQ==#", 0, b"", 0), (b"QQ==#", 1, b"A", 1),
    (b"QUJD" + Z + b"QUJD", 0, b"", 0), (b"QUJD" + Z + b"QUJD", 1, b"ABCABC", 1), (Z, 0, b"", 0), (Z, 1, b"", 1),
    (b"QUJD-_", 0, b"", 0), (b"QU\x0bJD", 0, b"", 0), (b"QU\x0cJD", 0, b"", 0), (b"QUJD\x80", 1, b"ABC", 1),
    (b"A" * 4096, 0, Z * 3072, 1), (b"A" * 4097, 0, Z * 3072, 1), (b"A" * 4098, 0, Z * 3073, 1),
    (b"A" * 4099, 0, Z * 3074, 1), (A76, 0, Z * 3750, 1), (A76.replace(b"\n", b"\r\n"), 0, Z * 3750, 1),
    (b"A" * 4092 + b"QQ==QUJD", 0, Z * 3069 + b"A", 1),    # "=" ends a block: later blocks are not decoded
    (b"A" * 4084 + b"QQ==QUJD", 0, Z * 3063 + b"A", 1),     # the same bytes inside one block
    (b"A" * 4090 + b"QQ==QUJD", 0, Z * 3066 + b"\0\x04\x10", 1),
    (b"A" * 4092 + b"QQ==QU#D", 0, Z * 3069 + b"A", 0),    # ...but still checked for garbage
    (b"A" * 4092 + b"QQ==QU#D", 1, Z * 3069 + b"A", 1),
    (b"A" * 4093 + b"\nQQ=QUJD", 0, Z * 3069 + b"\x01\x04", 1),   # "=" reaches the text through the carry
    (b"A" * 4094 + b"Q\nQ==QUJD", 0, Z * 3069 + b"\0\x04\x10", 1),  # "JD" held back after "=" gives nothing
    (b"A" * 4096 + b"#", 0, Z * 3072, 0), (b"A" * 4095 + b"#", 0, b"", 0),   # only earlier blocks are written
    (b"A" * 4095 + b"\n" + b"A" * 4095 + b"\x7f", 0, Z * 6141, 0),
    (b"A" * 8190 + b"\n\n" + b"QUJD\xff", 0, Z * 6141, 0), (b"QUJD\n" * 820 + Z, 0, b"ABC" * 819, 0),
]


def expect(data, ignore):
    out, ok = decode(data, ignore)
    return out, (b"" if ok else INVALID), (0 if ok else 1)


class Decoder(Case):
    def test_cases(self):
        for i, (data, ign, out, ok) in enumerate(CASES):
            with self.subTest(case=i, input=data[:12], n=len(data), ignore=ign):
                self.assertEqual(decode(data, bool(ign)), (out, bool(ok)))     # the model agrees
                self.check(["-d"] + ["-i"] * ign, data, out, b"" if ok else INVALID, 0 if ok else 1)

    def test_every_garbage_byte(self):
        for b in sorted(GARBAGE):
            with self.subTest(byte=b):
                self.check(["-d"], b"QU" + bytes([b]) + b"JD", err=INVALID, status=1)
        for b in sorted(SPACE):
            self.check(["-d"], b"QU" + bytes([b]) + b"JD", b"ABC")
        junk = bytes(sorted(GARBAGE))
        self.check(["-di"], junk + b"Q" + junk + b"UJD" + junk, b"ABC")
        self.check(["--decode", "--ignore-garbage"], junk[::-1] + b"QUJD", b"ABC")

    def test_sources_agree(self):
        # A file, "-" and -s are decoded exactly like standard input.
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "in")
            for data, ign, out, ok in CASES:
                if len(data) < 3000 and Z not in data:
                    continue
                with open(path, "wb") as fh:
                    fh.write(data)
                err, st = (b"", 0) if ok else (INVALID, 1)
                flags = ["-d"] + ["-i"] * ign
                self.check(flags + [path], b"", out, err, st)
                self.check(flags + ["-"], data, out, err, st)
                if Z not in data:
                    with self.subTest(source="-s", n=len(data)):
                        self.check(flags + ["-s", data], b"", out, err, st)

    def test_random_against_reference(self):
        rng = random.Random(CFG.seed + 1)
        with tempfile.TemporaryDirectory() as d:
            for i in range(90):
                data, kind = random_text(rng)
                path = os.path.join(d, "in%d" % i)
                with open(path, "wb") as fh:
                    fh.write(data)
                for ign in (False, True):
                    out, err, st = expect(data, ign)
                    argv = ["-d"] + ["-i"] * ign
                    msg = "seed %d case %d (%s, %d bytes, -i %s)" % (CFG.seed, i, kind, len(data), ign)
                    if i % 2:
                        self.check(argv + [path], b"", out, err, st, msg=msg)
                    else:
                        self.check(argv, data, out, err, st, msg=msg)

    def test_round_trips(self):
        rng = random.Random(CFG.seed + 2)
        for i in range(24):
            data = rng.randbytes(rng.choice([0, 1, 2, 3, 57, 3072, 4096, 4097, 12288, rng.randrange(30000), 200003]))
            width = rng.choice([0, 1, 2, 3, 4, 5, 7, 64, 76, 77, 1000, 2147483647])
            st, enc, err = run(["-w", str(width)], data)
            self.assertEqual((st, err), (0, b""))
            self.check(["-d"] + ["-i"] * (i % 2), enc, data,
                       msg="seed %d round trip %d: %d bytes, width %d" % (CFG.seed, i, len(data), width))


def random_text(rng):
    """Decoder input of one of several mixes, up to a few 4096-byte blocks."""
    n = rng.choice([rng.randrange(64), rng.randrange(20000), 4096 * rng.randrange(1, 5) + rng.randrange(-6, 7)])
    kind = rng.choice(["clean", "clean", "spots", "late", "late", "unpadded", "dense", "spaced"])
    if kind == "late":    # clean text with one bad byte past the first block: earlier blocks must be written
        text = bytearray(reference.encode(rng.randbytes(rng.randrange(3100, 15000)), rng.choice([0, 64, 76])))
        text.insert(rng.randrange(4096, len(text) + 1), rng.choice(sorted(GARBAGE) + [61]))
        return bytes(text), kind
    if kind in ("clean", "spots", "unpadded"):
        text = reference.encode(rng.randbytes(n * 3 // 4), rng.choice([0, 1, 3, 64, 76, 77]))
        if rng.random() < 0.3:
            text = text.replace(b"\n", b"\r\n")
        if kind == "unpadded":
            text = text.replace(b"=", b"")
        if kind == "spots":    # a few stray bytes: garbage, "=" or white space, anywhere, or a line end made a character
            text = bytearray(text)
            for _ in range(rng.randrange(1, 4)):
                if rng.random() < 0.3 and b"\n" in text:
                    text[rng.choice([i for i, c in enumerate(text) if c == 10])] = ord("Q")
                else:
                    text.insert(rng.randrange(len(text) + 1), rng.choice([rng.choice(sorted(GARBAGE)), 61, 61, 32, 9]))
            text = bytes(text)
        return text, kind
    pools = [(ALPHABET, 0.8), (b"=", 0.03 if kind == "dense" else 0.001), (bytes(SPACE), 0.15),
             (bytes(sorted(GARBAGE)), 0.05 if kind == "dense" else 0.0005)]
    pick = rng.choices([p for p, _ in pools], [w for _, w in pools], k=n)
    return bytes(rng.choice(p) for p in pick), kind
