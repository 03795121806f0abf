#!/usr/bin/env bash
# The newer photo formats through the batch against their own libraries' tools, over the same
# real photos as bench/batch_cores.sh, everything on every core:
#   heic  HEIC -> JPEG quality 90: pixorta-batch; the floor (bench/heif_floor.c: libheif's
#         decode to RGB plus libjpeg-turbo's encode, one process per core); libvips (vips copy,
#         one process per core). The HEIC files are made once from the photos with heif-enc at
#         its default quality and kept beside the photo folder (not timed).
#   webp  JPEG -> WebP quality 80: pixorta-batch --quality 80; cwebp -q 80 and libvips
#         (Q=80), one process per core.
#   avif  JPEG -> AVIF: pixorta-batch --quality 60 against avifenc and heif-enc, one process
#         per core, all three on libaom at the same settings. pixorta writes AVIF through
#         libheif's aom encoder, which turns a quality Q into the constant-quality level
#         cq-level = ((100 - Q) * 63 + 50) / 100 (Q 60 -> 25) with quantizers 0..63, speed 6,
#         4:2:0 and tune=ssim; avifenc is given exactly that (--min 0 --max 63
#         -a end-usage=q -a cq-level=25 -a tune=ssim -s 6 -y 420 -j 1, metadata left out, as
#         the batch leaves it out without --keep-metadata), and heif-enc -q 60 is libheif's own
#         path for the same file. Their output sizes within a few per cent of each other show
#         the mapping holds.
# Prints, for every job, each tool's best wall time, its ratio to the job's reference (the
# floor, cwebp, avifenc), its processor time, the total size of what it wrote and the peak memory: pixorta-batch's
# whole process (/usr/bin/time's "Maximum resident set size"), and for the tools run a process
# per core the largest single process. Then the goals: pixorta-batch at most 1.1x the
# reference and 0.6x libvips, WebP and AVIF sizes within 5 % of the reference tool's.
# When pixorta-batch cannot read or write a format (or lacks --quality) its row says so and
# the reference tools' rows are still printed.
#
# Usage: bench/photo_formats.sh [PHOTO_FOLDER] [REPEATS] [JOBS]
#   PHOTO_FOLDER  default /tmp/pixorta-photos (fetched with ../shared/photos/fetch-photos.sh)
#   REPEATS       rounds, each tool keeps its best (default 3); AVIF takes most of the time
#   JOBS          which of "heic webp avif" to run (default all three)
# Environment: PIXORTA_BUILD_DIR (default build/), PIXORTA_NO_BUILD=1 to use the
# pixorta-batch already built there as it is, PIXORTA_HEIC_DIR (default PHOTO_FOLDER-heic).
# Installs libvips, libheif's and libwebp's tools, avifenc, libjpeg-turbo's tools, time and
# the libheif and libjpeg headers when they are missing (needs root or sudo for that).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
PHOTOS=${1:-/tmp/pixorta-photos}
REPEATS=${2:-3}
JOBS=${3:-heic webp avif}
BUILD=${PIXORTA_BUILD_DIR:-$ROOT/build}
HEIC_DIR=${PIXORTA_HEIC_DIR:-${PHOTOS%/}-heic}
CORES=$(nproc)
PX=$BUILD/bin/pixorta-batch

JPEG_QUALITY=90
WEBP_QUALITY=80
AVIF_QUALITY=60
AVIF_CQ=$(( ((100 - AVIF_QUALITY) * 63 + 50) / 100 ))
AVIF_SPEED=6

case $REPEATS in ''|*[!0-9]*|0) echo "photo_formats.sh: REPEATS must be a positive number" >&2; exit 2;; esac
for j in $JOBS; do
  case $j in heic|webp|avif) ;; *) echo "photo_formats.sh: unknown job '$j' (heic, webp, avif)" >&2; exit 2;; esac
done
wants() { case " $JOBS " in *" $1 "*) return 0;; esac; return 1; }

