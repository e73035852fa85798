#!/usr/bin/env python3
"""Runs the black-box suite against a built base64 binary.

  python3 tests/blackbox/run_tests.py --binary build/base64
  python3 tests/blackbox/run_tests.py --binary base64.exe --runner wine --crlf --loose-errno-text --windows
"""
import argparse
import os
import random
import sys
import unittest

sys.dont_write_bytecode = True   # keep the source tree clean
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import harness  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--binary", required=True, help="path of the program under test")
    ap.add_argument("--runner", default="", help='command prefix, e.g. "wine"')
    ap.add_argument("--crlf", action="store_true", default=os.environ.get("TESSALY_EXPECT_CRLF") == "1",
                    help="output lines end in CRLF (also TESSALY_EXPECT_CRLF=1)")
    ap.add_argument("--loose-errno-text", action="store_true",
                    help='compare only the "base64: NAME: " part of system error lines')
    ap.add_argument("--windows", action="store_true",
                    help="a Windows program: skip the cases its command line cannot carry")
    ap.add_argument("--seed", type=int, default=None, help="seed of the randomized cases")
    ap.add_argument("-k", dest="pattern", default=None, help="run only tests whose id contains this")
    ap.add_argument("-v", dest="verbosity", action="store_const", const=2, default=1)
    a = ap.parse_args()
    if not os.path.isfile(a.binary):
        sys.exit("no such binary: %s" % a.binary)
    seed = a.seed if a.seed is not None else random.randrange(1 << 32)
    print("randomized cases use --seed %d" % seed, flush=True)
    harness.configure(a.binary, a.runner, a.crlf, a.loose_errno_text, seed, a.windows)
    suite = unittest.defaultTestLoader.discover(HERE, pattern="test_*.py", top_level_dir=HERE)
    if a.pattern:
        suite = unittest.TestSuite(t for t in _flatten(suite) if a.pattern in t.id())
    ok = unittest.TextTestRunner(verbosity=a.verbosity).run(suite).wasSuccessful()
    if not ok:
        print("reproduce with --seed %d" % seed)
    sys.exit(0 if ok else 1)


def _flatten(suite):
    for t in suite:
        if isinstance(t, unittest.TestSuite):
            yield from _flatten(t)
        else:
            yield t


if __name__ == "__main__":
    main()
