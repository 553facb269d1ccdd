#!/usr/bin/env bash
# Builds TypeRecovery and runs every test (library, command-line tool, C API).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTYPERECOVERY_CLI=ON -DTYPERECOVERY_TESTS=ON -DTYPERECOVERY_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build -j"$(nproc)" --output-on-failure
