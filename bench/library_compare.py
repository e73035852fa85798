#!/usr/bin/env python3
# Times the library's interface against its peers in one run and checks
# its speed targets: library_bench (tessaly_encode and tessaly_decode for
# every kernel this CPU runs, the kernel's own call on the same bytes,
# memcpy, OpenSSL's EVP_EncodeBlock / EVP_DecodeBlock, one call on 16
# bytes), then Python's base64 module on the same sizes and layouts.
#   cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTESSALY_BENCH=ON -DTESSALY_TESTS=OFF
#   cmake --build build-bench --parallel 2
#   bench/library_compare.py [LIBRARY_BENCH] [--repetitions N] [--min-time S] [--kernels REGEX]
# LIBRARY_BENCH defaults to build-bench/bench/library_bench. Every figure
# is the best of N repetitions (5), each timed for at least S seconds
# (0.2), in processor time: on a shared machine the best is the one least
# disturbed. GB/s are bytes of input a second (text when decoding), as
# kernel_bench counts them. The kernel column is the kernel's own call on
# the same bytes and text in the same run; the URL alphabet's rows compare
# with the standard alphabet's kernel, which they run after a translation.
#
# Targets, at 64 KiB: the standard alphabet's rows at least 0.9 times the
# kernel; with AVX2 or better, unbroken rows at least 10 times OpenSSL and
# every row at least 20 times Python in the same layout; and a call on 16
# bytes under 30 ns, encoding or decoding. Exits 0 when every target is
# met, 1 when any is missed (or on an error).
import argparse
import base64
import json
import os
import random
import subprocess
import sys
import timeit

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SIZES = {"64KiB": 64 * 1024, "16MiB": 16 * 1024 * 1024}
TARGET_SIZE = "64KiB"
# Layouts: the library's row suffix, Python's encoder and decoder.
LAYOUTS = {
    "": (base64.b64encode, base64.b64decode),
    "_lines76": (base64.encodebytes, base64.decodebytes),
    "_url": (base64.urlsafe_b64encode, base64.urlsafe_b64decode),
}
FAST_KERNELS = {"avx2", "avx512vbmi2"}
KERNEL_RATIO, OPENSSL_RATIO, PYTHON_RATIO, TINY_NS = 0.9, 10, 20, 30


def run_library_bench(binary, repetitions, min_time, kernels):
    pattern = "^(memcpy|openssl_|(%s)/)" % kernels
    out = subprocess.run(
        [binary, "--benchmark_format=json", "--benchmark_repetitions=%d" % repetitions,
         "--benchmark_min_time=%s" % min_time, "--benchmark_filter=" + pattern],
        check=True, stdout=subprocess.PIPE, text=True).stdout
    report = json.loads(out)
    best = {}  # row -> (GB/s, ns per call), the best repetition's
    for b in report["benchmarks"]:
        if b.get("run_type") != "iteration" or b.get("error_occurred"):
            continue
        name = b.get("run_name", b["name"])
        scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b["time_unit"]]
        figure = (b["bytes_per_second"] / 1e9, b["cpu_time"] * scale)
        if name not in best or figure[0] > best[name][0]:
            best[name] = figure
    return report["context"], best


