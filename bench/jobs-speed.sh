#!/usr/bin/env bash
# How scan and carve scale with --jobs: times `typerecovery scan` and
# `typerecovery carve` with --jobs 1 and --jobs N (default: every core) on
# the mixed image of run-speed.sh, in alternation, ROUNDS rounds, and prints
# the median wall time of each, the speed-up N against 1, and the peak RSS.
# The outputs of every N are compared with those of --jobs 1 (they must be
# the same). The machine is shared: compare ratios measured in one run.
#
# usage: bench/jobs-speed.sh [--size MIB] [--seed N] [--rounds N] [--jobs N]
#                            [--build DIR] [--work DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
size=256
seed=1
rounds=3
jobs=$(nproc)
build="$root/build"
work="${TMPDIR:-/tmp}/typerecovery-bench"
while [[ $# -gt 0 ]]; do
  case "$1" in
    --size) size=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
tool="$build/cli/typerecovery"
[[ -x "$tool" ]] || { echo "build the tool first ($tool)" >&2; exit 2; }
source "$here/bench-setup.sh"

run() {  # run MODE JOBS: prints "WALL CPU KIB"
  local out="$work/jobs-$1-$2"
  rm -rf "$out" "$out.jsonl"
  if [[ $1 == scan ]]; then
    env LD_LIBRARY_PATH="$build" "$measure" "$tool" scan -q -j "$2" "$image" -o "$out.jsonl"
  else
    env LD_LIBRARY_PATH="$build" "$measure" "$tool" carve -q -j "$2" "$image" -o "$out"
  fi
}
declare -A seconds rss
cat "$image" >/dev/null  # warm the page cache
for ((r = 1; r <= rounds; ++r)); do
  for mode in scan carve; do
    for j in 1 "$jobs"; do
      read -r s _ k < <(run "$mode" "$j")
      seconds[$mode$j]+="$s "
      rss[$mode$j]+="$k "
    done
  done
done
median() { tr ' ' '\n' | grep . | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
max() { tr ' ' '\n' | grep . | sort -g | tail -n 1; }
echo "image: $image ($bytes bytes), $rounds rounds, $(nproc) cores"
for mode in scan carve; do
  one=$(echo "${seconds[${mode}1]}" | median)
  many=$(echo "${seconds[$mode$jobs]}" | median)
  printf '%-5s --jobs 1: %7.2f s, %8s KiB peak; --jobs %s: %7.2f s, %8s KiB peak; speed-up %.2f\n' \
    "$mode" "$one" "$(echo "${rss[${mode}1]}" | max)" "$jobs" "$many" "$(echo "${rss[$mode$jobs]}" | max)" \
    "$(awk -v a="$one" -v b="$many" 'BEGIN {print a / b}')"
done
cmp -s "$work/jobs-scan-1.jsonl" "$work/jobs-scan-$jobs.jsonl" || { echo "SCAN REPORTS DIFFER" >&2; exit 1; }
diff -r -x 'report*' "$work/jobs-carve-1" "$work/jobs-carve-$jobs" >/dev/null ||
  { echo "CARVED TREES DIFFER" >&2; exit 1; }
echo "scan reports and carved trees of --jobs 1 and --jobs $jobs identical"
