#!/usr/bin/env bash
# Times the whole program against cat, openssl base64 and python3 -m base64
# on the same files, output to /dev/null, into a file and between pipes,
# and checks the throughput, memory and start-up targets. Every round runs
# each command once, in turn, so that a noisy machine slows all of them
# alike; the tables show medians over the rounds.
#
# The one way to measure, for the tables of the README and
# docs/performance.md: a Release build with its kernel_bench, capped at a
# kernel or not, timed with the defaults below.
#   cmake -S . -B build-CAP -DTESSALY_KERNEL_CAP=CAP -DTESSALY_BENCH=ON -DTESSALY_TESTS=OFF
#   cmake --build build-CAP --parallel 2
#   bench/compare.sh build-CAP/base64 [BASELINE]
# CAP is best (the default build) or a cap that configure offers
# (TESSALY_KERNEL_CAP in docs/design.md's table of options). BINARY
# defaults to build/base64. With BASELINE, another build's program, its
# round trip through a pipe is timed as well, in the same rounds as the
# new build's, so that a change can be held to it; every other row times
# BINARY alone.
#
# Read from the environment:
#   RUNS=5          rounds; the tables show each command's median
#   STARTUP_RUNS=500  starts of cat and of the program on 100 bytes, a round
#   PYTHON=1        time python3 -m base64 too (0 leaves it, and python3, out)
#   MIB=256         size of the random file; a smaller one for a quick look
#                   (its memory rows then compare 4 * MIB with MIN(64, MIB))
#   KEEP=0          1 keeps the files, in TMPDIR (3.8 GiB of them at MIB=256)
#   KERNEL_BENCH=BUILD/bench/kernel_bench  the kernel benchmark of the bounds
#   KERNEL=         the kernel whose rates make the bounds: by default the
#                   last, the best, that KERNEL_BENCH lists
# Needs openssl, GNU time (/usr/bin/time) and, with PYTHON=1, python3.
#
# Every ratio is the program's time over a yardstick's, so lower is
# better: cat in the same place, openssl base64, the program itself on
# text without spaces, or the bound. A layout's bound is the larger of
# cat's time there and the kernel's own time for those bytes, at the rate
# (GB/s) kernel_bench measures for that layout, printed beside it.
# Exits 0 when every target is met, 1 when any is missed (or on an error).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
binary=$(realpath "${1:-$here/../build/base64}")
baseline=${2:+$(realpath "$2")}
runs=${RUNS:-5}
startup_runs=${STARTUP_RUNS:-500}
with_python=${PYTHON:-1}
mib=${MIB:-256}
[[ $mib =~ ^[1-9][0-9]*$ ]] || { echo "compare.sh: MIB is a whole number of MiB, not $mib" >&2; exit 1; }
small_mib=$((mib < 64 ? mib : 64))
large_mib=$((4 * mib))

tools=(openssl /usr/bin/time)
[[ $with_python == 1 ]] && tools+=(python3)
for tool in "${tools[@]}"; do
  command -v "$tool" >/dev/null || { echo "compare.sh: $tool is needed" >&2; exit 1; }
done
[[ -x $binary ]] || { echo "compare.sh: no program at $binary" >&2; exit 1; }

dir=$(mktemp -d "${TMPDIR:-/tmp}/tessaly-bench.XXXXXX")
[[ ${KEEP:-0} == 1 ]] || trap 'rm -rf "$dir"' EXIT

