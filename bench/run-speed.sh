#!/usr/bin/env bash
# Speed benchmark of the typerecovery tool on a mixed disk image.
#
# Builds (once, deterministic from a seed) an image of real files from the
# project's fixtures and sample among random, zero, 0xFF and text filler,
# then times in alternation, ROUNDS rounds with every contender run back to
# back in each round: `cat` (reading speed), `typerecovery scan`,
# `typerecovery carve` and, with --with-peers only, PhotoRec. It prints the
# median MB/s of each, the ratios, and the peak resident memory of scan and
# carve. Every contender runs pinned to one core (--cpu, default 0).
#
# The scan records and the hashes of the carved files are compared with a
# reference saved for the same image (the first run saves it, or
# --save-reference replaces it), so a change that alters what is found
# shows here as a mismatch and the script fails.
#
# usage: bench/run-speed.sh [--size MIB] [--seed N] [--rounds N] [--with-peers]
#                           [--save-reference] [--build DIR] [--baseline DIR]
#                           [--cpu N] [--work DIR]
# --build names the build folder of the tool (default build/); --baseline
# a second one (another version) whose scan and carve join the rounds as
# scan@base and carve@base, so before and after are measured in one run.
# The machine is shared: compare ratios measured in one run, not MB/s
# across runs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")

size=1024
seed=1
rounds=3
peers=0
save=0
build="$root/build"
baseline=""
cpu=0
work="${TMPDIR:-/tmp}/typerecovery-bench"
while [[ $# -gt 0 ]]; do
  case "$1" in
    --size) size=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --with-peers) peers=1; shift ;;
    --save-reference) save=1; shift ;;
    --build) build=$2; shift 2 ;;
    --baseline) baseline=$2; shift 2 ;;
    --cpu) cpu=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

tool="$build/cli/typerecovery"
if [[ ! -x "$tool" ]]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j"$(nproc)" --target typerecovery_cli
fi
if [[ $peers -eq 1 ]] && ! command -v photorec >/dev/null; then
  if [[ -n "${CI:-}" ]]; then echo "PhotoRec is never installed in CI" >&2; exit 2; fi
  apt-get update >/dev/null && apt-get install -y testdisk >/dev/null
fi

source "$here/bench-setup.sh"
pin=()
command -v taskset >/dev/null && pin=(taskset -c "$cpu")

# One timed run: prints "WALL CPU KIB" of the command (its output discarded).
timed() { "${pin[@]}" "$measure" "$@"; }

# The output of an earlier run is moved aside, not deleted, and the moved
# ones go when the rounds are over: the file system would otherwise spend
# each new file's creation skipping the inodes freed seconds before (for
# about half a minute: leave that long between two runs of this script).
retired="$work/retired"
mkdir -p "$retired"
retire() { if [[ -e "$1" ]]; then mv "$1" "$(mktemp -d "$retired/XXXXXX")/"; fi; }

run_cat() { timed cat "$image"; }
run_scan() { timed env LD_LIBRARY_PATH="$build" "$tool" scan -q -j 1 "$image" -o "$work/scan.jsonl"; }
run_carve() {
  retire "$work/carve"
  timed env LD_LIBRARY_PATH="$build" "$tool" carve -q -j 1 "$image" -o "$work/carve"
}
run_scan@base() {
  timed env LD_LIBRARY_PATH="$baseline" "$baseline/cli/typerecovery" scan -q -j 1 "$image" -o "$work/scan-base.jsonl"
}
run_carve@base() {
  retire "$work/carve-base"
  timed env LD_LIBRARY_PATH="$baseline" "$baseline/cli/typerecovery" carve -q -j 1 "$image" -o "$work/carve-base"
}
run_photorec() {
  retire "$work/photorec"
  mkdir -p "$work/photorec"
  (cd "$work/photorec" && timed photorec /log /d "$work/photorec/recup_dir" /cmd "$image" \
     partition_none,options,paranoid,fileopt,everything,enable,wholespace,search)
}

