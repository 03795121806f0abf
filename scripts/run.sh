#!/usr/bin/env bash
# Installs what is missing, builds the program and its two tools (not the tests), and starts
# Pixorta with this script's arguments (image files or folders to put into the list).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${PIXORTA_BUILD_DIR:-$ROOT/build}
bash "$ROOT/scripts/build.sh" --target pixorta --target pxconvert --target pixorta-batch
exec "$BUILD/bin/pixorta" "$@"