[ -f "$PHOTOS/photo01.jpg" ] || bash "$ROOT/../shared/photos/fetch-photos.sh" "$PHOTOS"
missing=()
for p in libvips-tools libheif-examples webp libavif-bin libjpeg-turbo-progs time \
         libheif-dev libjpeg-dev pkg-config; do
  [ "$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null)" = installed ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# Another build may be running in the same tree (the lead's, say): then it is left alone.
if [ "${PIXORTA_NO_BUILD:-0}" != 1 ]; then
  bash "$ROOT/scripts/build.sh" --target pixorta-batch >/dev/null
fi

mapfile -t FILES < <(ls "$PHOTOS"/photo*.jpg | sort)
COUNT=${#FILES[@]}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# The batch keeps an undo journal of every run; the bench's runs belong to no one.
export XDG_STATE_HOME=$WORK/state

cc -O2 -o "$WORK/heif_floor" "$ROOT/bench/heif_floor.c" $(pkg-config --cflags --libs libheif libjpeg)

HEICS=()
if wants heic; then
  mkdir -p "$HEIC_DIR"
  todo=()
  for f in "${FILES[@]}"; do
    h=$HEIC_DIR/$(basename "$f" .jpg).heic
    [ -s "$h" ] && [ "$h" -nt "$f" ] || todo+=("$f")
    HEICS+=("$h")
  done
  if [ ${#todo[@]} -gt 0 ]; then
    echo "making ${#todo[@]} HEIC files in $HEIC_DIR (once, not timed)..." >&2
    # Written under a temporary name first: an interrupted run leaves no half file that a
    # later run would take for a finished one.
    printf '%s\n' "${todo[@]}" | xargs -P "$CORES" -I{} sh -c \
      'h="$1/$(basename "$2" .jpg)"; heif-enc -o "$h.part.heic" "$2" >/dev/null && mv "$h.part.heic" "$h.heic"' \
      _ "$HEIC_DIR" {}
  fi
fi

# --- What this pixorta-batch can do: a small photo through each conversion, not timed.
PROBE=$WORK/probe
mkdir -p "$PROBE"
vips thumbnail "${FILES[0]}" "$PROBE/small.jpg" 96 2>/dev/null
heif-enc -o "$PROBE/small.heic" "$PROBE/small.jpg" >/dev/null
declare -A LACKS   # job -> why pixorta-batch cannot run it
HAS_QUALITY=0
if [ ! -x "$PX" ]; then
  for j in heic webp avif; do LACKS[$j]="no pixorta-batch at $PX"; done
else
  # Read whole first: grep -q would stop reading at the match, and with pipefail the help's
  # broken pipe would count as no match.
  help=$("$PX" --help 2>/dev/null || true)
  case $help in *--quality*) HAS_QUALITY=1;; esac
  probe() { # job input format: can pixorta-batch turn input into format?
    local out=$PROBE/out-$1 err
    mkdir -p "$out"
    if ! err=$("$PX" --format "$3" --output-folder "$out" "$2" 2>&1 >/dev/null) \
        || [ -z "$(ls -A "$out")" ]; then
      LACKS[$1]=$(printf '%s\n' "$err" | grep -v '^$' | tail -1 | sed "s|$PROBE/||")
      [ -n "${LACKS[$1]}" ] || LACKS[$1]="pixorta-batch wrote nothing"
    fi
  }
  probe heic "$PROBE/small.heic" jpg
  probe webp "$PROBE/small.jpg" webp
  probe avif "$PROBE/small.jpg" avif
  if [ $HAS_QUALITY = 0 ]; then
    for j in webp avif; do
      [ -n "${LACKS[$j]:-}" ] || LACKS[$j]="pixorta-batch has no --quality option"
    done
  fi
fi
QUALITY_ARGS() { [ $HAS_QUALITY = 1 ] && printf -- '--quality\n%s\n' "$1"; return 0; }

# --- Timing. Each variant runs over every file; its wall time, the total size it wrote and its
# peak memory are kept in these tables.
declare -A BEST SIZE PEAK CPU FAILED
once() { # variant command...
  local v=$1; shift
  rm -rf "$WORK/out" "$WORK/rss"; mkdir -p "$WORK/out"; : > "$WORK/rss"
  local t0 t1 rc=0
  t0=$(date +%s.%N)
  "$@" >"$WORK/log" 2>&1 || rc=$?
  t1=$(date +%s.%N)
  local made
  made=$(find "$WORK/out" -type f | wc -l)
  if [ $rc -ne 0 ] || [ "$made" -ne "$COUNT" ]; then
    # A tool that failed on some photo would look fast: its time is not taken.
    FAILED[$v]="exit $rc, $made of $COUNT files: $(grep -v '^$' "$WORK/log" | tail -1)"
    return
  fi
  local t
  t=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
  BEST[$v]=$(awk -v a="${BEST[$v]:-$t}" -v b="$t" 'BEGIN { print (b < a ? b : a) }')
  SIZE[$v]=$(find "$WORK/out" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
  local rss cpu
  rss=$(awk 'max < $1 + 0 { max = $1 + 0 } END { print max + 0 }' "$WORK/rss")
  cpu=$(awk '{ s += $2 + $3 } END { print s + 0 }' "$WORK/rss")
  PEAK[$v]=$(awk -v a="${PEAK[$v]:-0}" -v b="$rss" 'BEGIN { print (b > a ? b : a) }')
  CPU[$v]=$(awk -v a="${CPU[$v]:-$cpu}" -v b="$cpu" 'BEGIN { print (b < a ? b : a) }')
}
# /usr/bin/time -f %M is the "Maximum resident set size" that -v prints, in KB; %U and %S the
# processor time, which other work on the machine inflates far less than the wall time.
# Processes run in parallel append their own lines to the same file: the largest peak is kept
# and the processor times are added up.
per_core() { # command template: $1 is the input, $2 the output folder; inputs follow
  local tmpl=$1; shift
  printf '%s\n' "$@" | xargs -P "$CORES" -I{} /usr/bin/time -a -o "$WORK/rss" -f '%M %U %S' \
    sh -c "$tmpl" _ {} "$WORK/out"
}
pixorta() {
  /usr/bin/time -o "$WORK/rss" -f '%M %U %S' "$PX" --jobs "$CORES" --output-folder "$WORK/out" "$@"
}

mapfile -t Q_JPEG < <(QUALITY_ARGS $JPEG_QUALITY)
mapfile -t Q_WEBP < <(QUALITY_ARGS $WEBP_QUALITY)
mapfile -t Q_AVIF < <(QUALITY_ARGS $AVIF_QUALITY)
AVIFENC_ARGS="-j 1 -s $AVIF_SPEED -y 420 --min 0 --max 63 -a end-usage=q -a cq-level=$AVIF_CQ \
-a tune=ssim --ignore-exif --ignore-xmp --ignore-icc"
run_variant() {
  case $1 in
    heic-pixorta) once "$1" pixorta --format jpg "${Q_JPEG[@]}" "${HEICS[@]}";;
    heic-floor) once "$1" per_core "\"$WORK/heif_floor\" \"\$1\" \"\$2/\$(basename \"\$1\" .heic).jpg\" $JPEG_QUALITY" "${HEICS[@]}";;
    heic-vips) once "$1" per_core "VIPS_CONCURRENCY=1 vips copy \"\$1\" \"\$2/\$(basename \"\$1\" .heic).jpg[Q=$JPEG_QUALITY]\"" "${HEICS[@]}";;
    webp-pixorta) once "$1" pixorta --format webp "${Q_WEBP[@]}" "${FILES[@]}";;
    webp-cwebp) once "$1" per_core "cwebp -quiet -q $WEBP_QUALITY \"\$1\" -o \"\$2/\$(basename \"\$1\" .jpg).webp\"" "${FILES[@]}";;
    webp-vips) once "$1" per_core "VIPS_CONCURRENCY=1 vips copy \"\$1\" \"\$2/\$(basename \"\$1\" .jpg).webp[Q=$WEBP_QUALITY]\"" "${FILES[@]}";;
    avif-pixorta) once "$1" pixorta --format avif "${Q_AVIF[@]}" "${FILES[@]}";;
    avif-avifenc) once "$1" per_core "avifenc $AVIFENC_ARGS \"\$1\" \"\$2/\$(basename \"\$1\" .jpg).avif\"" "${FILES[@]}";;
    avif-heifenc) once "$1" per_core "heif-enc -A -q $AVIF_QUALITY -p speed=$AVIF_SPEED -p threads=1 -o \"\$2/\$(basename \"\$1\" .jpg).avif\" \"\$1\"" "${FILES[@]}";;
  esac
}
VARIANTS=()
for j in heic webp avif; do
  wants "$j" || continue
  [ -n "${LACKS[$j]:-}" ] || VARIANTS+=("$j-pixorta")
  case $j in
    heic) VARIANTS+=(heic-floor heic-vips);;
    webp) VARIANTS+=(webp-cwebp webp-vips);;
    avif) VARIANTS+=(avif-avifenc avif-heifenc);;
  esac
