#!/usr/bin/env bash
# The player's CPU while playing against bare mpv playing the same clip with
# the same kind of video output (OpenGL, hardware decoding where there is
# any), in one run under one virtual X display: a 1080p H.264 clip (made
# once in the build folder, never committed; CI does not run this), each
# program left 5 s to start, then its CPU time (user + system, all threads)
# over the next 20 s of playback. The goal is at most 1.2x bare mpv. (mpv is
# told to accept a software OpenGL, as the viewer does under Xvfb.)
# Usage: compare_playback.sh BUILD_DIR
set -euo pipefail
BUILD="$(cd "$1" && pwd)"
APP="$BUILD/gui/tachora"
WORK="$BUILD/bench-playback"
CLIP="$WORK/clip-1080p.mov"
SETTLE=5
MEASURE=20
mkdir -p "$WORK"
[ -x "$APP" ] || { echo "build the tachora target first" >&2; exit 1; }
command -v mpv >/dev/null || { echo "mpv is missing (scripts/install-deps.sh)" >&2; exit 1; }

if [ ! -f "$CLIP" ]; then
  echo "making $CLIP (once)..." >&2
  ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=30 \
    -c:v libx264 -preset veryfast -b:v 12M -g 30 -pix_fmt yuv420p -f mov "$CLIP.tmp"
  mv "$CLIP.tmp" "$CLIP"
fi

# CPU seconds (user + system) a process has used so far.
cpu() {
  awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$1/stat"
}

# measure NAME CMD...: starts CMD in the background, waits SETTLE seconds,
# prints its CPU seconds over the next MEASURE seconds, and stops it.
measure() {
  local name="$1" pid before after
  shift
  "$@" >"$WORK/$name.log" 2>&1 &
  pid=$!
  sleep "$SETTLE"
  kill -0 "$pid" 2>/dev/null || { echo "$name did not start, see $WORK/$name.log" >&2; exit 1; }
  before=$(cpu "$pid")
  sleep "$MEASURE"
  after=$(cpu "$pid")
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  awk -v a="$after" -v b="$before" 'BEGIN { printf "%.2f", a - b }'
}

run() {
  export HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/config" XDG_CACHE_HOME="$WORK/cache"
  rm -rf "$HOME" "$XDG_CONFIG_HOME"
  mkdir -p "$HOME"
  local mpv_cpu app_cpu
  mpv_cpu=$(measure mpv mpv --no-config --vo=gpu --gpu-api=opengl --opengl-sw=yes --hwdec=auto-safe --ao=null \
    --geometry=960x540 --keep-open=yes "$CLIP")
  # The viewer opens the clip given on its command line and plays it.
  app_cpu=$(measure tachora "$APP" "$CLIP")
  echo "CPU seconds over ${MEASURE}s of 1080p H.264 playback (OpenGL output):"
  echo "  mpv      $mpv_cpu"
  echo "  tachora  $app_cpu"
  awk -v a="$app_cpu" -v m="$mpv_cpu" 'BEGIN { if (m > 0) printf "  ratio    %.2fx (goal <= 1.2x)\n", a / m }'
}

# ==== two cameras ==========================================================
# A recording of two cameras: a front and a rear 1080p H.264 file named as
# recorders name them, so that the catalogue makes one row of them, played
# in the default picture-in-picture layout (two libmpv players, the rear
# without sound), against bare mpv playing the front file alone. The goal
# is at most 2.2x. The files are made once, in a folder of their own that
# the viewer is given (as a card's folder).
two_cameras() {
  local folder="$WORK/two-cameras"
  local front="$folder/20240612_093000_F.MOV" rear="$folder/20240612_093000_R.MOV"
  local source
  mkdir -p "$folder"
  for f in "$front" "$rear"; do
    [ -f "$f" ] && continue
    echo "making $f (once)..." >&2
    # Both moving (a still picture would cost the decoder next to nothing),
    # the rear in negative colours, so that a rear showing the front is seen.
    source="testsrc2=size=1920x1080:rate=30:duration=30"
    [ "$f" = "$rear" ] && source="$source,negate"
    ffmpeg -nostdin -y -v error -f lavfi -i "$source" \
      -f lavfi -i sine=frequency=440:sample_rate=48000:duration=30 \
      -c:v libx264 -preset veryfast -b:v 12M -g 30 -pix_fmt yuv420p -c:a aac -shortest \
      -f mov "$f.tmp"
    mv "$f.tmp" "$f"
  done
  local mpv_cpu app_cpu
  mpv_cpu=$(measure mpv-front mpv --no-config --vo=gpu --gpu-api=opengl --opengl-sw=yes \
    --hwdec=auto-safe --ao=null --geometry=960x540 --keep-open=yes "$front")
  rm -rf "$XDG_CONFIG_HOME"
  app_cpu=$(measure tachora-two "$APP" "$folder")
  echo "CPU seconds over ${MEASURE}s of two 1080p H.264 cameras (front + rear, picture-in-picture):"
  echo "  mpv (front only)  $mpv_cpu"
  echo "  tachora (both)    $app_cpu"
  awk -v a="$app_cpu" -v m="$mpv_cpu" \
    'BEGIN { if (m > 0) printf "  ratio             %.2fx (goal <= 2.2x)\n", a / m }'
}
# ==== end of two cameras ====================================================

if [ -n "${COMPARE_PLAYBACK_INSIDE:-}" ]; then
  run
  two_cameras
else
  COMPARE_PLAYBACK_INSIDE=1 exec xvfb-run -a -s "-screen 0 1920x1080x24" "$0" "$BUILD"
fi
