"""Straightforward models of the codec, written from the rules and kept
independent of the program's code: the oracle of the differential tests."""
import base64

ALPHABET = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
SEXTET = {c: i for i, c in enumerate(ALPHABET)}
KEPT = frozenset(ALPHABET + b"=")
SPACE = frozenset(b"\n\r \t")
GARBAGE = frozenset(range(256)) - KEPT - SPACE   # includes NUL, 11, 12, 127, 128-255
BLOCK = 4096
_NOT_GARBAGE = bytes(sorted(KEPT | SPACE))
_NOT_KEPT = bytes(sorted(SPACE | GARBAGE))


def encode(data, width):
    """Encoded output: lines of `width` chars, each ended by "\\n"; one run when 0."""
    text = base64.b64encode(data)
    if not text or width == 0:
        return text
    return b"".join(text[i:i + width] + b"\n" for i in range(0, len(text), width))


def decode_block(text):
    """Kept chars -> bytes: the first "=" ends the text; a trailing partial
    group of 2 or 3 sextets yields 1 or 2 bytes, of 1 sextet nothing."""
    text = text.split(b"=", 1)[0]
    out = bytearray()
    for i in range(0, len(text), 4):
        s = [SEXTET[c] for c in text[i:i + 4]]
        v = 0
        for x in s:
            v = (v << 6) | x
        v <<= 6 * (4 - len(s))
        out += v.to_bytes(3, "big")[:max(len(s) - 1, 0)]
    return bytes(out)


def decode(data, ignore_garbage=False):
    """Returns (output bytes, ok). Blocks are the held-back chars plus the
    next (4096 - held) input bytes; a strict block holding garbage stops the
    run with the earlier blocks' output; the first "=" of the input ends the
    decoded data, though later blocks are still checked for garbage."""
    out, carry, pos, ended = bytearray(), b"", 0, False
    while pos < len(data):
        chunk = data[pos:pos + BLOCK - len(carry)]
        pos += len(chunk)
        if not ignore_garbage and chunk.translate(None, _NOT_GARBAGE):
            return bytes(out), False
        kept = carry + chunk.translate(None, _NOT_KEPT)
        held = len(kept) % 4
        text, carry = kept[:len(kept) - held], kept[len(kept) - held:]
        if not ended:
            out += decode_block(text)
            ended = b"=" in text
    if not ended and carry:
        out += decode_block(carry)
    return bytes(out), True
