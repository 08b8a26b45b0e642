#!/usr/bin/env bash
# Reading a video's figures costs about the same for a 10 MB and a 1 GB file:
# the media graph probes the container's headers, it never decodes the
# stream. Times `velitems read` of an MP4 and an AVI of each size against
# `ffprobe` (and `mediainfo` when installed), best of three runs each; then
# videos per second over a folder of small videos of five containers:
# `velitems read -r` (one process) against ffprobe run once per file.
#
#   bench/video_sizes.sh [BUILD_DIR]
#
# Needs ffmpeg and about 2 GB of space in TMPDIR.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
bench_start velvideo "${1:-"$root/build"}" ffmpeg

# About 10 MB of noise video (it does not compress), then a 1 GB file made of
# copies of its stream (no encoding).
for ext in mp4 avi; do
  ffmpeg -v error -y -f lavfi -i "nullsrc=s=320x240:r=25:d=4,geq=random(1)*255:128:128" -c:v mpeg4 -q:v 2 \
    "$work/10MB.$ext"
  ffmpeg -v error -y -stream_loop 99 -i "$work/10MB.$ext" -c copy "$work/1GB.$ext"
done


printf '%-22s %10s %10s\n' "" "10 MB" "1 GB"
for ext in mp4 avi; do
  small="$work/10MB.$ext" large="$work/1GB.$ext"
  printf '%-22s %8s ms %8s ms\n' "velitems read .$ext" "$(best_ms "$velitems" read --json "$small")" \
    "$(best_ms "$velitems" read --json "$large")"
  printf '%-22s %8s ms %8s ms\n' "ffprobe .$ext" "$(best_ms ffprobe -v error -show_format -show_streams "$small")" \
    "$(best_ms ffprobe -v error -show_format -show_streams "$large")"
  if command -v mediainfo >/dev/null; then
    printf '%-22s %8s ms %8s ms\n' "mediainfo .$ext" "$(best_ms mediainfo "$small")" "$(best_ms mediainfo "$large")"
  fi
done

# A corpus of small videos: videos per second.
corpus="$work/corpus"
mkdir -p "$corpus"
for recipe in "mp4:-c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac" "3gp:-c:v h263 -s 176x144 -c:a aac" \
  "avi:-c:v mpeg4 -c:a mp2" "wmv:-c:v wmv2 -c:a wmav2" "mpg:-c:v mpeg1video -c:a mp2"; do
  ext=${recipe%%:*}
  # shellcheck disable=SC2086
  ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25:d=2 -f lavfi -i sine=d=2 ${recipe#*:} "$work/one.$ext"
  for i in $(seq 1 40); do cp "$work/one.$ext" "$corpus/$i.$ext"; done
done
count=$(find "$corpus" -type f | wc -l)
perSecond() { awk -v n="$count" -v ms="$1" 'BEGIN { printf "%.0f", n * 1000 / ms }'; }
probeAll() { for f in "$corpus"/*; do ffprobe -v error -show_format -show_streams "$f"; done; }
t=$(best_ms "$velitems" read --json -r "$corpus")
printf '%-34s %6s videos/s\n' "velitems read -r ($count videos)" "$(perSecond "$t")"
t=$(best_ms "$velitems" read --json -r -j 2 "$corpus")
printf '%-34s %6s videos/s\n' "velitems read -r -j 2" "$(perSecond "$t")"
t=$(best_ms probeAll)
printf '%-34s %6s videos/s\n' "ffprobe, one process per file" "$(perSecond "$t")"
if command -v mediainfo >/dev/null; then
  t=$(best_ms mediainfo --Output=JSON "$corpus")
  printf '%-34s %6s videos/s\n' "mediainfo" "$(perSecond "$t")"
else
  echo "mediainfo: not installed, not compared (apt-get install mediainfo)"
fi
ls -l "$work"/*.mp4 "$work"/*.avi | awk '{ printf "%s %d bytes\n", $NF, $5 }'
