#!/usr/bin/env bash
# Builds TypeRecovery and carves the bundled sample image into out/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh sample
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTYPERECOVERY_CLI=ON -DTYPERECOVERY_TESTS=OFF -DTYPERECOVERY_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)" --target typerecovery_cli
rm -rf out
./build/cli/typerecovery carve samples/sample.img -o out
