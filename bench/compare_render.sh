#!/usr/bin/env bash
# Render speed: 20 s of a 1080p30 front + rear pair (H.264 + AAC MP4 made
# once with ffmpeg's test pattern and a tone, kept in the build folder)
# rendered by tachora-cli with the rear as an inset and the full overlay,
# against ffmpeg doing the same inset with its overlay filter and the same
# encoder settings (libx264 veryfast, AAC) as a yardstick. Prints, for each
# run, the wall-clock seconds, frames a second and the multiple of real
# time (above 1: faster than the clip plays), then the range over RUNS runs
# (at least 3). CI does not run this.
# Usage: compare_render.sh BUILD_DIR [RUNS]
set -euo pipefail
BUILD="$(cd "$1" && pwd)"
RUNS="${2:-3}"
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

# Wall-clock seconds of one command.
timed() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

report() {
  local name="$1" secs="$2"
  printf '%-10s %6.2f s  %6.1f fps  %5.2fx real time\n' "$name" "$secs" \
    "$(echo "$FRAMES / $secs" | bc -l)" "$(echo "$SECONDS_LONG / $secs" | bc -l)"
}

tachora=()
ffmpeg_runs=()
for i in $(seq 1 "$RUNS"); do
  rm -f "$WORK/out.mp4" "$WORK/ref.mp4"
  s=$(timed "$CLI" render --quiet --from 0 --to $SECONDS_LONG --layout pip \
    --overlay speed,time,position,gsensor -o "$WORK/out.mp4" "$FRONT" "$REAR")
  tachora+=("$s")
  report tachora "$s"
  s=$(timed ffmpeg -nostdin -y -v error -i "$FRONT" -i "$REAR" -filter_complex \
    "[1:v]scale=576:-2[r];[0:v][r]overlay=W-w-38:38" -c:v libx264 -preset veryfast -crf 23 \
    -c:a aac "$WORK/ref.mp4")
  ffmpeg_runs+=("$s")
  report ffmpeg "$s"
done
range() { printf '%s\n' "$@" | sort -n | sed -n '1p;$p' | tr '\n' ' '; }
echo "tachora seconds (min max): $(range "${tachora[@]}")"
echo "ffmpeg  seconds (min max): $(range "${ffmpeg_runs[@]}")"
ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 "$WORK/out.mp4"
