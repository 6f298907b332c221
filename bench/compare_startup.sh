#!/usr/bin/env bash
# Start-up of the viewer against bare mpv, under one virtual X display. The
# viewer starts RUNS times (default 10) with the demo card on its command
# line, each time in fresh home, config, cache and runtime folders (no
# settings, no map cache, no shader cache from an earlier run); its --timing
# lines give milliseconds since the process started for window-visible,
# list-filled, first-frame and map-loaded, and the medians are printed.
# Between the viewer's runs bare mpv plays the card's first clip, with fresh
# folders too and the same software OpenGL; its log's "first video frame ...
# shown" is its time to the first frame. mpv's log clock starts in its
# main(), after its libraries have loaded, so its figure is a little low.
#
# The card is made once in the build folder by the viewer's --demo (ffmpeg).
# Goals on an idle machine: the window within 600 ms, the first frame within
# 1000 ms. CI does not run this.
# Usage: compare_startup.sh BUILD_DIR [RUNS]
set -euo pipefail
BUILD="$(cd "$1" && pwd)"
RUNS="${2:-10}"
APP="$BUILD/gui/tachora"
WORK="$BUILD/bench-startup"
CARD="$WORK/card"
[ -x "$APP" ] || { echo "build the tachora target first" >&2; exit 1; }
command -v mpv >/dev/null || { echo "mpv is missing (scripts/install-deps.sh)" >&2; exit 1; }

# shellcheck source=bench/xsession.sh
. "$(dirname "${BASH_SOURCE[0]}")/xsession.sh"

# run_viewer N: one start of the viewer; appends its timing lines to the table.
run_viewer() {
  fresh_home "$WORK/viewer-home"
  local log="$WORK/viewer-$1.log" pid
  "$APP" --timing "$CARD" >"$log" 2>&1 &
  pid=$!
  if ! wait_for "$log" "timing: map-loaded" 30 "$pid"; then
    echo "run $1: the map did not load" >&2
    # A start that hangs: where it waits, for a closer look.
    if alive "$pid" && command -v gdb >/dev/null; then
      gdb -batch -p "$pid" -ex "thread apply all bt 30" >"$log.stacks" 2>&1 || true
    fi
  fi
  stop "$pid"
  grep -q "timing: window-visible" "$log" || echo "run $1: no window ($ENDED, see $log)" >&2
  sed -n 's/^tachora: timing: \([a-z-]*\) \([0-9]*\) ms.*$/\1 \2/p' "$log" >>"$WORK/viewer.times"
}

# run_mpv N: one start of bare mpv on the card's first clip.
run_mpv() {
  fresh_home "$WORK/mpv-home"
  local log="$WORK/mpv-$1.log" pid
  rm -f "$log"
  mpv --no-config --vo=gpu --gpu-api=opengl --opengl-sw=yes --hwdec=no --ao=null \
    --keep-open=yes --msg-level=all=v --log-file="$log" "$CLIP" >/dev/null 2>&1 &
  pid=$!
  wait_for "$log" "first video frame after restart shown" 30 "$pid" ||
    echo "mpv run $1: no first frame" >&2
  stop "$pid"
  sed -n 's/^\[ *\([0-9.]*\)\].*first video frame after restart shown.*/first-frame \1/p' "$log" |
    awk '{ printf "%s %.0f\n", $1, $2 * 1000 }' | head -n 1 >>"$WORK/mpv.times"
}

# median NAME FILE: the median of NAME's values in FILE, with their range.
median() {
  { grep "^$1 " "$2" || true; } | awk '{ print $2 }' | sort -n | awk -v name="$1" '
    { v[NR] = $1 }
    END {
      if (NR == 0) { printf "  %-15s -\n", name; exit }
      m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
      printf "  %-15s %6.0f ms  (%d runs, %d-%d)\n", name, m, NR, v[1], v[NR]
    }'
}

run() {
  mkdir -p "$WORK"
  make_card
  CLIP="$(find "$CARD/DCIM" -iname 'FILE0001.MOV' | head -n 1)"
  rm -f "$WORK/viewer.times" "$WORK/mpv.times"
  echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
  local i
  for ((i = 1; i <= RUNS; ++i)); do
    run_viewer "$i"
    run_mpv "$i"
  done
  echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "Start-up, medians of $RUNS runs (ms since the process started):"
  echo " tachora with the demo card on its command line:"
  for m in window-visible list-filled first-frame map-loaded; do median "$m" "$WORK/viewer.times"; done
  echo " bare mpv, the card's first clip (its clock starts in main()):"
  median first-frame "$WORK/mpv.times"
  echo " goals: window-visible <= 600 ms, first-frame <= 1000 ms (idle machine)"
}

if [ -n "${COMPARE_STARTUP_INSIDE:-}" ]; then
  run
else
  # The map page runs without Chromium's sandbox here, as in the tests.
  export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --disable-gpu"
  COMPARE_STARTUP_INSIDE=1 TZ=UTC exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$BUILD" "$RUNS"
fi
