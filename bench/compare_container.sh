#!/usr/bin/env bash
# Times tachora-cli against ffprobe, ffmpeg and cp on one ~1 GB recording
# (H.264 1280x720 + 48 kHz stereo PCM), made once and kept in the build
# folder (never committed; CI does not run this):
#   - headers-only open (info --headers-only) vs ffprobe -show_format;
#   - cutting 10 %-90 % vs ffmpeg -ss/-to -c copy and vs cp of as many bytes.
# Usage: compare_container.sh BUILD_DIR [RUNS]
set -euo pipefail
BUILD="$(cd "$1" && pwd)"; RUNS="${2:-5}"
CLI="$BUILD/cli/tachora-cli"
WORK="$BUILD/bench-container"
BIG="$WORK/big.mov"
mkdir -p "$WORK"
[ -x "$CLI" ] || { echo "build tachora-cli first" >&2; exit 1; }

if [ ! -f "$BIG" ]; then
  echo "making $BIG (once)..." >&2
  ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=size=1280x720:rate=30:duration=20 \
    -f lavfi -i sine=sample_rate=48000:duration=20 -c:v libx264 -preset ultrafast -b:v 14M \
    -g 30 -bf 0 -c:a pcm_s16le -ac 2 -f mov "$WORK/seg.mov"
  seg=$(stat -c %s "$WORK/seg.mov")
  loops=$(( (1000000000 + seg - 1) / seg - 1 ))
  ffmpeg -nostdin -y -v error -stream_loop "$loops" -i "$WORK/seg.mov" -c copy -f mov "$BIG.tmp"
  mv "$BIG.tmp" "$BIG"
  rm -f "$WORK/seg.mov"
fi
size=$(stat -c %s "$BIG")
dur=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$BIG")
cat "$BIG" > /dev/null  # all runs start from the page cache

# mean wall time in seconds of N runs of a command: timeit N CMD...
timeit() {
  local n="$1" start end
  shift
  start=$(date +%s.%N)
  for _ in $(seq "$n"); do "$@" >/dev/null 2>&1; done
  end=$(date +%s.%N)
  echo "($end - $start) / $n" | bc -l
}

echo "file: $BIG ($size bytes, ${dur}s)"
t_info=$(timeit 50 "$CLI" info --headers-only "$BIG")
t_probe=$(timeit 50 ffprobe -v error -show_format "$BIG")
printf 'headers-only open (50 runs): tachora %.4fs  ffprobe %.4fs  ratio %.1fx\n' "$t_info" "$t_probe" \
  "$(echo "$t_probe / $t_info" | bc -l)"

from=$(echo "$dur * 0.1" | bc -l); to=$(echo "$dur * 0.9" | bc -l)
cut_t() { rm -f "$WORK/cut.mov"; "$CLI" cut --from 0.1 --to 0.9 --no-meta -o "$WORK/cut.mov" "$BIG"; }
cut_f() { ffmpeg -nostdin -y -v error -ss "$from" -to "$to" -i "$BIG" -c copy -f mov "$WORK/ff.mov"; }
t_cut=$(timeit "$RUNS" cut_t)
t_ff=$(timeit "$RUNS" cut_f)
bytes=$(stat -c %s "$WORK/cut.mov")
head -c "$bytes" "$BIG" > "$WORK/same-bytes.bin"
cp_t() { rm -f "$WORK/cp.bin"; cp "$WORK/same-bytes.bin" "$WORK/cp.bin"; }
t_cp=$(timeit "$RUNS" cp_t)
printf 'cut 10%%-90%% (%s bytes): tachora %.3fs  ffmpeg -c copy %.3fs  cp %.3fs\n' "$bytes" \
  "$t_cut" "$t_ff" "$t_cp"
printf '  tachora vs ffmpeg: %.2fx faster; tachora speed / cp speed: %.2f\n' \
  "$(echo "$t_ff / $t_cut" | bc -l)" "$(echo "$t_cp / $t_cut" | bc -l)"
ffmpeg -nostdin -v error -i "$WORK/cut.mov" -c copy -f null - && echo "cut file demuxes cleanly"
rm -f "$WORK/cut.mov" "$WORK/ff.mov" "$WORK/cp.bin" "$WORK/same-bytes.bin"
