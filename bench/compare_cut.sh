#!/usr/bin/env bash
# Cutting 10 %-90 % (80 %) of a 377 MB recording (H.264 1920x1080 + 48 kHz
# stereo PCM, made once and kept in the build folder; never committed, CI
# does not run this) against `cp` of as many bytes, on each file system at
# hand:
#   - the build folder's own (ext4 here: `df -T` names it);
#   - when run as root with loop devices: XFS with reflink and Btrfs, which
#     share blocks between files, and tmpfs, each in a loop image or mount
#     made for the run and removed after it ("skipped: cannot mount" when
#     that is refused, e.g. in a container).
# Each contender runs RUNS times (at least 7), taking turns, each into a
# fresh output (removed, and the disk synced, before the clock starts), with
# the inputs in the page cache, both read in the same way; the figures are
# medians of whole-process wall times. Also printed: the cut's own time inside one process (the
# benchmark BM_Cut10to90 on the same file: no process start, no library
# loading), and the new blocks one cut allocates: `df` before and after,
# synced (XFS frees the removed outputs' blocks in the background, so there
# it can even fall), and the output's blocks that `filefrag` does not mark
# "shared" (its own, not the recording's).
# Usage: compare_cut.sh BUILD_DIR [RUNS [FS...]]  (FS: here xfs btrfs tmpfs; all by default)
set -euo pipefail
BUILD="$(cd "$1" && pwd)"
RUNS="${2:-7}"
shift $(($# < 2 ? $# : 2))
KINDS=("$@")
[ $# -gt 0 ] || KINDS=(here xfs btrfs tmpfs)
[ "$RUNS" -ge 7 ] || RUNS=7
CLI="$BUILD/cli/tachora-cli"
BENCH="$BUILD/bench/bench_container"
WORK="$BUILD/bench-cut"
BIG="$WORK/big-377MB.mov"
MNT="$WORK/mnt"
mkdir -p "$WORK" "$MNT"
[ -x "$CLI" ] || { echo "build tachora-cli first" >&2; exit 1; }

if [ ! -f "$BIG" ]; then
  echo "making $BIG (once)..." >&2
  ffmpeg -nostdin -y -v error -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=10 \
    -f lavfi -i sine=sample_rate=48000:duration=10 -c:v libx264 -preset ultrafast -b:v 24M \
    -g 30 -bf 0 -c:a pcm_s16le -ac 2 -f mov "$WORK/seg.mov"
  seconds=$(echo "10 * 377000000 / $(stat -c %s "$WORK/seg.mov")" | bc -l)
  ffmpeg -nostdin -y -v error -stream_loop 15 -i "$WORK/seg.mov" -t "$seconds" -c copy \
    -f mov "$BIG.tmp"
  mv "$BIG.tmp" "$BIG"
  rm -f "$WORK/seg.mov"
fi

cleanup() {
  mountpoint -q "$MNT" && umount "$MNT"
  rm -f "$WORK/fs.img"
}
trap cleanup EXIT

# Seconds of one run of a command, after removing OUT: wall clock and
# CPU (user + system; less sensitive to other work on a shared machine).
# once OUT CMD...
once() {
  local out="$1" TIMEFORMAT='%3R %3U %3S'
  shift
  rm -f "$out"
  sync
  { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%s %.3f\n", $1, $2 + $3 }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "-" }'; }
used() { sync; df -B1 --output=used "$1" | tail -1; }
# The FILEs dropped from the page cache and read back in, so that every
# contender's input is cached as a first read leaves it (the recording as
# ffmpeg wrote it and cp's input as head wrote it would otherwise lie in
# pages of different sizes, which changes what a copy from them costs).
cached() {
  sync
  local f
  for f in "$@"; do dd if="$f" iflag=nocache count=0 status=none; done
  cat "$@" >/dev/null
}
# Bytes in extents of FILE that the file system does not share with another file.
own() {
  filefrag -v "$1" 2>/dev/null | awk '/blocks of [0-9]+ bytes/ { for (i = 1; i <= NF; ++i)
    if ($i == "of" && $(i + 2) == "bytes)") b = $(i + 1) }
    /^ *[0-9]+:/ && $0 !~ /shared/ { l = $0; gsub(/ /, "", l); split(l, f, ":"); n += f[4] }
    END { print n * b }'
}

# compare DIR: the cut and cp with their inputs and outputs in DIR.
compare() {
  local dir="$1" src="$1/${BIG##*/}" cut="$1/cut.mov" same="$1/same-bytes.bin" copy="$1/cp.bin"
  local fs bytes t_cut=() t_cp=() m_cut m_cp mc_cut mc_cp before after own_bytes inproc demuxes=0
  fs=$(df -T "$dir" | awk 'NR == 2 { print $2 }')
  [ "$src" = "$BIG" ] || [ -f "$src" ] || cp "$BIG" "$src"
  cut_t() { "$CLI" cut --from 0.1 --to 0.9 --no-meta -o "$cut" "$src"; }
  cp_t() { cp "$same" "$copy"; }
  rm -f "$cut" "$copy"
  cut_t >/dev/null 2>&1
  bytes=$(stat -c %s "$cut")
  head -c "$bytes" "$src" >"$same"
  cached "$src" "$same"
  local r c_cut=() c_cp=()
  for _ in $(seq "$RUNS"); do
    r=$(once "$cut" cut_t) && t_cut+=("${r% *}") && c_cut+=("${r#* }")
    r=$(once "$copy" cp_t) && t_cp+=("${r% *}") && c_cp+=("${r#* }")
  done
  m_cut=$(printf '%s\n' "${t_cut[@]}" | median)
  m_cp=$(printf '%s\n' "${t_cp[@]}" | median)
  mc_cut=$(printf '%s\n' "${c_cut[@]}" | median)
  mc_cp=$(printf '%s\n' "${c_cp[@]}" | median)
  rm -f "$cut" "$copy" "$same"
  before=$(used "$dir")
  cut_t >/dev/null 2>&1
  after=$(used "$dir")
  own_bytes=$(own "$cut") || own_bytes=""  # tmpfs has no extents to ask about
  ffmpeg -nostdin -v error -i "$cut" -c copy -f null - && demuxes=1
  rm -f "$cut"
  inproc="-"
  if [ -x "$BENCH" ]; then
    inproc=$(TACHORA_BENCH_CUT_SOURCE="$src" "$BENCH" --benchmark_filter=BM_Cut10to90 \
      --benchmark_repetitions="$RUNS" --benchmark_report_aggregates_only=true 2>/dev/null |
      awk '/_median/ { print $2 " " $3 }')
  fi
  printf '%s (%s): cut 10%%-90%% of %s bytes -> %s bytes, medians of %d alternating runs\n' \
    "$dir" "$fs" "$(stat -c %s "$src")" "$bytes" "$RUNS"
  printf '  tachora cut     %.4fs wall, %.4fs CPU  (wall: %s)\n' "$m_cut" "$mc_cut" \
    "$(printf '%.3f ' "${t_cut[@]}")"
  printf '  cp (same bytes) %.4fs wall, %.4fs CPU  (wall: %s)\n' "$m_cp" "$mc_cp" \
    "$(printf '%.3f ' "${t_cp[@]}")"
  printf '  tachora speed / cp speed: %s (wall), %s (CPU)\n' "$(ratio "$m_cp" "$m_cut")" \
    "$(ratio "$mc_cp" "$mc_cut")"
  printf '  the cut inside one process (median): %s\n' "$inproc"
  printf '  new blocks of one cut: %.1f MB (%.2f %% of the output)\n' \
    "$(echo "($after - $before) / 1000000" | bc -l)" \
    "$(echo "($after - $before) * 100 / $bytes" | bc -l)"
  if [ -n "$own_bytes" ]; then
    printf '  its blocks not shared (filefrag): %.1f MB (%.2f %% of the output)\n' \
      "$(echo "$own_bytes / 1000000" | bc -l)" "$(echo "$own_bytes * 100 / $bytes" | bc -l)"
  fi
  [ "$demuxes" = 1 ] && echo "  the cut demuxes cleanly (ffmpeg -c copy -f null)"
  rm -f "$dir/tachora-bench-cut-"*.mov
  [ "$src" = "$BIG" ] || rm -f "$src"
}

# on KIND: a fresh file system of that kind at $MNT, compared, removed.
on() {
  local kind="$1" ok=1
  if [ "$(id -u)" -ne 0 ]; then
    ok=0
  elif [ "$kind" = tmpfs ]; then
    mount -t tmpfs -o size=1600M tmpfs "$MNT" 2>/dev/null || ok=0
  else
    rm -f "$WORK/fs.img"
    truncate -s 1536M "$WORK/fs.img"
    case "$kind" in
      xfs) mkfs.xfs -q -f -m reflink=1 "$WORK/fs.img" >/dev/null 2>&1 || ok=0 ;;
      btrfs) mkfs.btrfs -q -f "$WORK/fs.img" >/dev/null 2>&1 || ok=0 ;;
    esac
    [ "$ok" = 1 ] && { mount -o loop "$WORK/fs.img" "$MNT" 2>/dev/null || ok=0; }
  fi
  if [ "$ok" = 1 ]; then
    compare "$MNT"
  else
    echo "$kind: skipped: cannot mount"
  fi
  cleanup
}

for kind in "${KINDS[@]}"; do
  if [ "$kind" = here ]; then compare "$WORK"; else on "$kind"; fi
done
