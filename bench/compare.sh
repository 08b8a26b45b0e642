#!/usr/bin/env bash
# Whole-process comparison: `velitems read --json -r` at -j 1 and -j 2 against
# `exiftool -json -r` and `mediainfo` (when installed) on one corpus of small
# files of every kind the module reads, made here with ffmpeg and exiftool and
# held in the page cache. Each command runs three times; the best time counts.
#
#   bench/compare.sh [BUILD_DIR] [FILES_PER_KIND]
#
# Prints one line per command and the ratios. Needs ffmpeg; exiftool and
# mediainfo are compared when they are installed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
count=${2:-100}
bench_start velcompare "${1:-"$root/build"}" ffmpeg
corpus="$work/corpus"
mkdir -p "$corpus"

# One file of each kind, then copies (the contents do not change the work).
ff() { ffmpeg -v error -y "$@"; }
ff -f lavfi -i sine=d=0.5 -c:a aac -b:a 32k -metadata title=Tone -metadata artist=Bench "$work/one.m4a"
ff -f lavfi -i sine=d=0.5 "$work/one.wav"
ff -f lavfi -i sine=d=0.5 -c:a aac -b:a 32k -f adts "$work/one.aac"
ff -f lavfi -i sine=d=0.5 -c:a libmp3lame -b:a 32k -id3v2_version 3 -metadata title=Tone "$work/one.mp3"
ff -f lavfi -i sine=d=0.5 -c:a wmav2 -b:a 32k -metadata title=Tone "$work/one.wma"
ff -f lavfi -i testsrc=size=160x120:rate=10:d=0.5 -c:v mpeg4 "$work/one.avi"
ff -f lavfi -i testsrc=size=320x240 -frames:v 1 "$work/one.jpg"
ff -f lavfi -i testsrc=size=320x240 -frames:v 1 "$work/one.png"
if command -v exiftool >/dev/null; then
  exiftool -q -overwrite_original -Make=Bench -Model=One -DateTimeOriginal='2024:05:06 07:08:09' \
    -GPSLatitude=48.1 -GPSLatitudeRef=N -GPSLongitude=11.5 -GPSLongitudeRef=E "$work/one.jpg"
fi
kinds=(m4a wav aac mp3 wma avi jpg png)
for kind in "${kinds[@]}"; do
  for i in $(seq 1 "$count"); do cp "$work/one.$kind" "$corpus/$kind-$i.$kind"; done
done
for sample in "$root"/samples/*.mms "$root"/samples/*.vmg; do
  [ -f "$sample" ] || continue
  for i in $(seq 1 "$count"); do cp "$sample" "$corpus/$i-$(basename "$sample")"; done
done
files=$(find "$corpus" -type f | wc -l)
cat "$corpus"/* >/dev/null  # into the page cache

echo "corpus: $files files (${kinds[*]}, messages), $(nproc) cores"
v1=$(best_ms "$velitems" read --json -r -j 1 "$corpus")
v2=$(best_ms "$velitems" read --json -r -j 2 "$corpus")
printf '%-28s %8s ms\n' "velitems read -r -j 1" "$v1" "velitems read -r -j 2" "$v2"
printf '%-28s %8s\n' "-j 1 / -j 2" "$(ratio "$v1" "$v2")"
if command -v exiftool >/dev/null; then
  e=$(best_ms exiftool -json -r "$corpus")
  printf '%-28s %8s ms\n' "exiftool -json -r" "$e"
  printf '%-28s %8s\n' "exiftool / velitems -j 1" "$(ratio "$e" "$v1")"
  printf '%-28s %8s\n' "exiftool / velitems -j 2" "$(ratio "$e" "$v2")"
else
  echo "exiftool: not installed, not compared"
fi
if command -v mediainfo >/dev/null; then
  m=$(best_ms mediainfo --Output=JSON "$corpus")
  printf '%-28s %8s ms\n' "mediainfo --Output=JSON" "$m"
  printf '%-28s %8s\n' "mediainfo / velitems -j 1" "$(ratio "$m" "$v1")"
else
  echo "mediainfo: not installed, not compared (apt-get install mediainfo)"
fi
