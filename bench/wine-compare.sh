#!/usr/bin/env bash
# Times a Windows build under Wine: encoding 128 MiB of random bytes to a
# file against decoding its 76-column encoding to a file, in the same
# rounds, and checks that encoding takes at most 1.5 times as long. Output
# goes to files rather than /dev/null, so that both pass through the
# runtime's stream layer as they would in use.
#
#   bench/wine-compare.sh BUILD/base64.exe      (RUNS=5 by default)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
exe=$(realpath "${1:?usage: bench/wine-compare.sh BUILD/base64.exe}")
runs=${RUNS:-5}
. "$here/../scripts/wine-env"
wine_start "$exe"

dir=$(mktemp -d "${TMPDIR:-/tmp}/tessaly-wine-bench.XXXXXX")
trap 'rm -rf "$dir"; "$wine_server" -k 2>/dev/null || true' EXIT
head -c $((128 << 20)) /dev/urandom >"$dir/in.bin"
"${wine_command[@]}" "$exe" "$dir/in.bin" >"$dir/in.b64"
"${wine_command[@]}" "$exe" -d "$dir/in.b64" | cmp -s - "$dir/in.bin" ||
  { echo "wine-compare.sh: the round trip differs" >&2; exit 1; }

clock_us() { printf -v "$1" %s "${EPOCHREALTIME/[.,]/}"; }
enc='' dec=''
for ((round = 1; round <= runs; ++round)); do
  clock_us t0
  "${wine_command[@]}" "$exe" "$dir/in.bin" >"$dir/out.b64"
  clock_us t1
  "${wine_command[@]}" "$exe" -d "$dir/in.b64" >"$dir/out.bin"
  clock_us t2
  enc+="$((t1 - t0)) " dec+="$((t2 - t1)) "
done
cmp -s "$dir/out.b64" "$dir/in.b64" || { echo "wine-compare.sh: encodings differ" >&2; exit 1; }

median() {  # microsecond samples -> seconds
  tr ' ' '\n' <<<"$1" | grep . | sort -n |
    awk '{ v[NR] = $1 } END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.3f", m / 1e6 }'
}
e=$(median "$enc") d=$(median "$dec")
ratio=$(awk -v a="$e" -v b="$d" 'BEGIN { printf "%.2f", a / b }')
verdict=$(awk -v r="$ratio" 'BEGIN { print r <= 1.5 ? "met" : "MISSED" }')
printf 'Medians of %d runs under %s, 128 MiB to files\n' "$runs" "${wine_command[*]}"
printf '  encode         %8s s\n  decode         %8s s\n' "$e" "$d"
printf '  encode/decode  %8s    (wanted <= 1.5: %s)\n' "$ratio" "$verdict"
[[ $verdict == met ]]
