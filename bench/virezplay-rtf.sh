#!/usr/bin/env bash
# Real-time factor of offline rendering: virezplay --wav /dev/null over every module of the
# corpus, summed per format (seconds of music rendered per second of processor time).
# Usage: bench/virezplay-rtf.sh [BUILD] [CORPUS] [extra virezplay options...]
set -u
build=${1:-build}
corpus=${2:-$(dirname "$0")/../../shared/modules}
shift $(( $# < 2 ? $# : 2 ))
player="$build/bin/virezplay"
[ -x "$player" ] || { echo "no $player: build it first" >&2; exit 1; }
printf "%-6s %6s %12s %10s %10s\n" format files music_s cpu_s realtime
for ext in xm s3m it mod; do
  files=("$corpus"/*."$ext")
  [ -e "${files[0]}" ] || continue
  music=0 cpu=0 played=0
  for f in "${files[@]}"; do
    seconds=$("$player" "$@" --info "$f" 2>/dev/null | awk '/^duration:/ {print $2}')
    [ -n "$seconds" ] || continue # does not load (yet)
    start=$(date +%s.%N)
    "$player" "$@" --wav /dev/null "$f" || continue
    end=$(date +%s.%N)
    music=$(echo "$music + $seconds" | bc -l)
    cpu=$(echo "$cpu + $end - $start" | bc -l)
    played=$((played + 1))
  done
  if [ "$played" -gt 0 ]; then
    printf "%-6s %6s %12.1f %10.3f %9.0fx\n" "$ext" "$played/${#files[@]}" "$music" "$cpu" "$(echo "$music / $cpu" | bc -l)"
  else
    printf "%-6s %6s %12s %10s %10s\n" "$ext" "0/${#files[@]}" - - "(none loads)"
  fi
done
