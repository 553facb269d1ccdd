#!/usr/bin/env bash
# Cross-builds TypeRecovery for Windows (typerecovery.dll, the tool and the
# tests, 64-bit and 32-bit, with mingw-w64) and tests it under Wine:
#  - the export list of both DLLs is exactly the public interface;
#  - the whole 64-bit test suite passes under wine64;
#  - the 32-bit suite runs only where 32-bit Wine starts programs, proven by
#    the marker line the C API test prints; otherwise one line says so;
#  - the Windows tool carves the sample image into the same files and
#    reports as the Linux tool, also from and into non-ASCII paths.
# Needs the Linux build of the tool (build/, made by scripts/run-tests.sh,
# or the folder TYPERECOVERY_LINUX_BUILD names; made here when missing).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

bash scripts/install-deps.sh windows

export WINEDEBUG=-all WINEPREFIX="$root/build-wine/prefix" WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wine64=/usr/lib/wine/wine64
# Make the Wine prefix first: the first program started in a fresh prefix
# waits for its set-up, longer than ctest lets a test listing take.
"$wine64" wineboot --init >/dev/null 2>&1 || true
wineserver -w 2>/dev/null || true
wineserver -p 2>/dev/null || true  # one server for all the runs below
trap 'wineserver -k 2>/dev/null || true' EXIT

# The 32-bit test program is built only where 32-bit Wine can run it: the
# DLL, the tool and the C test (the marker) are built always.
for arch in x86_64 i686; do
  build=build-win-$arch
  echo "== $arch: build"
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTYPERECOVERY_CLI=ON -DTYPERECOVERY_TESTS=ON -DTYPERECOVERY_WERROR=ON >/dev/null
  if [ "$arch" = x86_64 ]; then
    cmake --build "$build" -j"$jobs"
  else
    cmake --build "$build" -j"$jobs" --target typerecovery typerecovery_cli c_api_test
  fi
  bash scripts/check-dll-exports.sh "$build/bin/typerecovery.dll" "$arch-w64-mingw32-objdump"
done

# Each suite runs as one Wine process: one start-up instead of one per test.
run_suite() {  # loader build
  "$1" "$2/bin/typerecovery_tests.exe" --gtest_brief=1
  "$1" "$2/bin/c_api_test.exe"
}

echo "== x86_64: all tests under wine64"
run_suite "$wine64" build-win-x86_64

echo "== i686: tests under 32-bit Wine where it runs"
marker=$(wine build-win-i686/bin/c_api_test.exe 2>/dev/null | tr -d '\r' || true)
if [ "$marker" = "c_api_test: passed, 32-bit" ]; then
  cmake --build build-win-i686 -j"$jobs"
  run_suite wine build-win-i686
else
  echo "32-bit tests not run: 32-bit Wine cannot start i686 programs on this machine (wine32:i386 missing); the 32-bit DLL, tool and C test are compiled and the exports checked"
fi

echo "== the sample carved on Windows and on Linux"
linux=${TYPERECOVERY_LINUX_BUILD:-build}
if [ ! -x "$linux/cli/typerecovery" ]; then
  cmake -S . -B "$linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$linux" -j"$jobs" --target typerecovery_cli
fi
work=$(mktemp -d)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
# The same relative arguments in two folders. The DFXML records are
# compared file object by file object (the header names the program path,
# times and resource use); the summaries without their times.
fileobjects() { sed -n '/<fileobject>/,/<\/fileobject>/p' "$1"; }
untimed() {
  python3 -c 'import json, sys
s = json.load(open(sys.argv[1]))
for key in ("command_line", "start_time", "end_time", "seconds"): s.pop(key, None)
print(json.dumps(s, sort_keys=True))' "$1"
}
carve() {  # folder program...
  local folder=$1
  shift
  mkdir -p "$work/$folder"
  cp samples/sample.img "$work/$folder/sample.img"
  (cd "$work/$folder" &&
   "$@" carve sample.img -o out --report report.xml --format dfxml --hash sha256 -q >summary.txt &&
   "$@" scan sample.img -o report.jsonl --hash md5 -q &&
   "$@" scan sample.img -o report.csv --format csv -q &&
   mkdir -p "Käse 日本語" && cp sample.img "Käse 日本語/образ.img" &&
   "$@" carve "Käse 日本語/образ.img" -o "выход ü" -q >/dev/null)
}
carve linux "$root/$linux/cli/typerecovery"
carve windows "$wine64" "$root/build-win-x86_64/bin/typerecovery.exe"
L=$work/linux W=$work/windows
carved=(-x 'report*' -x '.typerecovery*')
diff -r "${carved[@]}" "$L/out" "$W/out"
diff -r "${carved[@]}" "$L/выход ü" "$W/выход ü"
diff -r "${carved[@]}" "$L/out" "$W/выход ü"
for f in report.xml out/report.xml; do diff <(fileobjects "$L/$f") <(fileobjects "$W/$f"); done
diff <(untimed "$L/out/report.json") <(untimed "$W/out/report.json")
for f in report.jsonl report.csv; do cmp "$L/$f" "$W/$f"; done
# The summary differs only in the measured time and speed.
diff <(grep -v '^scanned ' "$L/summary.txt") <(grep -v '^scanned ' "$W/summary.txt")
echo "Windows carve of the sample: $(find "$W/out" -mindepth 2 -type f | wc -l) files, the audit, the summary and 3 reports, the same as on Linux"
