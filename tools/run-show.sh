#!/usr/bin/env bash
# `make run`: the show from build/data in a window when a display is there,
# otherwise the headless capture, saying where its output went.
# The show's own exit codes: 1 after its normal end (or after a set-up error it
# has shown in a message box), 0 after Escape or a closed window, 255 after a
# fatal sound-library error. Only the last, or a crash, fails `make run`.
set -u
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/$build/bin"
cd "$root/$build/data" || exit 1

finish() {
  case "$1" in
    0) echo "The show was ended by the user (exit code 0)."; exit 0 ;;
    1) echo "The show has ended (exit code 1: its normal end, or a set-up error it reported above)."; exit 0 ;;
    *) echo "The show failed (exit code $1)." >&2; exit "$1" ;;
  esac
}

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$bin/morva" ]; then
  "$bin/morva"
  finish $?
fi
if [ ! -x "$bin/morva-capture" ]; then
  echo "morva-capture has not been built yet" >&2
  exit 1
fi
out="$root/$build/capture"
echo "No display: running the show headless, recording into $out"
"$bin/morva-capture" --out "$out"
rc=$?
echo "Capture written to $out (events.tsv, video.y4m, audio.wav, stills)"
finish $rc
