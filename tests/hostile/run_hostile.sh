#!/usr/bin/env bash
# Runs every brevid command on every hostile image: the ones make_hostile.py
# makes, and the shared corpus's when it is there. A command may refuse (exit
# 1 or 2); a sanitizer report, a signal, a timeout, an allocation beyond the
# cap, a changed source or a file outside the command's own folder fails.
# Usage: run_hostile.sh BREVID OUTDIR [SHARED_CORPUS]
set -uo pipefail
brevid=$(realpath "$1")
mkdir -p "$2" && out=$(realpath "$2")
shared=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
seconds=${HOSTILE_SECONDS:-60}

python3 "$here/make_hostile.py" "$out/images" || exit 1
if [ -n "$shared" ] && [ -d "$shared/hostile" ]; then
  for packed in "$shared"/hostile/*.bz2; do
    bzip2 -dc "$packed" >"$out/images/$(basename "$packed" .bz2)"
  done
fi

# Sanitizers stop at the first report; no allocation above 512 MiB, no
# process above 1 GiB.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=0:max_allocation_size_mb=512:hard_rss_limit_mb=1024
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failures=0
rm -f "$out/times"
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}

# run IMAGE NAME ARGS...: one command in an empty folder of its own, which
# is all it may write to.
run() {
  local image=$1 name=$2
  shift 2
  local dir="$out/runs/$(basename "$image")/$name"
  rm -rf "$dir" && mkdir -p "$dir"
  local started=$EPOCHREALTIME
  (cd "$dir" && timeout -s KILL "$seconds" "$brevid" "$@" >stdout 2>stderr)
  local status=$?
  awk -v end="$EPOCHREALTIME" -v start="$started" -v what="$(basename "$image") $name" \
    'BEGIN { printf "%.2f %s\n", end - start, what }' >>"$out/times"
  if [ $status -gt 2 ]; then
    fail "$(basename "$image") $name: exit $status"
    tail -n 20 "$dir/stderr"
  elif grep -q "Sanitizer\|runtime error:" "$dir/stderr"; then
    fail "$(basename "$image") $name: sanitizer report"
    tail -n 20 "$dir/stderr"
  fi
  local strays
  strays=$(cd "$dir" && find . -mindepth 1 -maxdepth 1 ! -name stdout ! -name stderr ! -name target \
    ! -name scan.qel_scn ! -name copy.img ! -name bad.txt)
  [ -z "$strays" ] || fail "$(basename "$image") $name: wrote $strays"
  if [ -d "$dir/target" ] && find "$dir/target" -type l | grep -q .; then
    fail "$(basename "$image") $name: a link in the target"
  fi
  rm -f "$dir/copy.img"
}

# The item texts of the volumes (at most two) in a `list --json` output.
volumes() {
  python3 -c 'import json,sys
try:
    for disk in json.load(sys.stdin).get("disks", []):
        for v in disk.get("volumes", [])[:2]:
            print(v.get("name", ""))
except ValueError:
    pass' <"$1"
}

for image in "$out"/images/*; do
  [ -f "$image" ] || continue
  before=$(sha256sum <"$image")
  run "$image" list list --json "$image"
  mapfile -t names < <(volumes "$out/runs/$(basename "$image")/list/stdout")
  [ ${#names[@]} -gt 0 ] || names=(Partition0)
  for volume in "${names[@]}"; do
    tag=${volume//[^A-Za-z0-9]/_}
    run "$image" "tree-$tag" tree "$image" "$volume"
    run "$image" "format-$tag" tree "$image" "$volume" --format
    run "$image" "save-$tag" save "$image" "$volume" --to target
  done
  run "$image" quick find-partitions "$image" --results scan.qel_scn
  run "$image" precise find-partitions "$image" --precise
  run "$image" deep deep-scan "$image" --results scan.qel_scn
  results="$out/runs/$(basename "$image")/deep/scan.qel_scn"
  # Damaged result files: one image of each kind is enough.
  if [ -f "$results" ] && [[ $image =~ (chain-loop|parent-cycle|ebr-ring) ]]; then
    # The deep scan's own result file, then cut in half and with every number
    # made huge.
    cp "$results" "$out/runs/whole.qel_scn"
    head -c $(($(stat -c %s "$results") / 2)) "$results" >"$out/runs/half.qel_scn"
    sed -E 's/[0-9]+/18446744073709551615/g' "$results" >"$out/runs/huge.qel_scn"
    for kind in whole half huge; do
      run "$image" "results-$kind" results show "$out/runs/$kind.qel_scn"
      run "$image" "list-$kind" list "$image" --results "$out/runs/$kind.qel_scn"
    done
  fi
  run "$image" image image "$image" --to-file copy.img --bad-list bad.txt
  [ "$(sha256sum <"$image")" = "$before" ] || fail "$(basename "$image"): source changed"
done

echo "hostile images: $(ls "$out"/images | wc -l), failures: $failures"
[ $failures -eq 0 ]
