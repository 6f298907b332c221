#!/usr/bin/env bash
# Times tachora-cli against ffprobe, ffmpeg and cp on one ~300 MB recording
# (H.264 1920x1080 + 48 kHz stereo PCM), made once and kept in the build
# folder (never committed; CI does not run this):
#   - headers-only open (info --headers-only) vs ffprobe -show_format;
#   - cutting 10 %-90 % vs ffmpeg -ss/-to -c copy and vs cp of as many bytes.
# Equal work for every contender: each run writes a fresh output file (the
# previous one is removed, and the disk synced, before the clock starts),
# the inputs are in the page cache, and the contenders take turns; the
# figures are medians of RUNS runs (at least 5).
# Usage: compare_container.sh BUILD_DIR [RUNS]
set -euo pipefail
BUILD="$(cd "$1" && pwd)"
RUNS="${2:-5}"
[ "$RUNS" -ge 5 ] || RUNS=5
CLI="$BUILD/cli/tachora-cli"
WORK="$BUILD/bench-container"
BIG="$WORK/big-1080p.mov"
mkdir -p "$WORK"
[ -x "$CLI" ] || { echo "build tachora-cli first" >&2; exit 1; }

if [ ! -f "$BIG" ]; then
  echo "making $BIG (once)..." >&2
  ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=10 \
    -f lavfi -i sine=sample_rate=48000:duration=10 -c:v libx264 -preset ultrafast -b:v 24M \
    -g 30 -bf 0 -c:a pcm_s16le -ac 2 -f mov "$WORK/seg.mov"
  seg=$(stat -c %s "$WORK/seg.mov")
  loops=$(( (300000000 + seg - 1) / seg - 1 ))
  ffmpeg -nostdin -y -v error -stream_loop "$loops" -i "$WORK/seg.mov" -c copy -f mov "$BIG.tmp"
  mv "$BIG.tmp" "$BIG"
  rm -f "$WORK/seg.mov"
fi
size=$(stat -c %s "$BIG")
dur=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$BIG")

# Seconds (wall clock) of one run of a command, after removing OUT:
# once OUT CMD...
once() {
  local out="$1" start end
  shift
  rm -f "$out"
  sync
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  echo "($end - $start) / 1000000000" | bc -l
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "file: $BIG ($size bytes, ${dur}s)"
cat "$BIG" >/dev/null
t_info=() t_probe=()
for _ in $(seq "$RUNS"); do
  s=$(date +%s%N); for _ in $(seq 20); do "$CLI" info --headers-only "$BIG" >/dev/null; done
  e=$(date +%s%N); t_info+=("$(echo "($e - $s) / 20000000000" | bc -l)")
  s=$(date +%s%N); for _ in $(seq 20); do ffprobe -v error -show_format "$BIG" >/dev/null; done
  e=$(date +%s%N); t_probe+=("$(echo "($e - $s) / 20000000000" | bc -l)")
done
m_info=$(printf '%s\n' "${t_info[@]}" | median)
m_probe=$(printf '%s\n' "${t_probe[@]}" | median)
printf 'headers-only open (median of %d x 20 runs): tachora %.4fs  ffprobe %.4fs  ratio %.1fx\n' \
  "$RUNS" "$m_info" "$m_probe" "$(echo "$m_probe / $m_info" | bc -l)"

from=$(echo "$dur * 0.1" | bc -l)
to=$(echo "$dur * 0.9" | bc -l)
CUT="$WORK/cut.mov" FF="$WORK/ff.mov" CP="$WORK/cp.bin" SAME="$WORK/same-bytes.bin"
cut_t() { "$CLI" cut --from 0.1 --to 0.9 --no-meta -o "$CUT" "$BIG"; }
cut_f() { ffmpeg -nostdin -y -v error -ss "$from" -to "$to" -i "$BIG" -c copy -f mov "$FF"; }
cp_t() { cp "$SAME" "$CP"; }
# cp copies a file of as many bytes as the cut writes.
cut_t >/dev/null 2>&1
bytes=$(stat -c %s "$CUT")
head -c "$bytes" "$BIG" >"$SAME"
# Both inputs dropped from the page cache and read back in the same way.
sync
for f in "$BIG" "$SAME"; do dd if="$f" iflag=nocache count=0 status=none; done
cat "$BIG" "$SAME" >/dev/null
t_cut=() t_ff=() t_cp=()
for _ in $(seq "$RUNS"); do
  t_cut+=("$(once "$CUT" cut_t)")
  t_cp+=("$(once "$CP" cp_t)")
  t_ff+=("$(once "$FF" cut_f)")
done
m_cut=$(printf '%s\n' "${t_cut[@]}" | median)
m_cp=$(printf '%s\n' "${t_cp[@]}" | median)
m_ff=$(printf '%s\n' "${t_ff[@]}" | median)
mbs() { echo "$bytes / $1 / 1000000" | bc -l; }
printf 'cut 10%%-90%% (%s bytes, medians of %d alternating runs):\n' "$bytes" "$RUNS"
printf '  tachora cut     %.3fs  %7.0f MB/s\n' "$m_cut" "$(mbs "$m_cut")"
printf '  cp (same bytes) %.3fs  %7.0f MB/s\n' "$m_cp" "$(mbs "$m_cp")"
printf '  ffmpeg -c copy  %.3fs\n' "$m_ff"
printf '  tachora speed / cp speed: %.2f; tachora vs ffmpeg: %.2fx faster\n' \
  "$(echo "$m_cp / $m_cut" | bc -l)" "$(echo "$m_ff / $m_cut" | bc -l)"
# The kernel's copy calls (on ext4 the cut splices through a pipe of 1 MiB,
# two splice calls a MiB; cp makes one copy_file_range call).
kcalls() { strace -f -c -e trace=copy_file_range,splice "$@" 2>&1 >/dev/null |
  awk '/copy_file_range|splice/ { s = s $5 " " $4 " " } END { print s }' || true; }
calls_t=$(kcalls "$CLI" cut --from 0.1 --to 0.9 --no-meta -o "$WORK/strace.mov" "$BIG")
calls_cp=$(rm -f "$CP"; kcalls cp "$SAME" "$CP")
[ -n "$calls_t" ] && echo "  kernel copy calls: tachora ${calls_t}, cp ${calls_cp:-?}"
ffmpeg -nostdin -v error -i "$CUT" -c copy -f null - && echo "cut file demuxes cleanly"
rm -f "$CUT" "$FF" "$CP" "$SAME" "$WORK/strace.mov"