contenders=(cat scan carve)
[[ -n "$baseline" ]] && contenders+=(scan@base carve@base)
[[ $peers -eq 1 ]] && contenders+=(photorec)
declare -A seconds cpus rss
cat "$image" >/dev/null  # warm the page cache
for ((r = 1; r <= rounds; ++r)); do
  for c in "${contenders[@]}"; do
    read -r s u k < <("run_$c")
    seconds[$c]+="$s "
    cpus[$c]+="$u "
    rss[$c]+="$k "
  done
done

rm -rf "$retired"

median() { tr ' ' '\n' | grep . | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
max() { tr ' ' '\n' | grep . | sort -g | tail -n 1; }
echo "image: $image ($bytes bytes), $rounds rounds, $(nproc) cores, each contender on one core"
echo "median wall and processor (user + system) time; MB/s of each; the peak RSS of all rounds"
printf '%-11s %8s %9s %8s %9s %12s\n' contender wall "MB/s" cpu "MB/s" "peak RSS"
declare -A speed cpuspeed
for c in "${contenders[@]}"; do
  s=$(echo "${seconds[$c]}" | median)
  u=$(echo "${cpus[$c]}" | median)
  speed[$c]=$(awk -v b="$bytes" -v s="$s" 'BEGIN {printf "%.1f", b / 1e6 / s}')
  cpuspeed[$c]=$(awk -v b="$bytes" -v s="$u" 'BEGIN {printf "%.1f", (s > 0 ? b / 1e6 / s : 0)}')
  printf '%-11s %8s %9s %8s %9s %8s KiB\n' "$c" "$s" "${speed[$c]}" "$u" "${cpuspeed[$c]}" \
    "$(echo "${rss[$c]}" | max)"
done
# Ratios of speed: by wall time, then by processor time.
ratio() {
  awk -v a="${speed[$1]}" -v b="${speed[$2]}" -v c="${cpuspeed[$1]}" -v d="${cpuspeed[$2]}" \
    'BEGIN {printf "%.3f (processor time %.3f)", a / b, (d > 0 ? c / d : 0)}'
}
echo "scan / cat:  $(ratio scan cat)"
echo "carve / cat: $(ratio carve cat)"
if [[ -n "$baseline" ]]; then
  echo "scan@base / cat: $(ratio scan@base cat); carve@base / cat: $(ratio carve@base cat)"
  echo "scan / scan@base: $(ratio scan scan@base); carve / carve@base: $(ratio carve carve@base)"
fi
if [[ $peers -eq 1 ]]; then
  echo "carve / photorec: $(ratio carve photorec)"
  [[ -n "$baseline" ]] && echo "carve@base / photorec: $(ratio carve@base photorec)"
  echo "photorec wrote $(du -sb "$work/photorec" | cut -f1) bytes;" \
       "carve wrote $(du -sb "$work/carve" | cut -f1) bytes"
fi

# What was found: the scan records and the carved files' hashes.
summary() {
  echo "# scan records"
  cat "$1"
  echo "# carved files"
  (cd "$2" && find . -mindepth 2 -type f -print0 | LC_ALL=C sort -z | xargs -0 -r sha256sum)
}
result="$work/result-$size-$seed.txt"
summary "$work/scan.jsonl" "$work/carve" >"$result"
reference="$work/reference-$size-$seed.txt"
if [[ -n "$baseline" ]]; then
  summary "$work/scan-base.jsonl" "$work/carve-base" >"$work/result-base-$size-$seed.txt"
  if cmp -s "$result" "$work/result-base-$size-$seed.txt"; then
    echo "outputs of the build and of the baseline identical"
  else
    echo "OUTPUTS DIFFER between build and baseline: diff $work/result-base-$size-$seed.txt $result" >&2
    exit 1
  fi
fi
if [[ $save -eq 1 || ! -f "$reference" ]]; then
  cp "$result" "$reference"
  echo "reference saved: $reference ($(grep -c '^{' "$result") scan records," \
       "$(grep -c '^[0-9a-f]\{64\} ' "$result") carved files)"
elif cmp -s "$result" "$reference"; then
  echo "outputs identical to the reference ($(grep -c '^{' "$result") scan records," \
       "$(grep -c '^[0-9a-f]\{64\} ' "$result") carved files)"
else
  echo "OUTPUTS DIFFER from the reference: diff $reference $result" >&2
  exit 1
fi
