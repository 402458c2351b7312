#!/usr/bin/env bash
# make bench: the offline render speed and peak memory of every module of the
# corpus with the integer, float and interpolating mixers; the same files side
# by side with libxmp where it is installed; then the micro-benchmarks.
# Each render is repeated and the cheapest run counts (REPEAT, default 3),
# which keeps the figures steady on a machine shared with other work.
# Usage: bench/run.sh BUILD [CORPUS]
set -u
repeat=${REPEAT:-3}
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: bench/run.sh BUILD [CORPUS]}
corpus=${2:-$here/../../shared/modules}
status=0
echo "== $(uptime | sed 's/^ *//')"
if [ -d "$corpus" ]; then
  echo
  echo "== Render speed of the module corpus"
  "$build/bin/renderspeed" --repeat "$repeat" "$build/bin/virezplay" "$corpus" || status=1
  if [ -x "$build/bin/xmpcompare" ]; then
    echo
    echo "== Side by side with libxmp"
    "$build/bin/xmpcompare" --repeat "$repeat" "$build/bin/virezplay" "$corpus" || status=1
  else
    echo
    echo "(libxmp is not installed: no comparison; apt-get install libxmp-dev, then make bench again)"
  fi
else
  echo "(no module corpus at $corpus: render speeds skipped)"
fi
for b in "$build"/bin/bench_*; do
  [ -x "$b" ] || continue
  echo
  echo "== $(basename "$b")"
  "$b" || status=1
done
exit $status
