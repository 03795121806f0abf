#!/usr/bin/env bash
# The batch against the physical limit of this machine, over the same real photos (load JPEG,
# resize to 50 %, save JPEG at quality 90), in one run:
#   pixorta-batch --jobs 1, pixorta-batch on every core, libvips (vips resize 0.5 --kernel
#   linear, one process per core), ImageMagick (one process per core), and the floor:
#   libjpeg-turbo's djpeg of the originals plus cjpeg -quality 90 of the halves, spread over
#   every core.
# Prints each wall time, the ratios to the floor and to libvips, and pixorta-batch's peak
# memory beside the limit (N + 1 decoded photos + 100 MB).
# Usage: bench/batch_cores.sh [PHOTO_FOLDER] [REPEATS]   (installs vips, ImageMagick and
# libjpeg-turbo's tools when they are missing; needs root or sudo for that)
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
PHOTOS=${1:-/tmp/pixorta-photos}
REPEATS=${2:-3}
BUILD=${PIXORTA_BUILD_DIR:-$ROOT/build}
CORES=$(nproc)

[ -f "$PHOTOS/photo01.jpg" ] || bash "$ROOT/../shared/photos/fetch-photos.sh" "$PHOTOS"
missing=()
for p in libvips-tools imagemagick libjpeg-turbo-progs time; do
  [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" = installed ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
bash "$ROOT/scripts/build.sh" --target pixorta-batch >/dev/null

mapfile -t FILES < <(ls "$PHOTOS"/photo*.jpg | sort)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# The journal of these runs stays in the work folder: timing runs must not push the user's own
# batches out of their undo journal.
export XDG_STATE_HOME=$WORK/state
mkdir -p "$WORK/halves"
# The halves the floor encodes, made once beforehand (not timed).
for f in "${FILES[@]}"; do
  vips resize "$f" "$WORK/halves/$(basename "$f" .jpg).ppm" 0.5 --kernel linear
done

once() { # prints the wall time of one run of the command
  rm -rf "$WORK/out"; mkdir -p "$WORK/out"
  local t0 t1
  t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }'
}
per_core() { # command template with {} for the file, run over FILES on every core
  printf '%s\n' "${FILES[@]}" | xargs -P "$CORES" -I{} sh -c "$1"
}
floor() {
  printf '%s\n' "${FILES[@]}" | xargs -P "$CORES" -I{} djpeg -outfile /dev/null {}
  ls "$WORK"/halves/*.ppm | xargs -P "$CORES" -I{} sh -c 'cjpeg -quality 90 "$1" > "$2/out/$(basename "$1" .ppm).jpg"' _ {} "$WORK"
}
run_variant() {
  case $1 in
    1) once "$BUILD/bin/pixorta-batch" --jobs 1 --resize 50% --output-folder "$WORK/out" "${FILES[@]}";;
    N) once "$BUILD/bin/pixorta-batch" --resize 50% --output-folder "$WORK/out" "${FILES[@]}";;
    V) once per_core "VIPS_CONCURRENCY=1 vips resize {} \"$WORK/out/\$(basename {})[Q=90]\" 0.5 --kernel linear";;
    M) once per_core "MAGICK_THREAD_LIMIT=1 convert {} -resize 50% -quality 90 \"$WORK/out/\$(basename {})\"";;
    F) once floor;;
  esac
}
# The variants take turns, round after round, and each keeps its best time: a slow spell of
# the machine then hits every variant alike instead of one of them.
declare -A BEST
for _ in $(seq "$REPEATS"); do
  for v in 1 N V M F; do
    t=$(run_variant "$v")
    BEST[$v]=$(awk -v a="${BEST[$v]:-$t}" -v b="$t" 'BEGIN { print (b < a ? b : a) }')
  done
done
T1=${BEST[1]}; TN=${BEST[N]}; TV=${BEST[V]}; TM=${BEST[M]}; TF=${BEST[F]}

rm -rf "$WORK/out"; mkdir -p "$WORK/out"
PEAK=$(/usr/bin/time -f %M "$BUILD/bin/pixorta-batch" --resize 50% --output-folder "$WORK/out" \
  "${FILES[@]}" 2>&1 >/dev/null | tail -1)
LARGEST=$(awk -F'\t' 'NR > 1 { px = $2 * $3; if (px > m) m = px } END { print m * 3 }' "$PHOTOS/photos.tsv")

echo "33 photos ($(awk -F'\t' 'NR > 1 { s += $2 * $3 } END { printf "%.1f", s / 1e6 }' "$PHOTOS/photos.tsv") MP), $CORES cores, best of $REPEATS"
awk -v t1="$T1" -v tn="$TN" -v tv="$TV" -v tm="$TM" -v tf="$TF" -v c="$CORES" 'BEGIN {
  printf "%-36s %7.2f s  %5.2fx floor\n", "pixorta-batch --jobs 1", t1, t1 / tf
  printf "%-36s %7.2f s  %5.2fx floor  %4.2fx libvips\n", "pixorta-batch (" c " jobs)", tn, tn / tf, tn / tv
  printf "%-36s %7.2f s  %5.2fx floor\n", "libvips, a process per core", tv, tv / tf
  printf "%-36s %7.2f s  %5.2fx floor\n", "ImageMagick, a process per core", tm, tm / tf
  printf "%-36s %7.2f s\n", "floor: djpeg + cjpeg -quality 90", tf
}'
awk -v peak="$PEAK" -v largest="$LARGEST" -v c="$CORES" 'BEGIN {
  limit = ((c + 1) * largest + 100e6) / 1024
  printf "peak memory of pixorta-batch: %.0f MB (limit (N + 1) x largest decoded + 100 MB = %.0f MB)\n",
         peak / 1024, limit / 1024 }'