done
# The variants take turns, round after round, and each keeps its best time: a slow spell of
# the machine then hits every variant alike instead of one of them.
for r in $(seq "$REPEATS"); do
  echo "round $r of $REPEATS ($(uptime | sed 's/.*load average: //') load)..." >&2
  for v in "${VARIANTS[@]}"; do
    [ -n "${FAILED[$v]:-}" ] || run_variant "$v"
  done
done

# --- The table.
MP=$(awk -F'\t' 'NR > 1 { s += $2 * $3 } END { printf "%.1f", s / 1e6 }' "$PHOTOS/photos.tsv" 2>/dev/null || echo "?")
echo
echo "$COUNT photos ($MP MP), $CORES cores, best of $REPEATS; load now: $(uptime | sed 's/.*load average: //')"
printf '%-18s %-50s %8s %14s %8s %9s %9s\n' job tool "wall s" ratio "cpu s" "total MB" "peak MB"
row() { # job variant label reference-variant
  local v=$2
  if [ -n "${FAILED[$v]:-}" ]; then
    printf '%-18s %-50s failed: %s\n' "$1" "$3" "${FAILED[$v]}"
  elif [ -z "${BEST[$v]:-}" ]; then
    printf '%-18s %-50s missing: %s\n' "$1" "$3" "${LACKS[${v%%-*}]:-not run}"
  else
    awk -v job="$1" -v label="$3" -v t="${BEST[$v]}" -v ref="${BEST[$4]:-}" -v refname="$5" \
        -v size="${SIZE[$v]}" -v peak="${PEAK[$v]}" -v cpu="${CPU[$v]}" -v mine="$v" -v refv="$4" 'BEGIN {
      ratio = ref == "" ? "" : sprintf("%.2fx %s", t / ref, refname)
      if (mine == refv) ratio = "1.00x"
      printf "%-18s %-50s %8.2f %14s %8.1f %9.1f %9.0f\n", job, label, t, ratio, cpu, size / 1e6,
             peak / 1024 }'
  fi
}
P="pixorta-batch ($CORES jobs)"
EACH="per core"
if wants heic; then
  row "HEIC->JPEG q$JPEG_QUALITY" heic-pixorta "$P" heic-floor floor
  row "" heic-floor "floor: libheif + libjpeg-turbo q$JPEG_QUALITY, $EACH" heic-floor floor
  row "" heic-vips "libvips Q=$JPEG_QUALITY, $EACH" heic-floor floor
