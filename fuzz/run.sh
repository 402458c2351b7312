#!/usr/bin/env bash
# Runs fuzz targets for a while each, two at a time, from the seeds in
# fuzz/seeds/, the module corpus (where it is present) and what earlier runs
# in this build folder found. A target that finds a fault stops and leaves
# the input in BUILD/fuzz-artifacts/; the exit code is then 1.
# Usage: fuzz/run.sh BUILD SECONDS [TARGET...]   (default: every fuzz_* in BUILD/bin)
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: fuzz/run.sh BUILD SECONDS [TARGET...]}
seconds=${2:?usage: fuzz/run.sh BUILD SECONDS [TARGET...]}
shift 2
modules="$here/../../shared/modules"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in "$build"/bin/fuzz_*; do [ -x "$t" ] && targets+=("$(basename "$t")"); done
fi
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets in $build/bin: configure with -DFUZZ=ON and build the target fuzzers" >&2; exit 2; }
mkdir -p "$build/fuzz-artifacts"

run_one() {
  local target=$1 kind=${1#fuzz_}
  local corpus="$build/fuzz-corpus/$target" seeds="$build/fuzz-seeds/$target"
  mkdir -p "$corpus" "$seeds"
  # Seeds: the small files made for this reader, and the corpus modules of its format.
  [ -d "$here/seeds/$kind" ] && cp -f "$here/seeds/$kind"/* "$seeds"/ 2>/dev/null
  if [ -d "$modules" ]; then
    for f in "$modules"/*."$kind"; do [ -e "$f" ] && ln -sf "$f" "$seeds/"; done
  fi
  "$build/bin/$target" "$corpus" "$seeds" -max_total_time="$seconds" -max_len=262144 -timeout=20 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$target-" \
    >"$build/fuzz-artifacts/$target.log" 2>&1
  local status=$?
  local runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$build/fuzz-artifacts/$target.log" | grep -o '[0-9]*$')
  if [ $status -eq 0 ]; then
    echo "$target: ${seconds} s, ${runs:-?} inputs, nothing found"
  else
    echo "$target: FAULT after ${runs:-?} inputs (exit $status), see $build/fuzz-artifacts/$target.log"
    grep -m3 -E 'ERROR|SUMMARY|runtime error' "$build/fuzz-artifacts/$target.log" | sed 's/^/  /'
  fi
  return $status
}

failed=0
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  run_one "${targets[i]}" & first=$!
  second=
  if [ $((i + 1)) -lt ${#targets[@]} ]; then run_one "${targets[i + 1]}" & second=$!; fi
  wait $first || failed=1
  [ -n "$second" ] && { wait $second || failed=1; }
done
exit $failed
