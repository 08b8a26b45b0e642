#!/usr/bin/env bash
# Reading a video's figures costs about the same for a 10 MB and a 1 GB file:
# the media graph probes the container's headers, it never decodes the
# stream. Times `velitems read` of an MP4 and an AVI of each size against
# `ffprobe` (and `mediainfo` when installed), best of three runs each.
#
#   bench/video_sizes.sh [BUILD_DIR]
#
# Needs ffmpeg and about 2 GB of space in TMPDIR.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
velitems="$build/bin/velitems"
[ -x "$velitems" ] || { echo "no $velitems: build first" >&2; exit 2; }
command -v ffmpeg >/dev/null || { echo "ffmpeg is needed to make the files" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/velvideo-XXXXXX")
trap 'rm -rf "$work"' EXIT
export VEL_REGISTRY="$work/registry.db"
"$velitems" register >/dev/null

# About 10 MB of noise video (it does not compress), then a 1 GB file made of
# copies of its stream (no encoding).
for ext in mp4 avi; do
  ffmpeg -v error -y -f lavfi -i "nullsrc=s=320x240:r=25:d=4,geq=random(1)*255:128:128" -c:v mpeg4 -q:v 2 \
    "$work/10MB.$ext"
  ffmpeg -v error -y -stream_loop 99 -i "$work/10MB.$ext" -c copy "$work/1GB.$ext"
done

best() {  # best wall time in milliseconds of three runs of "$@"
  local best="" t start end
  for _ in 1 2 3; do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    t=$(((end - start) / 1000000))
    if [ -z "$best" ] || ((t < best)); then best=$t; fi
  done
  echo "$best"
}

printf '%-22s %10s %10s\n' "" "10 MB" "1 GB"
for ext in mp4 avi; do
  small="$work/10MB.$ext" large="$work/1GB.$ext"
  printf '%-22s %8s ms %8s ms\n' "velitems read .$ext" "$(best "$velitems" read --json "$small")" \
    "$(best "$velitems" read --json "$large")"
  printf '%-22s %8s ms %8s ms\n' "ffprobe .$ext" "$(best ffprobe -v error -show_format -show_streams "$small")" \
    "$(best ffprobe -v error -show_format -show_streams "$large")"
  if command -v mediainfo >/dev/null; then
    printf '%-22s %8s ms %8s ms\n' "mediainfo .$ext" "$(best mediainfo "$small")" "$(best mediainfo "$large")"
  fi
done
command -v mediainfo >/dev/null || echo "mediainfo: not installed, not compared (apt-get install mediainfo)"
ls -l "$work"/*.mp4 "$work"/*.avi | awk '{ printf "%s %d bytes\n", $NF, $5 }'
