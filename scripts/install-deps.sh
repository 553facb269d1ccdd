#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test TypeRecovery
# (or, with the argument `sample`, to build the tool and carve the sample;
# with `windows`, to cross-build for Windows and test under Wine).
# Does nothing (and needs no network) when everything is already there.
set -euo pipefail
packages=(build-essential cmake pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libcli11-dev nlohmann-json3-dev libssl-dev clang libclang-rt-14-dev
          python3-venv python3-pytest python3-setuptools
          # evidence images, partitions and file systems, and the tools that make the test disks
          libtsk-dev dosfstools mtools e2fsprogs fdisk gdisk ewf-tools qemu-utils afflib-tools openssl
          # xmllint, to validate the DFXML reports against their schema
          libxml2-utils)
# `install-deps.sh sample`: only what building the tool and carving the
# sample image needs (no test, benchmark or fuzzing tools).
if [ "${1:-}" = sample ]; then
  packages=(build-essential cmake pkg-config libcli11-dev nlohmann-json3-dev libssl-dev)
fi
# `install-deps.sh windows`: the posix-thread mingw-w64 compilers, Wine for
# 64-bit programs and the GoogleTest sources to build for Windows.
if [ "${1:-}" = windows ]; then
  packages=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 googletest libcli11-dev nlohmann-json3-dev)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q -o DPkg::Lock::Timeout=600 "${missing[@]}"
fi
