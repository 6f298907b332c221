#!/usr/bin/env bash
# Render speed: 20 s of a 1080p30 front + rear pair (H.264 + AAC MP4 made
# once with ffmpeg's test pattern and a tone, kept in the build folder)
# rendered by tachora-cli with the rear as an inset and the full overlay,
# against ffmpeg doing the same inset with its overlay filter and the same
# encoder settings (libx264 PRESET, AAC) as a yardstick. Prints, for each
# run, the wall-clock seconds, frames a second, the multiple of real time
# (above 1: faster than the clip plays) and the CPU seconds (user + system:
# what the machine's other work does not change much), then the ranges over
# RUNS runs (at least 3). CI does not run this.
# Usage: compare_render.sh BUILD_DIR [RUNS] [PRESET]
set -euo pipefail
BUILD="$(cd "$1" && pwd)"
RUNS="${2:-3}"
PRESET="${3:-superfast}"
[ "$RUNS" -ge 3 ] || RUNS=3
CLI="$BUILD/cli/tachora-cli"
WORK="$BUILD/bench-render"
SECONDS_LONG=20
FRAMES=$((SECONDS_LONG * 30))
FRONT="$WORK/20240612_093000_F.MP4"
REAR="$WORK/20240612_093000_R.MP4"
mkdir -p "$WORK"
[ -x "$CLI" ] || { echo "build tachora-cli first" >&2; exit 1; }

if [ ! -f "$FRONT" ] || [ ! -f "$REAR" ]; then
  echo "making the 1080p30 pair (once)..." >&2
  ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=$SECONDS_LONG \
    -f lavfi -i sine=frequency=440:sample_rate=48000:duration=$SECONDS_LONG \
    -c:v libx264 -preset ultrafast -b:v 12M -g 30 -pix_fmt yuv420p -c:a aac -ac 2 "$FRONT.tmp.mp4"
  ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=$SECONDS_LONG \
    -vf hflip -c:v libx264 -preset ultrafast -b:v 8M -g 30 -pix_fmt yuv420p "$REAR.tmp.mp4"
  mv "$FRONT.tmp.mp4" "$FRONT"
  mv "$REAR.tmp.mp4" "$REAR"
fi

# "WALL CPU" seconds of one command.
timed() {
  local TIMEFORMAT='%R %U %S'
  { time "$@" >/dev/null 2>&1; } 2>"$WORK/time.txt"
  awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$WORK/time.txt"
}

report() {
  local name="$1" secs="$2" cpu="$3"
  printf '%-10s %6.2f s  %6.1f fps  %5.2fx real time  %6.2f CPU s\n' "$name" "$secs" \
    "$(echo "$FRAMES / $secs" | bc -l)" "$(echo "$SECONDS_LONG / $secs" | bc -l)" "$cpu"
}

tachora=()
tachora_cpu=()
ffmpeg_runs=()
ffmpeg_cpu=()
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for i in $(seq 1 "$RUNS"); do
  rm -f "$WORK/out.mp4" "$WORK/ref.mp4"
  read -r s c < <(timed "$CLI" render --quiet --from 0 --to $SECONDS_LONG --layout pip \
    --overlay speed,time,position,gsensor --preset "$PRESET" -o "$WORK/out.mp4" "$FRONT" "$REAR")
  tachora+=("$s")
  tachora_cpu+=("$c")
  report tachora "$s" "$c"
  read -r s c < <(timed ffmpeg -nostdin -y -v error -i "$FRONT" -i "$REAR" -filter_complex \
    "[1:v]scale=576:-2[r];[0:v][r]overlay=W-w-38:38" -c:v libx264 -preset "$PRESET" -crf 23 \
    -c:a aac "$WORK/ref.mp4")
  ffmpeg_runs+=("$s")
  ffmpeg_cpu+=("$c")
  report ffmpeg "$s" "$c"
done
range() { printf '%s\n' "$@" | sort -n | sed -n '1p;$p' | tr '\n' ' '; }
echo "tachora wall s (min max): $(range "${tachora[@]}")  CPU s: $(range "${tachora_cpu[@]}")"
echo "ffmpeg  wall s (min max): $(range "${ffmpeg_runs[@]}")  CPU s: $(range "${ffmpeg_cpu[@]}")"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 "$WORK/out.mp4"
