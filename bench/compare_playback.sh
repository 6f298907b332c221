#!/usr/bin/env bash
# The player's CPU and memory while playing, against bare mpv playing the
# same recordings, under one virtual X display (CI does not run this).
#
# Case "demo trip": the demo card's first trip (four 15-second clips; the
# card is made once in the build folder by the viewer's --demo) opened from
# the viewer's command line, which plays it with the whole window showing:
# list, video, seek bar, graphs, instruments and the map page (Qt WebEngine;
# no tiles come without a network, the track and vehicle are drawn). mpv
# plays the four clips as a playlist.
#
# Equal work: both render through OpenGL in software (Mesa llvmpipe; mpv's
# --vo=gpu with --opengl-sw, the viewer's OpenGL renderer, the libmpv render
# API in a QOpenGLWidget), both decode in software (hwdec=auto-safe finds
# nothing under Xvfb), mpv's window is given the size of the viewer's video
# picture (the viewer's --timing reports it), and neither plays sound
# (--ao=null). What the viewer draws beyond the picture (its window, the
# panels, the browser) is its own cost and counted.
#
# Each program runs ROUNDS times (default 3), alternating, each in fresh
# home, config and cache folders; after SETTLE seconds it is measured over
# MEASURE seconds:
#   CPU  user + system time of the process and all its descendants (the
#        browser's processes), the children that ended included;
#   PSS  proportional set size summed over the same processes
#        (/proc/PID/smaps_rollup), at the end; RSS summed beside it.
# Printed: each run, the medians and the median ratio of CPU time. Goals:
# CPU at most 1.2x bare mpv, the viewer's memory under 350 MB.
#
# Another case is one more call of compare_case (see the end of run()).
# Usage: compare_playback.sh BUILD_DIR [ROUNDS]
set -euo pipefail
BUILD="$(cd "$1" && pwd)"
ROUNDS="${2:-3}"
APP="$BUILD/gui/tachora"
WORK="$BUILD/bench-playback"
CARD="$WORK/card"
SETTLE="${SETTLE:-6}"
MEASURE="${MEASURE:-20}"
[ -x "$APP" ] || { echo "build the tachora target first" >&2; exit 1; }
command -v mpv >/dev/null || { echo "mpv is missing (scripts/install-deps.sh)" >&2; exit 1; }

# shellcheck source=bench/xsession.sh
. "$(dirname "${BASH_SOURCE[0]}")/xsession.sh"

