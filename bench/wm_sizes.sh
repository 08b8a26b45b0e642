#!/usr/bin/env bash
# Windows Media family files: reading an MP3's tags costs about the same for a
# 3 MB and a 300 MB file (only the tag and the first frames are read), and a
# picture write costs about one copy of the file (it is rewritten once through
# a temporary file, and the new file is flushed to the device): a set + clear
# is set against two copies of the file, plain and each flushed with sync.
# Best of three runs each.
#
#   bench/wm_sizes.sh [BUILD_DIR]
#
# Needs ffmpeg and about 1 GB of space in TMPDIR.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
bench_start velwm "${1:-"$root/build"}" ffmpeg

# About 3 MB of MP3 with a tag, then a 300 MB file of copies of its frames.
ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=75 -c:a libmp3lame -b:a 320k -id3v2_version 3 \
  -metadata title=Bench -metadata artist=Tone "$work/3MB.mp3"
ffmpeg -v error -y -stream_loop 99 -i "$work/3MB.mp3" -c copy -id3v2_version 3 -metadata title=Bench \
  "$work/300MB.mp3"
ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=75 -c:a wmav2 -b:a 320k -metadata title=Bench \
  "$work/3MB.wma"
ffmpeg -v error -y -stream_loop 99 -i "$work/3MB.wma" -c copy -metadata title=Bench "$work/300MB.wma"
ffmpeg -v error -y -f lavfi -i testsrc=size=640x480 -frames:v 1 "$work/cover.jpg"

setAndClear() { "$velitems" picture set "$1" "$work/cover.jpg" && "$velitems" picture clear "$1"; }
# Two copies of FILE; with "sync" each is written through to the device
# (fsync of the copy), as every commit of a write is: the fair baseline.
twoCopies() {
  local i
  for i in 1 2; do
    cp "$1" "$work/c"
    if [ "${2:-}" = sync ]; then sync "$work/c"; fi
  done
}

printf '%-30s %10s %10s\n' "" "3 MB" "300 MB"
for ext in mp3 wma; do
  small="$work/3MB.$ext" large="$work/300MB.$ext"
  printf '%-30s %7s ms %7s ms\n' "velitems read .$ext" "$(best_ms "$velitems" read --json "$small")" \
    "$(best_ms "$velitems" read --json "$large")"
  printf '%-30s %7s ms %7s ms\n' "picture set + clear .$ext" "$(best_ms setAndClear "$small")" \
    "$(best_ms setAndClear "$large")"
  printf '%-30s %7s ms %7s ms\n' "two copies of the file (cp)" "$(best_ms twoCopies "$small")" \
    "$(best_ms twoCopies "$large")"
  printf '%-30s %7s ms %7s ms\n' "two copies, each synced" "$(best_ms twoCopies "$small" sync)" \
    "$(best_ms twoCopies "$large" sync)"
done
ls -l "$work"/*.mp3 "$work"/*.wma | awk '{ printf "%s %d bytes\n", $NF, $5 }'