fi
if wants webp; then
  row "JPEG->WebP q$WEBP_QUALITY" webp-pixorta "$P --quality $WEBP_QUALITY" webp-cwebp cwebp
  row "" webp-cwebp "cwebp -q $WEBP_QUALITY, $EACH" webp-cwebp cwebp
  row "" webp-vips "libvips Q=$WEBP_QUALITY, $EACH" webp-cwebp cwebp
fi
if wants avif; then
  row "JPEG->AVIF cq$AVIF_CQ s$AVIF_SPEED" avif-pixorta "$P --quality $AVIF_QUALITY" avif-avifenc avifenc
  row "" avif-avifenc "avifenc cq-level=$AVIF_CQ speed $AVIF_SPEED, $EACH" avif-avifenc avifenc
  row "" avif-heifenc "heif-enc -A -q $AVIF_QUALITY speed $AVIF_SPEED, $EACH" avif-avifenc avifenc
fi
echo "cpu s: user + system time of every process; peak MB: pixorta-batch's whole process, for the"
echo "others the largest single process ($CORES run at once). On a busy machine the wall times"
echo "carry the other work; the cpu times much less."

echo
echo "goals:"
goal() { # description value limit unit (a size difference counts either way)
  awk -v d="$1" -v v="$2" -v l="$3" -v u="$4" 'BEGIN {
    a = v < 0 ? -v : v
    printf "  %-44s " (u == "x" ? "%7.2f" : "%+7.2f") "%s (goal %s%s%s)  %s\n", d, v, u,
           (u == "x" ? "<= " : "within "), l, u, (a <= l ? "met" : "MISSED") }'
}
time_goals() { # job reference-variant reference-name
  local p=$1-pixorta
  if [ -z "${BEST[$p]:-}" ]; then
    echo "  $1: pixorta-batch missing: ${FAILED[$p]:-${LACKS[$1]:-not run}}"
    return
  fi
  [ -z "${BEST[$2]:-}" ] || goal "$1 time / $3" "$(awk -v a="${BEST[$p]}" -v b="${BEST[$2]}" 'BEGIN { print a / b }')" 1.1 x
  [ -z "${CPU[$2]:-}" ] || awk -v d="$1 cpu time / $3" -v a="${CPU[$p]}" -v b="${CPU[$2]}" 'BEGIN {
    if (b > 0) printf "  %-44s %7.2fx (no goal: the same work less the load)\n", d, a / b }'
  [ -z "${BEST[$1-vips]:-}" ] || goal "$1 time / libvips" "$(awk -v a="${BEST[$p]}" -v b="${BEST[$1-vips]}" 'BEGIN { print a / b }')" 0.6 x
  if [ "$1" != heic ] && [ -n "${SIZE[$2]:-}" ]; then
    goal "$1 size against $3's" "$(awk -v a="${SIZE[$p]}" -v b="${SIZE[$2]}" 'BEGIN { print (a - b) / b * 100 }')" 5 " %"
  fi
}
wants heic && time_goals heic heic-floor floor
wants webp && time_goals webp webp-cwebp cwebp
wants avif && time_goals avif avif-avifenc avifenc
exit 0
