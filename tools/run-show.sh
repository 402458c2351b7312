#!/usr/bin/env bash
# `make run`: the show from build/data in a window when a display is there, otherwise (or when
# the show finds it cannot open that display) the headless capture, saying why and what it wrote.
# The show's own exit codes: 1 after its normal end (or after a set-up error it has shown in a
# message box), 0 after Escape or a closed window, 3 when there is no screen to show on, 4 when
# the connection to the display broke during the show, 255 after a fatal sound-library error.
# Only 4, 255 and crashes fail `make run`. The headless capture adds two codes of its own: 5 when
# it stopped the show at its bound of show time (a show that would not end by itself), 6 when a
# file could not be written (disk full); both fail `make run` too.
# Usage: tools/run-show.sh [BUILD], BUILD relative to the source folder or absolute (default: build).
set -u
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
case "$build" in
  /*) folder=$build ;;
  *) folder=$root/$build ;;
esac
bin="$folder/bin"
cd "$folder/data" || { echo "There is no show data in $folder/data: build first (make run builds it)." >&2; exit 1; }

finish() {
  case "$1" in
    0) echo "The show was ended by the user (exit code 0)."; exit 0 ;;
    1) echo "The show has ended (exit code 1: its normal end, or a set-up error it reported above)."; exit 0 ;;
    4) echo "The show lost its display (exit code 4: the connection to it broke during the show)." >&2; exit 4 ;;
    255) echo "The show failed (exit code 255: a fatal error of the sound library, reported above)." >&2; exit 255 ;;
    *) echo "The show failed (exit code $1)." >&2; exit "$1" ;;
  esac
}

# The show recorded headless; $1 says why there is no window.
capture() {
  if [ ! -x "$bin/morva-capture" ]; then
    echo "$1, and morva-capture has not been built yet." >&2
    exit 1
  fi
  local out="$folder/capture"
  echo "$1: running the show headless instead, recording into $out"
  "$bin/morva-capture" --out "$out"
  local rc=$?
  # morva-capture removes earlier video, sound and stills first, so what is there is this run's.
  local files="" name
  for name in "$out"/events.tsv "$out"/video.y4m "$out"/audio.wav "$out"/still-*.png; do
    [ -f "$name" ] && files="$files ${name##*/}"
  done
  echo "Capture written to $out:${files:- no files}"
  case $rc in
    5) echo "The show did not end by itself: the capture stopped it at its bound of show time (exit code 5, the reason is above)." >&2; exit 5 ;;
    6) echo "The capture could not write its files (exit code 6, the file and the reason are above)." >&2; exit 6 ;;
  esac
  finish $rc
}

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  capture "No display (DISPLAY and WAYLAND_DISPLAY are not set)"
fi
if [ ! -x "$bin/morva" ]; then
  capture "morva has not been built"
fi
"$bin/morva"
rc=$?
if [ $rc = 3 ]; then
  capture "The show found no screen to show on (exit code 3, the reason is above)"
fi
finish $rc
