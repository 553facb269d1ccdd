# Sourced by the benchmark scripts: with here, root, work, size and seed set,
# makes (once, deterministic from the seed) the mixed image of real files
# from the project's fixtures and sample, and the measuring helper. Sets
# image, bytes and measure.
mkdir -p "$work"
image="$work/mixed-$size-$seed.img"
if [[ ! -f "$image" ]]; then
  echo "building $image ($size MiB, seed $seed)"
  mapfile -t inputs < <(find "$root/tests/data" "$root/samples" -type f ! -name '*.sh' ! -name '*.py' \
                          ! -name README ! -name '*.md' | LC_ALL=C sort)
  python3 "$here/make-image.py" "$image.part" "$size" "$seed" "${inputs[@]}"
  mv "$image.part" "$image"
fi
bytes=$(stat -c %s "$image")
measure="$work/measure"
[[ "$measure" -nt "$here/measure.c" ]] || cc -O2 -o "$measure" "$here/measure.c"
