#!/usr/bin/env bash
# Memory of `velitems read --json -r` over 1,000 and over 100,000 small files
# (hard links to the bundled samples of five kinds, in folders of 1,000, and
# once all 100,000 in one folder): the peak resident size must not grow with
# the number of files. Also prints the time of each run at -j 1 and -j 2.
#
#   bench/memory_flat.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/lib.sh
. "$root/bench/lib.sh"
bench_start memory-flat "${1:-$root/build}"
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed (package time)" >&2; exit 2; }

samples=(tone.m4a tone.wav tone.aac hello.mms hello.vmg)
# tree NAME FOLDERS FILES_PER_FOLDER: hard links, made by one process
tree() {
  python3 - "$work" "$@" "${samples[@]}" <<'PY'
import os, sys
work, name, folders, per, samples = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5:]
for f in range(folders):
    d = os.path.join(work, name, "d%d" % f)
    os.makedirs(d)
    for i in range(per):
        s = samples[i % len(samples)]
        os.link(os.path.join(work, s), os.path.join(d, "%d.%s" % (i, s.rsplit(".", 1)[1])))
PY
}
for s in "${samples[@]}"; do cp "$root/samples/$s" "$work/$s"; done
tree small 1 1000
tree large 100 1000
tree flat 1 100000

printf '%-28s %10s %9s\n' "files" "peak KiB" "seconds"
for corpus in small large flat; do
  for jobs in 1 2; do
    /usr/bin/time -o "$work/time" -f '%M %e' "$velitems" read --json -r -j "$jobs" "$work/$corpus" >/dev/null 2>&1 || true
    read -r kib seconds <"$work/time"
    printf '%-28s %10s %9s\n' "$corpus ($(find "$work/$corpus" -type f | wc -l) files) -j $jobs" "$kib" "$seconds"
  done
done
