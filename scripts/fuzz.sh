#!/usr/bin/env bash
# Fuzzes the engine's own decoders with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer (clang).
#   scripts/fuzz.sh [--jobs N] [--no-build] SECONDS [TARGET...]
# Targets: bmp gif ico tga pcx wbmp wmf decode webp jxl heif (default: all). The harnesses are built once,
# then N targets (default 1) run side by side, each for SECONDS of wall clock. Each target
# starts from the public test suites' files of its formats (or, for the formats the suites
# lack, the seeds made for it in tests/fuzz/seeds/TARGET) plus its kept crash inputs; its
# corpus grows in build-fuzz/corpus/TARGET, its log is build-fuzz/logs/TARGET.log and crash
# inputs land in build-fuzz/artifacts/TARGET (copy them to tests/fuzz/crashers/TARGET once
# fixed, so the normal test run replays them). A summary line per target closes the run; the
# exit status is 1 when any target left a crash input behind.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=1
BUILD_FIRST=1
while [ $# -gt 0 ]; do
  case $1 in
    --jobs) JOBS=${2:?--jobs needs a number}; shift 2;;
    --jobs=*) JOBS=${1#--jobs=}; shift;;
    --no-build) BUILD_FIRST=0; shift;;
    *) break;;
  esac
done
SECONDS_EACH=${1:?usage: scripts/fuzz.sh [--jobs N] [--no-build] SECONDS [TARGET...]}
shift
TARGETS=("$@")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=(bmp gif ico tga pcx wbmp wmf decode webp jxl heif)
BUILD=${PIXORTA_FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
TESTDATA=$ROOT/../shared/testdata

if [ "$BUILD_FIRST" -eq 1 ]; then
  bash "$ROOT/scripts/setup.sh"
  # Debian names the runtime package after the clang version; look for libFuzzer itself.
  if ! command -v clang++ >/dev/null 2>&1 ||
     [ ! -f "$(clang++ -print-resource-dir)/lib/linux/libclang_rt.fuzzer-x86_64.a" ]; then
    SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq clang libclang-rt-dev >/dev/null
  fi
  CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPIXORTA_FUZZ=ON -DPIXORTA_BUILD_BENCH=OFF >/dev/null
  ninja -C "$BUILD" -j2 $(printf 'fuzz_%s ' "${TARGETS[@]}")
fi

formats_of() {
  case $1 in ico) echo "ico cur";; wmf) echo "wmf emf";; decode) echo "all";; *) echo "$1";; esac
}

seed() {
  local t=$1 corpus=$BUILD/corpus/$1
  mkdir -p "$corpus" "$BUILD/artifacts/$t" "$BUILD/logs"
  if [ -f "$TESTDATA/manifest.tsv" ] && [ -z "$(ls -A "$corpus")" ]; then
    local fmts=" $(formats_of "$t") "
    tail -n +2 "$TESTDATA/manifest.tsv" | while IFS=$'\t' read -r path _ format _; do
      if [ -f "$TESTDATA/$path" ] && { [ "$fmts" = " all " ] || [[ "$fmts" == *" $format "* ]]; }; then
        cp "$TESTDATA/$path" "$corpus/$(echo "$path" | tr '/' '_')"
      fi
    done
  fi
  cp "$ROOT/tests/fuzz/seeds/$t"/* "$corpus/" 2>/dev/null || true
  cp "$ROOT/tests/fuzz/crashers/$t"/* "$corpus/" 2>/dev/null || true
}

run() {
  local t=$1
  UBSAN_OPTIONS=print_stacktrace=1 "$BUILD/fuzz/fuzz_$t" "$BUILD/corpus/$t" \
    -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2560 -malloc_limit_mb=2560 \
    -artifact_prefix="$BUILD/artifacts/$t/" -print_final_stats=1 >"$BUILD/logs/$t.log" 2>&1 || true
}

summary() {
  local t=$1 log=$BUILD/logs/$1.log units rate corpus crashes
  units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  crashes=$(ls -A "$BUILD/artifacts/$t" | tr '\n' ' ')
  # libFuzzer's own count of the inputs it keeps; the folder also holds the ones it replaced.
  corpus=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | sed -n 's/.*corp: \([0-9]*\).*/\1/p' | tail -1)
  printf '%-7s executions=%s exec/s=%s corpus=%s (%s files) crashes: %s\n' "$t" "${units:-?}" \
    "${rate:-?}" "${corpus:-?}" "$(ls -A "$BUILD/corpus/$t" | wc -l)" "${crashes:-none}"
  grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$log" | head -3 | sed 's/^/        /' || true
}

for t in "${TARGETS[@]}"; do seed "$t"; done
running=0
for t in "${TARGETS[@]}"; do
  if [ "$running" -ge "$JOBS" ]; then wait -n || true; running=$((running - 1)); fi
  echo "== fuzz_$t for $SECONDS_EACH s (log: $BUILD/logs/$t.log)"
  run "$t" &
  running=$((running + 1))
done
wait || true

status=0
for t in "${TARGETS[@]}"; do
  summary "$t"
  [ -z "$(ls -A "$BUILD/artifacts/$t")" ] || status=1
done
exit $status