def time_python(repetitions):
    """GB/s of Python's encoders and decoders, the best of the repetitions."""
    rates = {}
    data = random.Random(42).randbytes(max(SIZES.values()))
    for size, n in SIZES.items():
        raw = data[:n]
        for layout, (encode, decode) in LAYOUTS.items():
            text = encode(raw)
            for what, call, arg in (("encode", encode, raw), ("decode", decode, text)):
                calls = max(1, (64 << 20) // n)
                best = min(timeit.repeat(lambda: call(arg), number=calls, repeat=repetitions))
                rates[(what + layout, size)] = len(arg) * calls / best / 1e9
    return rates


def cpu_name():
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown CPU"


def ratio(a, b):
    return a / b if a is not None and b else None


def cell(value, form):
    return form % value if value is not None else "-"


def main():
    parser = argparse.ArgumentParser(description="Times the library against its peers.")
    parser.add_argument("library_bench", nargs="?",
                        default=os.path.join(ROOT, "build-bench", "bench", "library_bench"))
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--min-time", default="0.2")
    parser.add_argument("--kernels", default=".*", help="regular expression of kernel names")
    args = parser.parse_args()
    if not os.access(args.library_bench, os.X_OK):
        sys.exit("library_compare: no library_bench at %s: configure with -DTESSALY_BENCH=ON"
                 % args.library_bench)

    print("Running %s and Python %s, best of %d repetitions ..."
          % (args.library_bench, sys.version.split()[0], args.repetitions), file=sys.stderr)
    context, best = run_library_bench(args.library_bench, args.repetitions, args.min_time,
                                      args.kernels)
    python = time_python(args.repetitions)
    kernels = []
    for name in best:
        kernel = name.split("/")[0]
        if name.count("/") == 2 and kernel not in kernels:
            kernels.append(kernel)

    print("CPU: %s, %d cores; load %s; Python %s" % (
        cpu_name(), context.get("num_cpus", 0),
        ", ".join("%.2f" % x for x in context.get("load_avg", [])), sys.version.split()[0]))
    if "openssl_encode/64KiB" not in best:
        print("No OpenSSL rows: library_bench was built without libssl-dev.")
    print()
    for size in SIZES:
        print("%-8s  memcpy %.1f GB/s; OpenSSL encode %s, decode %s GB/s" % (
            size, best.get("memcpy/" + size, (0,))[0],
            cell(best.get("openssl_encode/" + size, (None,))[0], "%.2f"),
            cell(best.get("openssl_decode/" + size, (None,))[0], "%.2f")))
    print()
    header = ("Kernel", "Row", "Size", "GB/s", "kernel", "x kernel", "x OpenSSL", "Python",
              "x Python")
    form = "%-12s %-16s %-6s %7s %7s %9s %10s %7s %9s"
    print(form % header)
    missed = []
    for kernel in kernels:
        for size in SIZES:
            for layout in LAYOUTS:
                for what in ("encode", "decode"):
                    row = what + layout
                    figure = best.get("%s/%s/%s" % (kernel, row, size))
                    if figure is None:
                        continue
                    rate = figure[0]
                    alone = best.get("%s/kernel_%s/%s" % (
                        kernel, what + ("" if layout == "_url" else layout), size), (None,))[0]
                    openssl = best.get("openssl_%s/%s" % (what, size), (None,))[0] \
                        if layout == "" else None
                    peer = python[(row, size)]
                    print(form % (kernel, row, size, "%.2f" % rate, cell(alone, "%.2f"),
                                  cell(ratio(rate, alone), "%.2f"),
                                  cell(ratio(rate, openssl), "%.1f"), "%.2f" % peer,
                                  cell(ratio(rate, peer), "%.1f")))
                    if size != TARGET_SIZE:
                        continue
                    where = "%s %s %s" % (kernel, row, size)
                    if layout != "_url" and alone and rate < KERNEL_RATIO * alone:
                        missed.append("%s: %.2f of the kernel, under %.1f"
                                      % (where, rate / alone, KERNEL_RATIO))
                    if kernel in FAST_KERNELS:
                        if openssl and rate < OPENSSL_RATIO * openssl:
                            missed.append("%s: %.1f times OpenSSL, under %d"
                                          % (where, rate / openssl, OPENSSL_RATIO))
                        if rate < PYTHON_RATIO * peer:
                            missed.append("%s: %.1f times Python, under %d"
                                          % (where, rate / peer, PYTHON_RATIO))
    print()
    print("One call on 16 bytes, ns (processor time):")
    for kernel in kernels:
        calls = []
        for what in ("encode", "decode"):
            figure = best.get("%s/%s/16B" % (kernel, what))
            if figure is None:
                continue
            calls.append("%s %.1f" % (what, figure[1]))
            if figure[1] >= TINY_NS:
                missed.append("%s %s 16B: %.1f ns, not under %d" % (kernel, what, figure[1],
                                                                     TINY_NS))
        print("  %-12s %s" % (kernel, ", ".join(calls)))
    print()
    if missed:
        print("Targets missed:")
        for line in missed:
            print("  " + line)
        return 1
    print("Every target met.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
