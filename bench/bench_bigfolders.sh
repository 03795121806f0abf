#!/usr/bin/env bash
# Big folders in the image list: the 33 photos copied (not linked: one file reached twice is
# one entry) to 330 and 3,300 files, added to the list as a user adds a folder.
#   entries     time until every entry shows              goal: at most 1 s for 3,300 files
#   thumbnails  time until every thumbnail is drawn       goal: at most 1.1 x the floor
#   stall       longest the event loop did not run        goal: at most 50 ms
#   peak        peak memory                               goal: 120 MB + 40 KB per entry
# The floor: djpeg -scale 1/8 over the same files, spread over the cores (one process per file,
# as many at once as there are cores), wall time.
# Usage: bench/bench_bigfolders.sh [PHOTO_FOLDER] [RUNS]
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
PHOTOS=${1:-$ROOT/../photos}
RUNS=${2:-3}
BUILD=${PIXORTA_BUILD_DIR:-$ROOT/build}

if [ ! -f "$PHOTOS/photo01.jpg" ]; then
  bash "$ROOT/../shared/photos/fetch-photos.sh" "$PHOTOS"
fi
bash "$ROOT/scripts/build.sh" --target bench_imagelist >/dev/null
command -v djpeg >/dev/null || { echo "djpeg is missing (libjpeg-turbo-progs)" >&2; exit 1; }
mapfile -t PHOTO_FILES < <(ls "$PHOTOS"/photo*.jpg | sort)
[ ${#PHOTO_FILES[@]} -gt 0 ] || { echo "no photos in $PHOTOS" >&2; exit 1; }
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
CORES=$(nproc)

echo "photos: ${#PHOTO_FILES[@]} in $PHOTOS, $CORES cores, best of $RUNS runs"
for COPIES in 10 100; do
  DIR="$WORK/copies$COPIES"
  mkdir -p "$DIR"
  for ((c = 0; c < COPIES; c++)); do
    for f in "${PHOTO_FILES[@]}"; do cp "$f" "$DIR/$(printf '%03d' "$c")-$(basename "$f")"; done
  done
  COUNT=$(ls "$DIR" | wc -l)
  floor=999999
  for ((i = 0; i < RUNS; i++)); do
    start=$(date +%s.%N)
    find "$DIR" -name '*.jpg' -print0 | xargs -0 -P "$CORES" -n 1 sh -c 'djpeg -scale 1/8 "$0" >/dev/null'
    end=$(date +%s.%N)
    floor=$(echo "$start $end $floor" | awk '{ t = $2 - $1; print (t < $3) ? t : $3 }')
  done
  best=""
  for ((i = 0; i < RUNS; i++)); do
    line=$("$BUILD/bench/bench_imagelist" "$DIR" 2>/dev/null || true)
    # The run with the shortest time to the last thumbnail.
    if [ -z "$best" ] || awk -v a="$line" -v b="$best" 'BEGIN { split(a, x); split(b, y); exit !(x[4] < y[4]) }'; then
      best=$line
    fi
  done
  awk -v line="$best" -v floor="$floor" -v n="$COUNT" 'BEGIN {
    split(line, f)
    entries = f[2]; thumbs = f[4]; stall = f[6]; peak = f[8]; items = f[10]
    limit = 120 + 40 * n / 1024
    printf "%5d files: entries %.3f s (goal 1 s for 3,300)  thumbnails %.3f s = %.2f x the floor %.3f s (goal 1.1)  stall %d ms (goal 50)  peak %.0f MB (goal %.0f)  items %d\n",
           n, entries, thumbs, thumbs / floor, floor, stall, peak, limit, items }'
done
