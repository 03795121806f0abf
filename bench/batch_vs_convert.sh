#!/usr/bin/env bash
# Images per second of pixorta-batch beside ImageMagick's convert over the same real photos:
#   1. format conversion to JPEG at quality 90 into an output folder;
#   2. load, resize to 50%, save as JPEG at quality 90 (both single-threaded).
# Usage: bench/batch_vs_convert.sh [PHOTO_FOLDER] [COUNT]
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
PHOTOS=${1:-/tmp/pixorta-photos}
COUNT=${2:-24}
BUILD=${PIXORTA_BUILD_DIR:-$ROOT/build}

if [ ! -f "$PHOTOS/photo01.jpg" ]; then
  bash "$ROOT/../shared/photos/fetch-photos.sh" "$PHOTOS"
fi
if ! command -v convert >/dev/null 2>&1; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get install -y -qq imagemagick >/dev/null
fi
bash "$ROOT/scripts/build.sh" >/dev/null

mapfile -t FILES < <(ls "$PHOTOS"/photo*.jpg | sort | head -n "$COUNT")
[ ${#FILES[@]} -ge 20 ] || { echo "need at least 20 photos in $PHOTOS" >&2; exit 1; }
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# The journal of these runs stays in the work folder: timing runs must not push the user's own
# batches out of their undo journal.
export XDG_STATE_HOME=$WORK/state
MP=$(python3 - "${FILES[@]}" <<'PY'
import struct, sys
def size(p):
    d = open(p, 'rb').read()
    i = 2
    while i < len(d):
        if d[i] != 0xFF: i += 1; continue
        m = d[i+1]
        if m in (0xC0, 0xC1, 0xC2):
            h, w = struct.unpack('>HH', d[i+5:i+9]); return w * h
        i += 2 + struct.unpack('>H', d[i+2:i+4])[0]
    return 0
print(f"{sum(size(p) for p in sys.argv[1:]) / 1e6:.1f}")
PY
)
echo "photos: ${#FILES[@]} ($MP megapixels), $(nproc) cores"

seconds() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N); awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }'; }
report() { # name pixorta_seconds magick_seconds
  awk -v n="${#FILES[@]}" -v name="$1" -v p="$2" -v m="$3" 'BEGIN {
    printf "%-34s pixorta-batch %6.2f images/s (%6.2f s)   convert %6.2f images/s (%6.2f s)   ratio %.2fx\n",
           name, n / p, p, n / m, m, m / p }'
}
convert_all() { # extra convert arguments...
  local out=$WORK/magick; rm -rf "$out"; mkdir -p "$out"
  for f in "${FILES[@]}"; do convert "$f" "$@" -quality 90 "$out/$(basename "$f")"; done
}

P=$(seconds "$BUILD/bin/pixorta-batch" --format jpg --output-folder "$WORK/p1" "${FILES[@]}")
M=$(seconds convert_all)
report "convert to JPEG q90" "$P" "$M"
M1=$(MAGICK_THREAD_LIMIT=1 seconds convert_all)
report "convert to JPEG q90 (1 thread)" "$P" "$M1"

P=$(seconds "$BUILD/bin/pixorta-batch" --resize 50% --format jpg --output-folder "$WORK/p2" "${FILES[@]}")
M=$(MAGICK_THREAD_LIMIT=1 seconds convert_all -resize 50%)
report "resize 50%, JPEG q90 (1 thread)" "$P" "$M"
