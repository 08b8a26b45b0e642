# Shared by the whole-process benchmark scripts (sourced, not run).
#
#   bench_start NAME BUILD_DIR TOOL...  checks velitems of BUILD_DIR and the tools, makes $work (removed on
#                                       exit) with a registry store of its own, registers the modules
#   best_ms COMMAND...                  best wall time in milliseconds of three runs
#   ratio A B                           A / B with two decimals

bench_start() {
  local name=$1 build=$2
  shift 2
  velitems="$build/bin/velitems"
  [ -x "$velitems" ] || { echo "no $velitems: build first" >&2; exit 2; }
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$tool is needed to make the files" >&2; exit 2; }
  done
  work=$(mktemp -d "${TMPDIR:-/tmp}/$name-XXXXXX")
  trap 'rm -rf "$work"' EXIT
  export VEL_REGISTRY="$work/registry.db"
  "$velitems" register >/dev/null
}

best_ms() {
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

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
