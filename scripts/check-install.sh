#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds a program outside the
# tree against it, once with find_package(TypeRecovery) and once with pkg-config.
set -euo pipefail
build=${1:-build}
prefix=$(mktemp -d)
work=$(mktemp -d)
trap 'rm -rf "$prefix" "$work"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in include/typerecovery.h lib/libtyperecovery.so lib/pkgconfig/typerecovery.pc \
         lib/cmake/TypeRecovery/TypeRecoveryConfig.cmake bin/typerecovery; do
  [ -e "$prefix/$f" ] || { echo "missing after install: $f"; exit 1; }
done
cat > "$work/main.cpp" <<'CPP'
#include <typerecovery.h>
#include <cstdio>
int main() {
  CTypeRecoveryManager* m = TypeRecovery_CreateManager(1, [](uintptr_t, uint32_t f, uint32_t*,
      const char16_t*, uint64_t, uint64_t, uint32_t, const tag_PictureInfo*) { return f; }, nullptr);
  TypeRecovery_AddAllTypes(m);
  CDynArray<tag_FileTypeProperty> types;
  unsigned n = TypeRecovery_GetAllSupportedFileTypes(m, &types);
  TypeRecovery_CloseManager(m);
  std::printf("%u types\n", n);
  return m == nullptr;
}
CPP
cat > "$work/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.16)
project(outside CXX)
set(CMAKE_CXX_STANDARD 17)
find_package(TypeRecovery REQUIRED)
add_executable(outside main.cpp)
target_link_libraries(outside PRIVATE TypeRecovery::typerecovery)
CMAKE
cmake -S "$work" -B "$work/b" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/b" >/dev/null
LD_LIBRARY_PATH="$prefix/lib" "$work/b/outside"
PKG_CONFIG_PATH="$prefix/lib/pkgconfig" c++ -std=c++17 "$work/main.cpp" -o "$work/outside-pc" \
  $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs typerecovery)
LD_LIBRARY_PATH="$prefix/lib" "$work/outside-pc"
echo "install check passed"
