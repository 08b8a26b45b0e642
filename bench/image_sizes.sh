#!/usr/bin/env bash
# Photos: reading a 20-megapixel JPEG's metadata costs about the same as a
# 1-megapixel one (the pixels of a JPEG are never decoded, only its header and
# EXIF block are read); then images per second over a folder of photos, PNGs
# and GIFs against exiftool. Best of three runs each.
#
#   bench/image_sizes.sh [BUILD_DIR] [FILES_PER_KIND]
#
# Needs ffmpeg and exiftool.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
count=${2:-100}
bench_start velimage "${1:-"$root/build"}" ffmpeg exiftool

tag() {
  exiftool -q -overwrite_original -Make=Bench -Model=One -FNumber=2.8 -ExposureTime=1/250 \
    -DateTimeOriginal='2024:05:06 07:08:09' -GPSLatitude=48.1 -GPSLatitudeRef=N -GPSLongitude=11.5 \
    -GPSLongitudeRef=E -Keywords=Bench "$1"
}
ffmpeg -v error -y -f lavfi -i testsrc=size=1280x800 -frames:v 1 -q:v 2 "$work/1MP.jpg"
ffmpeg -v error -y -f lavfi -i testsrc=size=5472x3648 -frames:v 1 -q:v 2 "$work/20MP.jpg"
tag "$work/1MP.jpg"
tag "$work/20MP.jpg"


printf '%-24s %10s %10s\n' "" "1 MP" "20 MP"
printf '%-24s %7s ms %7s ms\n' "velitems read" "$(best_ms "$velitems" read --json "$work/1MP.jpg")" \
  "$(best_ms "$velitems" read --json "$work/20MP.jpg")"
printf '%-24s %7s ms %7s ms\n' "exiftool -json" "$(best_ms exiftool -json "$work/1MP.jpg")" \
  "$(best_ms exiftool -json "$work/20MP.jpg")"

corpus="$work/corpus"
mkdir -p "$corpus"
ffmpeg -v error -y -f lavfi -i testsrc=size=640x480 -frames:v 1 "$work/one.jpg"
tag "$work/one.jpg"
ffmpeg -v error -y -f lavfi -i testsrc=size=640x480 -frames:v 1 "$work/one.png"
ffmpeg -v error -y -f lavfi -i testsrc=size=160x120:rate=5 -t 1 "$work/one.gif"
for ext in jpg png gif; do
  for i in $(seq 1 "$count"); do cp "$work/one.$ext" "$corpus/$i.$ext"; done
done
files=$(find "$corpus" -type f | wc -l)
perSecond() { awk -v n="$files" -v ms="$1" 'BEGIN { printf "%.0f", n * 1000 / ms }'; }
printf '%-34s %6s images/s\n' "velitems read -r ($files images)" "$(perSecond "$(best_ms "$velitems" read --json -r "$corpus")")"
printf '%-34s %6s images/s\n' "velitems read -r -j 2" "$(perSecond "$(best_ms "$velitems" read --json -r -j 2 "$corpus")")"
printf '%-34s %6s images/s\n' "exiftool -json -r" "$(perSecond "$(best_ms exiftool -json -r "$corpus")")"
ls -l "$work"/1MP.jpg "$work"/20MP.jpg | awk '{ printf "%s %d bytes\n", $NF, $5 }'
