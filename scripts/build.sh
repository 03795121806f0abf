#!/usr/bin/env bash
# Configures and builds Pixorta into build/ (or $PIXORTA_BUILD_DIR). Extra arguments go to CMake.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${PIXORTA_BUILD_DIR:-$ROOT/build}
bash "$ROOT/scripts/setup.sh"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$BUILD" -j2
