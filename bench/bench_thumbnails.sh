#!/usr/bin/env bash
# How long thumbnails take, beside the floor: libjpeg-turbo's smallest decode of the same photos
# (djpeg -scale 1/8, one process per file, output discarded).
#   1. pxconvert --thumbnail 92 over all photos in one process    goal: at most 1.15 x the floor
#   2. adding all photos to the image list until every thumbnail is drawn (CPU time)
#                                                                 goal: at most 1.3 x the floor
# Usage: bench/bench_thumbnails.sh [PHOTO_FOLDER] [RUNS]
# CPU time (user + system) is compared, the best of RUNS runs (default 5): the machine is
# shared, and a run that was merely descheduled says nothing about the code. Wall times are
# printed beside it.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
PHOTOS=${1:-$ROOT/../photos}
RUNS=${2:-5}
BUILD=${PIXORTA_BUILD_DIR:-$ROOT/build}

if [ ! -f "$PHOTOS/photo01.jpg" ]; then
  bash "$ROOT/../shared/photos/fetch-photos.sh" "$PHOTOS"
fi
bash "$ROOT/scripts/build.sh" --target pxconvert --target bench_imagelist >/dev/null
command -v djpeg >/dev/null || { echo "djpeg is missing (libjpeg-turbo-progs)" >&2; exit 1; }

mapfile -t FILES < <(ls "$PHOTOS"/photo*.jpg | sort)
[ ${#FILES[@]} -gt 0 ] || { echo "no photos in $PHOTOS" >&2; exit 1; }
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

TIMEFORMAT='%R %U %S'
# Prints "wall cpu" of the command (children included).
measure() { { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }'; }
djpeg_all() { for f in "${FILES[@]}"; do djpeg -scale 1/8 "$f" >/dev/null; done; }
pxconvert_all() { "$BUILD/bin/pxconvert" --thumbnail 92 --output-folder "$WORK/thumbs" "${FILES[@]}"; }

best() { sort -n -k2 | head -n1; }
floor=() ; convert=() ; list=()
for ((i = 0; i < RUNS; i++)); do
  floor+=("$(measure djpeg_all)")
  convert+=("$(measure pxconvert_all)")
  # The list's own figure: adding and repainting only, without starting the process.
  list+=("$("$BUILD/bench/bench_imagelist" "${FILES[@]}" 2>/dev/null | awk '{ printf "%.3f %.3f\n", $4, $12 }')")
done
F=$(printf '%s\n' "${floor[@]}" | best)
C=$(printf '%s\n' "${convert[@]}" | best)
L=$(printf '%s\n' "${list[@]}" | best)

echo "photos: ${#FILES[@]} in $PHOTOS, $(nproc) cores, best of $RUNS runs (CPU seconds; wall beside)"
report() { # name "wall cpu" goal
  awk -v name="$1" -v w="${2% *}" -v c="${2#* }" -v fw="${F% *}" -v fc="${F#* }" -v goal="$3" 'BEGIN {
    r = c / fc
    printf "%-40s cpu %6.3f s  wall %6.3f s   %.2f x the floor (goal %s)%s\n",
           name, c, w, r, goal, (goal != "" && r > goal + 0) ? "  OVER" : "" }'
}
report "djpeg -scale 1/8 (the floor)" "$F" ""
report "pxconvert --thumbnail 92" "$C" 1.15
report "image list: add and repaint" "$L" 1.3
