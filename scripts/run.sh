#!/usr/bin/env bash
# Installs what is missing, builds, and starts Pixorta with this script's arguments
# (image files or folders to put into the list).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${PIXORTA_BUILD_DIR:-$ROOT/build}
bash "$ROOT/scripts/build.sh"
exec "$BUILD/bin/pixorta" "$@"
