#!/usr/bin/env bash
# Installs the Python package with pip into a fresh virtual environment and
# runs its tests against a built library and tool.
# Usage: run-python-tests.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: run-python-tests.sh BUILD_DIR}" && pwd)
python=/usr/bin/python3
[ -x "$python" ] || python=python3
venv="$build/python-venv"
rm -rf "$venv"
# The system's pytest and setuptools are used; nothing is downloaded.
"$python" -m venv --system-site-packages "$venv"
"$venv/bin/python" -m pip install --quiet --no-build-isolation --no-index --no-deps \
  --no-cache-dir "$root" >/dev/null
# Tested as installed, not from the source tree.
cd "$venv"
TYPERECOVERY_LIBRARY="$build/libtyperecovery.so" TYPERECOVERY_CLI="$build/cli/typerecovery" \
  "$venv/bin/python" -m pytest -q -p no:cacheprovider "$root/python/tests"
