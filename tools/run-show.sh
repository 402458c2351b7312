#!/usr/bin/env bash
# `make run`: the show from build/data in a window when a display is there,
# otherwise the headless capture, saying where its output went.
set -eu
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/$build/bin"
cd "$root/$build/data"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$bin/morva" ]; then
  exec "$bin/morva"
fi
if [ ! -x "$bin/morva-capture" ]; then
  echo "morva-capture has not been built yet" >&2
  exit 1
fi
out="$root/$build/capture"
echo "No display: running the show headless, recording into $out"
set +e
"$bin/morva-capture" --out "$out"
rc=$?
set -e
echo "Capture written to $out (events.tsv, video.y4m, audio.wav, stills); exit code $rc"
exit $rc