# The process PID and its descendants, one a line.
tree() {
  local pid="$1" child
  echo "$pid"
  for child in $(cat /proc/"$pid"/task/*/children 2>/dev/null); do tree "$child"; done
}

# CPU seconds of the tree: each process's user + system time, plus what its
# children that have ended and been waited for used.
tree_cpu() {
  local hz pid total=0
  hz=$(getconf CLK_TCK)
  for pid in $(tree "$1"); do
    # Fields after the command name: 14-17 are utime stime cutime cstime.
    total=$(awk -v t="$total" '{ sub(/^.*\) /, ""); print t + $12 + $13 + $14 + $15 }' \
      "/proc/$pid/stat" 2>/dev/null || echo "$total")
  done
  awk -v t="$total" -v hz="$hz" 'BEGIN { printf "%.2f", t / hz }'
}

# "PSS RSS" of the tree in MB.
tree_memory() {
  local pid
  for pid in $(tree "$1"); do
    cat "/proc/$pid/smaps_rollup" 2>/dev/null || true
  done | awk '/^Pss:/ { p += $2 } /^Rss:/ { r += $2 } END { printf "%.0f %.0f", p / 1024, r / 1024 }'
}

# measure LOG CMD...: starts CMD in fresh folders, waits SETTLE seconds and
# prints "CPU PSS RSS" of its process tree over the next MEASURE seconds.
measure() {
  local log="$1" pid before after memory
  shift
  fresh_home "$WORK/home"
  "$@" >"$log" 2>&1 &
  pid=$!
  sleep "$SETTLE"
  alive "$pid" || { echo "did not start: $* (see $log)" >&2; exit 1; }
  before=$(tree_cpu "$pid")
  sleep "$MEASURE"
  after=$(tree_cpu "$pid")
  memory=$(tree_memory "$pid")
  stop "$pid"
  awk -v a="$after" -v b="$before" -v m="$memory" 'BEGIN { printf "%.2f %s\n", a - b, m }'
}

# The viewer's video picture size (device pixels), from a short start.
picture_size() {
  fresh_home "$WORK/home"
  "$APP" --timing "$@" >"$WORK/size.log" 2>&1 &
  local pid=$!
  wait_for "$WORK/size.log" "timing: first-frame" 30 "$pid" || true
  stop "$pid"
  sed -n 's/^tachora: timing: first-frame [0-9]* ms \([0-9]*x[0-9]*\)$/\1/p' "$WORK/size.log"
}

median() {
  sort -n | awk '{ v[NR] = $1 } END { if (NR) print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# compare_case NAME "MPV ARGUMENTS" "VIEWER ARGUMENTS" GOAL [SIZE]: ROUNDS
# alternating runs of each (arguments split at spaces), then the case's
# summary against the goal ratio of CPU time. mpv's window is SIZE, else the
# size of the viewer's first picture (kept in CASE_SIZE for the next case).
# MEM_GOAL: the case's goal for the viewer's memory (PSS, MB), if it has one.
CASE_SIZE=""
compare_case() {
  local name="$1" mpv_args="$2" app_args="$3" goal="$4" size="${5:-}" i m a
  local table="$WORK/$name.runs"
  # shellcheck disable=SC2086
  [ -n "$size" ] || size=$(picture_size $app_args)
  CASE_SIZE="$size"
  [ -n "$size" ] || { echo "$name: the viewer showed no frame (see $WORK/size.log)" >&2; exit 1; }
  : >"$table"
  echo "== $name (mpv window $size, as the viewer's picture)"
  echo "   run  program   CPU s  PSS MB  RSS MB"
  for ((i = 1; i <= ROUNDS; ++i)); do
    # shellcheck disable=SC2086
    m=$(measure "$WORK/$name-mpv-$i.log" mpv --no-config --vo=gpu --gpu-api=opengl \
      --opengl-sw=yes --hwdec=auto-safe --ao=null --keep-open=yes --geometry="$size" \
      --autofit="$size" $mpv_args)
    # shellcheck disable=SC2086
    a=$(measure "$WORK/$name-tachora-$i.log" "$APP" $app_args)
    printf "   %3d  mpv     %7s %7s %7s\n" "$i" $m
    printf "   %3d  tachora %7s %7s %7s\n" "$i" $a
    echo "$i $m $a" >>"$table"
  done
  local mc ac ratio apss mpss
  mc=$(awk '{ print $2 }' "$table" | median)
  ac=$(awk '{ print $5 }' "$table" | median)
  ratio=$(awk '{ if ($2 > 0) printf "%.3f\n", $5 / $2 }' "$table" | median)
  mpss=$(awk '{ print $3 }' "$table" | median)
  apss=$(awk '{ print $6 }' "$table" | median)
  echo "   medians: CPU over ${MEASURE}s mpv $mc s, tachora $ac s;" \
    "ratio of each round's pair $(printf '%.2f' "$ratio")x (goal <= ${goal}x)"
  echo "            memory (PSS) mpv $mpss MB, tachora $apss MB${MEM_GOAL:+ (goal < $MEM_GOAL MB)}"
}

run() {
  mkdir -p "$WORK"
  make_card
  local clips
  clips=$(find "$CARD/DCIM" -maxdepth 2 -iname 'FILE000[1-4].MOV' | sort | tr '\n' ' ')
  echo "load before: $(cut -d' ' -f1-3 /proc/loadavg); settle ${SETTLE}s, measure ${MEASURE}s"
  MEM_GOAL=350 compare_case "demo-trip" "$clips" "$CARD" 1.2
  make_two_cameras "$WORK/two-cameras"
  # The big picture of the two-camera window is the demo trip's (the inset
  # may show its first frame first, so its size is not asked again).
  compare_case "two-cameras" "$WORK/two-cameras/20240612_093000_F.MOV" "$WORK/two-cameras" 2.2 \
    "$CASE_SIZE"
  echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg)"
}

# Case "two cameras": a front and a rear 1080p30 H.264 file named as
# recorders name them, so the catalogue makes one row of them, played in the
# default picture-in-picture layout (two libmpv players, the rear without
# sound) against bare mpv playing the front file alone; goal at most 2.2x.
# The files are made once, in a folder of their own given to the viewer.
make_two_cameras() {
  local folder="$1" source f
  mkdir -p "$folder"
  for f in "$folder/20240612_093000_F.MOV" "$folder/20240612_093000_R.MOV"; do
    [ -f "$f" ] && continue
    echo "making $f (once)..." >&2
    # Both moving (a still picture would cost the decoder next to nothing),
    # the rear in negative colours, so that a rear showing the front is seen.
    source="testsrc2=size=1920x1080:rate=30:duration=30"
    [[ "$f" == *_R.MOV ]] && source="$source,negate"
    ffmpeg -nostdin -y -v error -f lavfi -i "$source" \
      -f lavfi -i sine=frequency=440:sample_rate=48000:duration=30 \
      -c:v libx264 -preset veryfast -b:v 12M -g 30 -pix_fmt yuv420p -c:a aac -shortest \
      -f mov "$f.tmp"
    mv "$f.tmp" "$f"
  done
}

if [ -n "${COMPARE_PLAYBACK_INSIDE:-}" ]; then
  run
else
  # The map page runs without Chromium's sandbox here, as in the tests.
  export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--no-sandbox --disable-gpu"
  COMPARE_PLAYBACK_INSIDE=1 TZ=UTC exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$BUILD" "$ROUNDS"
fi