echo "Making the input files in $dir ..." >&2
head -c $((mib << 20)) /dev/urandom >"$dir/random.bin"
"$binary" "$dir/random.bin" >"$dir/random.b64"
# The same text with CR LF line ends, and with a space before each line end.
sed 's/$/\r/' "$dir/random.b64" >"$dir/crlf.b64"
sed 's/$/ /' "$dir/random.b64" >"$dir/spaces.b64"
head -c $((small_mib << 20)) "$dir/random.bin" >"$dir/m64.bin"
for _ in 1 2 3 4; do cat "$dir/random.bin"; done >"$dir/g1.bin"
"$binary" "$dir/m64.bin" >"$dir/m64.b64"
"$binary" "$dir/g1.bin" >"$dir/g1.b64"
: >"$dir/empty"
head -c 100 "$dir/random.bin" >"$dir/small.bin"
# The new files' write-back would run beside the timings.
sync
# Warm the page cache, and check the round trip before timing anything.
"$binary" -d "$dir/random.b64" | cmp -s - "$dir/random.bin" ||
  { echo "compare.sh: the round trip differs" >&2; exit 1; }

# The kernel's own rates, in bytes of input a second: encoding into
# 76-column lines, and decoding such lines ended by LF, by CR LF, and by a
# space and LF.
kernel_bench=${KERNEL_BENCH:-$(dirname "$binary")/bench/kernel_bench}
declare -A rate
if [[ -x $kernel_bench ]]; then
  kernel=${KERNEL:-$("$kernel_bench" --benchmark_list_tests | tail -n 1 | cut -d/ -f1)}
  echo "Measuring the $kernel kernel with $kernel_bench ..." >&2
  while read -r name bytes; do rate[${name#*/}]=$bytes; done < <(
    "$kernel_bench" --benchmark_filter="^$kernel/(encode_lines76|decode_lines76|decode_crlf76|decode_spaces76)\$" \
      --benchmark_repetitions=3 --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null |
      awk -F, '$1 ~ /_median"$/ { gsub(/"/, "", $1); sub(/_median$/, "", $1); print $1, $6 }')
else
  kernel="unknown (no kernel_bench at $kernel_bench: configure with -DTESSALY_BENCH=ON)"
fi

names=(cat_bin tessaly_enc openssl_enc cat_b64 tessaly_dec openssl_dec cat_crlf tessaly_dec_crlf
       cat_spaces tessaly_dec_spaces cat_file_bin tessaly_file_enc cat_file_b64 tessaly_file_dec cat_pipe_bin tessaly_pipe_enc cat_pipe_b64 tessaly_pipe_dec cat_round_trip
       tessaly_round_trip)
declare -A cmd=(
  [cat_bin]="cat $dir/random.bin"
  [tessaly_enc]="$binary $dir/random.bin"
  [openssl_enc]="openssl base64 -in $dir/random.bin"
  [cat_b64]="cat $dir/random.b64"
  [tessaly_dec]="$binary -d $dir/random.b64"
  [openssl_dec]="openssl base64 -d -in $dir/random.b64"
  [cat_crlf]="cat $dir/crlf.b64"
  [tessaly_dec_crlf]="$binary -d $dir/crlf.b64"
  [cat_spaces]="cat $dir/spaces.b64"
  [tessaly_dec_spaces]="$binary -d $dir/spaces.b64"
  # Into a file, which the write must fill: the file is truncated each time.
  [cat_file_bin]="cat $dir/random.bin >$dir/out"
  [tessaly_file_enc]="$binary $dir/random.bin >$dir/out"
  [cat_file_b64]="cat $dir/random.b64 >$dir/out"
  [tessaly_file_dec]="$binary -d $dir/random.b64 >$dir/out"
  # Where users put a filter: between two pipes, with cat in its place as
  # the yardstick, and the program decoding its own output.
  [cat_pipe_bin]="cat $dir/random.bin | cat | cat"
  [tessaly_pipe_enc]="cat $dir/random.bin | $binary | cat"
  [cat_pipe_b64]="cat $dir/random.b64 | cat | cat"
  [tessaly_pipe_dec]="cat $dir/random.b64 | $binary -d | cat"
  [cat_round_trip]="cat $dir/random.bin | cat"
  [tessaly_round_trip]="$binary $dir/random.bin | $binary -d"
  [baseline_round_trip]="$baseline $dir/random.bin | $baseline -d"
  [python_enc]="python3 -m base64 -e $dir/random.bin"
  [python_dec]="python3 -m base64 -d $dir/random.b64"
)
[[ $with_python == 1 ]] && names+=(python_enc python_dec)
[[ -n $baseline ]] && names+=(baseline_round_trip)

# Wall clock in microseconds, read without starting a subshell.
clock_us() { printf -v "$1" %s "${EPOCHREALTIME/[.,]/}"; }
declare -A samples
time_once() {  # name: appends one wall time in seconds
  local t0 t1
  # Truncating the last command's output file, whose size differs from
  # command to command, is no part of this one's time, nor is the
  # file system's bookkeeping of it, which made the file rows wander
  # between 0.1 and 0.6 s.
  rm -f "$dir/out"
  sync
  clock_us t0
  eval "${cmd[$1]}" >/dev/null
  clock_us t1
  samples[$1]+="$(( t1 - t0 )) "
}
startup_once() {  # startup_runs runs of cat and of the program on 100 bytes, alternating
  local t0 t1 t2 i cat_sum=0 own_sum=0
  for ((i = 0; i < startup_runs; ++i)); do
    clock_us t0
    cat "$dir/small.bin" >/dev/null
    clock_us t1
    "$binary" "$dir/small.bin" >/dev/null
    clock_us t2
    cat_sum=$(( cat_sum + t1 - t0 ))
    own_sum=$(( own_sum + t2 - t1 ))
  done
  samples[startup_cat]+="$cat_sum "
  samples[startup_tessaly]+="$own_sum "
}
median() {  # microsecond samples -> seconds
  tr ' ' '\n' <<<"$1" | grep . | sort -n |
    awk '{ v[NR] = $1 } END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.4f", m / 1e6 }'
}

for ((round = 1; round <= runs; ++round)); do
  echo "Round $round of $runs ..." >&2
  for name in "${names[@]}"; do time_once "$name"; done
  startup_once
done

# Address-space randomisation moves the buffers across page boundaries and
# makes the peak wander by up to 200 KiB from run to run; without it the
# peak is the same on every run.
norandom=()
setarch -R true 2>/dev/null && norandom=(setarch -R)
peak() { "${norandom[@]}" /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }  # KiB
rss_enc_empty=$(peak "$binary" "$dir/empty")
rss_enc_64m=$(peak "$binary" "$dir/m64.bin")
rss_enc_1g=$(peak "$binary" "$dir/g1.bin")
rss_dec_empty=$(peak "$binary" -d "$dir/empty")
rss_dec_64m=$(peak "$binary" -d "$dir/m64.b64")
rss_dec_1g=$(peak "$binary" -d "$dir/g1.b64")

declare -A m
for name in "${names[@]}" startup_cat startup_tessaly; do m[$name]=$(median "${samples[$name]}"); done

printf '\nMedians of %d runs, %d MiB of random bytes, output to /dev/null unless named\n\n' "$runs" "$mib"
printf '| %-44s | %9s |\n' "Command" "Seconds" "$(printf '%.0s-' {1..44})" "---------"
row() { printf '| %-44s | %9s |\n' "$1" "$2"; }
row "cat ($mib MiB)" "${m[cat_bin]}"
row "base64 (encode)" "${m[tessaly_enc]}"
row "openssl base64" "${m[openssl_enc]}"
[[ $with_python == 1 ]] && row "python3 -m base64 -e" "${m[python_enc]}"
row "cat (its 76-column encoding)" "${m[cat_b64]}"
row "base64 -d" "${m[tessaly_dec]}"
row "openssl base64 -d" "${m[openssl_dec]}"
[[ $with_python == 1 ]] && row "python3 -m base64 -d" "${m[python_dec]}"
row "cat (the encoding, CR LF line ends)" "${m[cat_crlf]}"
row "base64 -d (CR LF line ends)" "${m[tessaly_dec_crlf]}"
row "cat (the encoding, a space before each end)" "${m[cat_spaces]}"
row "base64 -d (a space before each line end)" "${m[tessaly_dec_spaces]}"
row "cat f > file" "${m[cat_file_bin]}"
row "base64 f > file" "${m[tessaly_file_enc]}"
row "cat f.b64 > file" "${m[cat_file_b64]}"
row "base64 -d f.b64 > file" "${m[tessaly_file_dec]}"
row "cat f | cat | cat" "${m[cat_pipe_bin]}"
row "cat f | base64 | cat" "${m[tessaly_pipe_enc]}"
row "cat f.b64 | cat | cat" "${m[cat_pipe_b64]}"
row "cat f.b64 | base64 -d | cat" "${m[tessaly_pipe_dec]}"
row "cat f | cat" "${m[cat_round_trip]}"
row "base64 f | base64 -d" "${m[tessaly_round_trip]}"
[[ -n $baseline ]] && row "baseline: base64 f | base64 -d" "${m[baseline_round_trip]}"
row "cat, $startup_runs runs on 100 bytes" "${m[startup_cat]}"
row "base64, $startup_runs runs on 100 bytes" "${m[startup_tessaly]}"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
gbps() { awk -v r="${rate[$1]:-0}" 'BEGIN { if (r > 0) printf "%.1f", r / 1e9; else printf "-" }'; }
missed=0
check() {  # label value comparison target
  local verdict
  verdict=$(awk -v v="$2" -v t="$4" -v op="$3" \
    'BEGIN { ok = op == "<=" ? v <= t : v >= t; print ok ? "met" : "MISSED" }')
  printf '| %-44s | %9s | %-9s | %-6s |\n' "$1" "$2" "$3 $4" "$verdict"
  [[ $verdict == met ]] || missed=1
}
printf '\nTargets: each ratio is the program'"'"'s time over the yardstick'"'"'s, lower is better\n\n'
printf '| %-44s | %9s | %-9s | %-6s |\n' "Target" "Measured" "Wanted" "Result"
printf '|%s|%s|%s|%s|\n' "$(printf '%.0s-' {1..46})" "-----------" "-----------" "--------"
check "encode time / openssl's" "$(ratio "${m[tessaly_enc]}" "${m[openssl_enc]}")" "<=" 0.25
check "decode time / openssl's" "$(ratio "${m[tessaly_dec]}" "${m[openssl_dec]}")" "<=" 0.1
check "decode time, spaces / without them" "$(ratio "${m[tessaly_dec_spaces]}" "${m[tessaly_dec]}")" "<=" 1.5
check "pipeline encode / cat in its place" "$(ratio "${m[tessaly_pipe_enc]}" "${m[cat_pipe_bin]}")" "<=" 1
check "pipeline decode / cat in its place" "$(ratio "${m[tessaly_pipe_dec]}" "${m[cat_pipe_b64]}")" "<=" 1
[[ -n $baseline ]] &&
  check "round trip / the baseline's" "$(ratio "${m[tessaly_round_trip]}" "${m[baseline_round_trip]}")" "<=" 1
check "start-up: base64 time / cat time" "$(ratio "${m[startup_tessaly]}" "${m[startup_cat]}")" "<=" 1
# With a vector kernel the coding is a small part of the time, so the
# program should keep up with cat into a file too.
if [[ $kernel != scalar ]]; then
  check "file to file, encode / cat" "$(ratio "${m[tessaly_file_enc]}" "${m[cat_file_bin]}")" "<=" 1
  check "file to file, decode / cat" "$(ratio "${m[tessaly_file_dec]}" "${m[cat_file_b64]}")" "<=" 1
fi
check "encode peak RSS, $large_mib MiB - $small_mib MiB (KiB)" "$((rss_enc_1g - rss_enc_64m))" "<=" 64
check "encode peak RSS, $small_mib MiB - empty (KiB)" "$((rss_enc_64m - rss_enc_empty))" "<=" 4096
check "decode peak RSS, $large_mib MiB - $small_mib MiB (KiB)" "$((rss_dec_1g - rss_dec_64m))" "<=" 64
check "decode peak RSS, $small_mib MiB - empty (KiB)" "$((rss_dec_64m - rss_dec_empty))" "<=" 4096

# Each layout against its bound: how much of the reading and the coding
# still goes one after the other.
bin_bytes=$(stat -c %s "$dir/random.bin")
b64_bytes=$(stat -c %s "$dir/random.b64")
crlf_bytes=$(stat -c %s "$dir/crlf.b64")
spaces_bytes=$(stat -c %s "$dir/spaces.b64")
bound() {  # cat-seconds bytes rate-name -> seconds
  awk -v c="$1" -v n="$2" -v r="${rate[$3]:-0}" 'BEGIN { k = r > 0 ? n / r : 0; printf "%.4f", (k > c ? k : c) }'
}
printf '\nBounds: the larger of cat'"'"'s time and the %s kernel'"'"'s own at the rate kernel_bench measures (GB/s of input)\n\n' "$kernel"
printf '| %-34s | %7s | %9s | %9s | %9s | %-9s | %-6s |\n' "Layout" "GB/s" "Bound (s)" "/ cat" "/ bound" "Wanted" "Result"
printf '|%s|%s|%s|%s|%s|%s|%s|\n' "$(printf '%.0s-' {1..36})" "---------" "-----------" "-----------" "-----------" "-----------" "--------"
against_bound() {  # label own-seconds cat-seconds bytes rate-name
  local b r verdict
  b=$(bound "$3" "$4" "$5")
  r=$(ratio "$2" "$b")
  verdict=$(awk -v v="$r" 'BEGIN { print v <= 1.1 ? "met" : "MISSED" }')
  printf '| %-34s | %7s | %9s | %9s | %9s | %-9s | %-6s |\n' \
    "$1" "$(gbps "$5")" "$b" "$(ratio "$2" "$3")" "$r" "<= 1.1" "$verdict"
  [[ $verdict == met ]] || missed=1
}
against_bound "file to /dev/null, encode" "${m[tessaly_enc]}" "${m[cat_bin]}" "$bin_bytes" encode_lines76
against_bound "file to /dev/null, decode" "${m[tessaly_dec]}" "${m[cat_b64]}" "$b64_bytes" decode_lines76
against_bound "file to /dev/null, decode CR LF" "${m[tessaly_dec_crlf]}" "${m[cat_crlf]}" "$crlf_bytes" decode_crlf76
against_bound "file to /dev/null, decode spaces" "${m[tessaly_dec_spaces]}" "${m[cat_spaces]}" "$spaces_bytes" decode_spaces76
against_bound "file to file, encode" "${m[tessaly_file_enc]}" "${m[cat_file_bin]}" "$bin_bytes" encode_lines76
against_bound "file to file, decode" "${m[tessaly_file_dec]}" "${m[cat_file_b64]}" "$b64_bytes" decode_lines76
against_bound "pipes, encode" "${m[tessaly_pipe_enc]}" "${m[cat_pipe_bin]}" "$bin_bytes" encode_lines76
against_bound "pipes, decode" "${m[tessaly_pipe_dec]}" "${m[cat_pipe_b64]}" "$b64_bytes" decode_lines76

printf '\nPeak RSS in KiB (empty / %d MiB / %d MiB): encode %s / %s / %s, decode %s / %s / %s\n' \
  "$small_mib" "$large_mib" "$rss_enc_empty" "$rss_enc_64m" "$rss_enc_1g" "$rss_dec_empty" "$rss_dec_64m" "$rss_dec_1g"
if ((missed)); then
  echo "compare.sh: a target was missed (MISSED above): exit status 1" >&2
fi
exit "$missed"
