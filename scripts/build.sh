#!/usr/bin/env bash
# Configures and builds Pixorta into build/ (or $PIXORTA_BUILD_DIR).
#   scripts/build.sh [--target T ...] [CMAKE-OPTION ...]
# Without --target everything is built (the program, its tools, the tests and benchmarks).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${PIXORTA_BUILD_DIR:-$ROOT/build}
targets=()
cmake_args=()
while [ $# -gt 0 ]; do
  case $1 in
    --target) targets+=(--target "${2:?--target needs a name}"); shift 2;;
    *) cmake_args+=("$1"); shift;;
  esac
done
bash "$ROOT/scripts/setup.sh"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${cmake_args[@]}" >/dev/null
cmake --build "$BUILD" -j2 "${targets[@]}"
