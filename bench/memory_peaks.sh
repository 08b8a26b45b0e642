#!/usr/bin/env bash
# Peak resident memory of the commands that hold a whole payload: a picture
# set and a picture get of a 50 MB cover in an ".m4a", a set that replaces
# that cover by another of the same size and one that gives the same cover
# again (which must leave the file as it is), and the read of a vMessage of a
# few MB in UTF-16 and in UTF-8. Each peak is shown less the peak of `velitems read` of
# a tiny file (the process's own baseline), in MB and as a multiple of the
# payload's size: a picture should be held about twice at most.
#
#   bench/memory_peaks.sh [BUILD_DIR] [COVER_MB]
#
# Needs GNU time (/usr/bin/time) and about 200 MB of space in TMPDIR.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
timer=/usr/bin/time
[ -x "$timer" ] || { echo "$timer (GNU time) is needed" >&2; exit 2; }
bench_start velmem "${1:-"$root/build"}"
cover_mb=${2:-50}

# The cover: a JPEG start followed by random bytes (an MP4 cover is stored as
# it is given; nothing decodes it).
{ printf '\xff\xd8\xff\xe0'; head -c $((cover_mb * 1024 * 1024 - 4)) /dev/urandom; } >"$work/cover.jpg"
{ printf '\xff\xd8\xff\xe0'; head -c $((cover_mb * 1024 * 1024 - 4)) /dev/urandom; } >"$work/other.jpg"
cp "$root/samples/tone.m4a" "$work/tone.m4a"

# One vMessage whose body has about 3 MB of text in many lines, in UTF-8 and
# in UTF-16 (as phones write them); the reader keeps only the start of a long
# body.
{
  printf 'BEGIN:VMSG\r\nVERSION:1.1\r\nX-IRMC-STATUS:READ\r\nX-IRMC-BOX:INBOX\r\n'
  printf 'BEGIN:VCARD\r\nVERSION:2.1\r\nN:Berg;Anna\r\nTEL:+4915112345678\r\nEND:VCARD\r\n'
  printf 'BEGIN:VENV\r\nBEGIN:VCARD\r\nVERSION:2.1\r\nN:\r\nTEL:\r\nEND:VCARD\r\n'
  printf 'BEGIN:VENV\r\nBEGIN:VBODY\r\nDate:10.12.2026 07:35:48\r\n'
  for ((i = 0; i < 40000; ++i)); do
    printf 'Line %06d of a long message, written so that the file has a few megabytes of text.\r\n' "$i"
  done
  printf 'END:VBODY\r\nEND:VENV\r\nEND:VENV\r\nEND:VMSG\r\n'
} >"$work/long8.vmg"
iconv -f UTF-8 -t UTF-16LE "$work/long8.vmg" | { printf '\xff\xfe'; cat; } >"$work/long.vmg"
cp "$root/samples/hello.vmg" "$work/tiny.vmg"

# Peak resident set of a command in kB (GNU time's %M); the command must succeed.
peak_kb() {
  "$timer" -f %M -o "$work/peak" "$@" >/dev/null 2>"$work/stderr" || { cat "$work/stderr" >&2; exit 1; }
  tail -n 1 "$work/peak"
}

base=$(peak_kb "$velitems" read --json "$work/tiny.vmg")
row() {  # label, payload bytes, peak kB
  local above=$(($3 - base))
  printf '%-36s %8.1f MB %6.2fx\n' "$1" "$(awk -v k="$above" 'BEGIN { print k / 1024 }')" \
    "$(ratio $((above * 1024)) "$2")"
}

cover=$(stat -c %s "$work/cover.jpg")
vmg=$(stat -c %s "$work/long.vmg")
vmg8=$(stat -c %s "$work/long8.vmg")
printf 'baseline (read of a tiny .vmg): %.1f MB; cover %d bytes, vMessage %d bytes (UTF-16), %d (UTF-8)\n' \
  "$(awk -v k="$base" 'BEGIN { print k / 1024 }')" "$cover" "$vmg" "$vmg8"
printf '%-36s %11s %7s\n' "above the baseline" "peak" "payload"
row "picture set .m4a" "$cover" "$(peak_kb "$velitems" picture set "$work/tone.m4a" "$work/cover.jpg")"
row "picture get .m4a" "$cover" "$(peak_kb "$velitems" picture get "$work/tone.m4a" "$work/out.jpg")"
cmp -s "$work/cover.jpg" "$work/out.jpg" || { echo "the cover read back differs" >&2; exit 1; }
row "picture set .m4a (another cover)" "$cover" \
  "$(peak_kb "$velitems" picture set "$work/tone.m4a" "$work/other.jpg")"
# The same cover again: the file must stay as it is (not even rewritten).
before=$(stat -c %i:%Y:%s "$work/tone.m4a")
row "picture set .m4a (the same cover)" "$cover" \
  "$(peak_kb "$velitems" picture set "$work/tone.m4a" "$work/other.jpg")"
[ "$(stat -c %i:%Y:%s "$work/tone.m4a")" = "$before" ] || { echo "the same cover rewrote the file" >&2; exit 1; }
row "read --json of the vMessage (UTF-16)" "$vmg" "$(peak_kb "$velitems" read --json "$work/long.vmg")"
row "read --json of the vMessage (UTF-8)" "$vmg8" "$(peak_kb "$velitems" read --json "$work/long8.vmg")"
