#!/usr/bin/env bash
# Takes the README's screenshots: the start window, and a Server and a Client
# window after a short exchange, under Xvfb at 96 dpi.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test
command -v import >/dev/null || scripts/setup.sh docs
cmake --preset release >/dev/null
cmake --build --preset release --target vesk
exec tests/isolated.sh bash scripts/screenshots-inner.sh build/release/app/vesk docs/screenshots
