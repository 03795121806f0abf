#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Widget tests run on Qt's offscreen
# platform, so no display is needed. Extra arguments go to ctest (for example -R engine).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${PIXORTA_BUILD_DIR:-$ROOT/build}
bash "$ROOT/scripts/build.sh"
export QT_QPA_PLATFORM=offscreen
cd "$BUILD"
ctest --output-on-failure -j2 --timeout 900 "$@"
