#!/usr/bin/env bash
# What a carve costs beside a scan of the same source: carve runs one
# analysis per strip and writes the files, so it should take about what a
# scan takes plus what writing the carved bytes takes. Times the built tool
# on a mixed image (samples/sample.img repeated between stretches of random
# data), best of three runs each, and prints the three times and the ratio
# carve / (scan + writing). Figures from a shared machine are rough; compare
# them as ratios from one run.
#
#   bash bench/carve-vs-scan.sh [BUILD_DIR] [SIZE_MIB]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
size_mib=${2:-256}
tool="$build/cli/typerecovery"
[ -x "$tool" ] || { echo "build the tool first ($tool)"; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

image="$work/mixed.img"
while [ "$(stat -c %s "$image" 2>/dev/null || echo 0)" -lt $((size_mib << 20)) ]; do
  cat samples/sample.img >> "$image"
  head -c $((1 << 20)) /dev/urandom >> "$image"
done

best() {  # best of three wall-clock seconds of a command
  local best=""
  for _ in 1 2 3; do
    "$@" prepare
    local start end
    start=$(date +%s.%N)
    "$@" run
    end=$(date +%s.%N)
    best=$(echo "$start $end $best" | awk '{t = $2 - $1; if ($3 == "" || t < $3) print t; else print $3}')
  done
  echo "$best"
}
scan() { [ "$1" = run ] && "$tool" scan "$image" -q -o "$work/scan.jsonl" || true; rm -f "$work/scan.jsonl.typerecovery-state"; }
carve() { if [ "$1" = prepare ]; then rm -rf "$work/out"; else "$tool" carve "$image" -q -o "$work/out" >/dev/null; fi; }
write() { if [ "$1" = prepare ]; then rm -rf "$work/copy"; else cp -r "$work/out" "$work/copy" && sync -f "$work/copy"; fi; }

cat "$image" > /dev/null  # the source in the page cache for every run
t_scan=$(best scan)
t_carve=$(best carve)
t_write=$(best write)
files=$(find "$work/out" -type f | wc -l)
bytes=$(du -sb "$work/out" | cut -f1)
echo "source: $size_mib MiB; carve wrote $files files, $bytes bytes"
awk -v s="$t_scan" -v c="$t_carve" -v w="$t_write" 'BEGIN {
  printf "scan  %.2f s\ncarve %.2f s\nwriting the carved files (cp) %.2f s\n", s, c, w
  printf "carve / (scan + writing) = %.2f\n", c / (s + w) }'
