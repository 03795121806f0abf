#!/usr/bin/env bash
# What the safety options cost, over the same real photos (load JPEG, resize to 50 %, save
# JPEG at quality 90, on every core):
#   the plan (--dry-run, headers only) beside the batch itself; the batch with --verify (every
#   result decoded once more); the batch in place, whose originals go into the undo journal,
#   and --undo putting them back; --auto-orient --keep-metadata.
# Prints the best wall time of each, and the ratios to the plain batch.
# Usage: bench/batch_safety.sh [PHOTO_FOLDER] [REPEATS]
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
PHOTOS=${1:-/tmp/pixorta-photos}
REPEATS=${2:-3}
BUILD=${PIXORTA_BUILD_DIR:-$ROOT/build}
BATCH=$BUILD/bin/pixorta-batch

[ -f "$PHOTOS/photo01.jpg" ] || bash "$ROOT/../shared/photos/fetch-photos.sh" "$PHOTOS"
bash "$ROOT/scripts/build.sh" --target pixorta-batch >/dev/null
mapfile -t FILES < <(ls "$PHOTOS"/photo*.jpg | sort)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# The journal of these runs stays in the work folder, never in the user's.
export XDG_STATE_HOME=$WORK/state

seconds() { # wall time of one run of the command
  local t0 t1
  t0=$(date +%s.%N); "$@" >/dev/null 2>&1 || true; t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }'
}
best() { # best of REPEATS runs, each after `prepare`
  local best="" t
  for _ in $(seq "$REPEATS"); do
    prepare
    t=$(seconds "$@")
    best=$(awk -v a="${best:-$t}" -v b="$t" 'BEGIN { print (b < a ? b : a) }')
  done
  echo "$best"
}
prepare() { rm -rf "$WORK/out" "$WORK/state"; mkdir -p "$WORK/out"; }
T_PLAN=$(best "$BATCH" --dry-run --resize 50% --output-folder "$WORK/out" "${FILES[@]}")
T_RUN=$(best "$BATCH" --resize 50% --output-folder "$WORK/out" "${FILES[@]}")
T_VERIFY=$(best "$BATCH" --verify --resize 50% --output-folder "$WORK/out" "${FILES[@]}")
T_META=$(best "$BATCH" --auto-orient --keep-metadata --resize 50% --output-folder "$WORK/out" "${FILES[@]}")
prepare() { rm -rf "$WORK/state" "$WORK/in"; mkdir -p "$WORK/in"; cp "${FILES[@]}" "$WORK/in/"; }
T_PLACE=$(best "$BATCH" --resize 50% --in-place "$WORK/in")
best_undo="" # the undo of the batch just run, each time after a fresh batch
for _ in $(seq "$REPEATS"); do
  prepare
  "$BATCH" --resize 50% --in-place "$WORK/in" >/dev/null 2>&1
  t=$(seconds "$BATCH" --undo)
  cmp -s "$WORK/in/$(basename "${FILES[0]}")" "${FILES[0]}" || { echo "undo did not restore" >&2; exit 1; }
  best_undo=$(awk -v a="${best_undo:-$t}" -v b="$t" 'BEGIN { print (b < a ? b : a) }')
done

ratio() { awk -v a="$1" -v b="$T_RUN" 'BEGIN { printf "%.2f", a / b }'; }
MB=$(du -cm "${FILES[@]}" | tail -1 | cut -f1)
printf '%d photos, %d MB, %d cores, best of %d\n' "${#FILES[@]}" "$MB" "$(nproc)" "$REPEATS"
printf '%-44s %7.2f s  x %s\n' "--dry-run (headers only)" "$T_PLAN" "$(ratio "$T_PLAN")"
printf '%-44s %7.2f s  x %s\n' "batch into a folder" "$T_RUN" "1.00"
printf '%-44s %7.2f s  x %s\n' "batch with --verify" "$T_VERIFY" "$(ratio "$T_VERIFY")"
printf '%-44s %7.2f s  x %s\n' "batch with --auto-orient --keep-metadata" "$T_META" "$(ratio "$T_META")"
printf '%-44s %7.2f s  x %s\n' "batch in place (originals into the journal)" "$T_PLACE" "$(ratio "$T_PLACE")"
printf '%-44s %7.2f s  x %s\n' "--undo of that batch" "$best_undo" "$(ratio "$best_undo")"
