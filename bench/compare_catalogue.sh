#!/usr/bin/env bash
# Times the catalogue against outside tools on one generated card:
#   - the search thread (bench_catalogue BM_SearchCard): first pass listed,
#     and preview + grouping ended;
#   - `tachora-cli list CARD` to completion against an ffprobe loop over the
#     same recordings;
#   - `tachora-cli copy` against `cp -p` (and `cp -p` + sync, since the copy
#     engine syncs every file before it gives it its final name).
# Usage: bench/compare_catalogue.sh [BUILD_DIR] [COUNT]
# The card is generated once under $TACHORA_BENCH_DIR (default
# /tmp/tachora-bench-card-COUNT), outside the repository.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${1:-$ROOT/build/release}"
COUNT="${2:-2000}"
CARD="${TACHORA_BENCH_DIR:-/tmp/tachora-bench-card-$COUNT}"
CLI="$BUILD/cli/tachora-cli"
BENCH="$BUILD/bench/bench_catalogue"
for tool in "$CLI" "$BENCH"; do
  [ -x "$tool" ] || { echo "missing $tool: build tachora-cli and bench_catalogue first" >&2; exit 1; }
done

now() { date +%s.%N; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.1f", a / b; else print "inf" }'; }

MEDIA="$CARD/DCIM/100MEDIA"
if [ ! -f "$CARD/.complete" ]; then
  echo "== generating $COUNT recordings under $CARD"
  rm -rf "$CARD"
  mkdir -p "$MEDIA"
  clip="$CARD/clip.mov"
  ffmpeg -loglevel error -f lavfi -i testsrc=size=160x120:rate=5 -t 60 \
    -c:v libx264 -pix_fmt yuv420p -g 50 "$clip"
  # Recording i covers 60 s from 2024-05-01 08:00 + i minutes, with a .dat
  # sidecar of one GPS fix and one G-sensor sample a second.
  awk -v n="$COUNT" -v dir="$MEDIA" 'BEGIN {
    for (i = 0; i < n; i++) {
      f = sprintf("%s/FILE%04d.DAT", dir, i + 1)
      for (k = 0; k <= 60; k++) {
        t = 8 * 3600 + i * 60 + k
        d = int(t / 86400); s = t % 86400
        printf "[G]\t2024-05-%02d %02d:%02d:%02d\tN55.750000\tE%.6f\t36\t90\r\n", 1 + d, int(s / 3600), int(s % 3600 / 60), s % 60, 37.6 + (i * 60 + k) * 0.00016 > f
        printf "[S]\t12\t-40\t1010\r\n" > f
      }
      close(f)
    }
  }'
  for ((i = 1; i <= COUNT; i++)); do
    name=$(printf "FILE%04d" "$i")
    cp "$clip" "$MEDIA/$name.MOV"
  done
  # File times: each recording was last written when it ended.
  awk -v n="$COUNT" -v dir="$MEDIA" 'BEGIN {
    for (i = 0; i < n; i++) {
      t = 8 * 3600 + i * 60 + 60; d = int(t / 86400); s = t % 86400
      printf "%s/FILE%04d.MOV\t2024-05-%02d %02d:%02d:%02d\n", dir, i + 1, 1 + d, int(s / 3600), int(s % 3600 / 60), s % 60
    }
  }' | while IFS=$'\t' read -r f t; do touch -d "$t" "$f"; done
  rm -f "$clip"
  touch "$CARD/.complete"
fi
files=("$MEDIA"/*.MOV)
echo "== card: ${#files[@]} recordings, $(du -sh "$CARD" | cut -f1)"

# Warm the page cache once so every contender reads from memory.
cat "$MEDIA"/* >/dev/null

echo "== search thread (first pass, then preview and grouping)"
TACHORA_BENCH_CARD="$CARD" "$BENCH" --benchmark_filter=BM_SearchCard 2>/dev/null | grep BM_SearchCard

t0=$(now); "$CLI" list "$CARD" >/tmp/tachora-bench-list.tsv; t1=$(now)
list_s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
rows=$(($(wc -l </tmp/tachora-bench-list.tsv) - 1))
t0=$(now)
for f in "${files[@]}"; do
  ffprobe -v error -show_entries format=duration:stream=width,height -of csv=p=0 "$f" >/dev/null
done
t1=$(now)
probe_s=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
echo "tachora-cli list: ${list_s}s ($rows rows after grouping); ffprobe loop: ${probe_s}s; list is $(ratio "$probe_s" "$list_s")x faster"

OUT="$(mktemp -d /tmp/tachora-bench-copy-XXXXXX)"
trap 'rm -rf "$OUT"' EXIT
# Five rounds; in each every contender copies into a fresh folder (nothing
# is deleted between them: ext4 allocates inodes slowly right after a mass
# delete), the order alternates from round to round, and the best time of
# each counts. The copy command reports the time of its copy phase alone
# (after it built its catalogue), including its final flush to the disk, so
# "cp -p + sync" is the like-for-like contender.
best() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }
cp_s=""; cpsync_s=""; ours_s=""; whole_s=""
run_cp() {
  mkdir -p "$OUT/cp$1"; sync
  local t0 t1; t0=$(now); cp -p "$MEDIA"/* "$OUT/cp$1/"; t1=$(now)
  cp_s=$(best "$cp_s" "$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')")
}
run_cpsync() {
  mkdir -p "$OUT/cpsync$1"; sync
  local t0 t1; t0=$(now); cp -p "$MEDIA"/* "$OUT/cpsync$1/"; sync; t1=$(now)
  cpsync_s=$(best "$cpsync_s" "$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')")
}
run_ours() {
  sync
  local t0 t1; t0=$(now); "$CLI" copy --to "$OUT/ours$1" "$CARD/DCIM" 2>"$OUT/copy.err"; t1=$(now)
  whole_s=$(best "$whole_s" "$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')")
  ours_s=$(best "$ours_s" "$(sed -n 's/^copied .* in \([0-9.]*\) s$/\1/p' "$OUT/copy.err")")
  cmp -s "$MEDIA/FILE0001.MOV" "$OUT/ours$1/FILE0001.MOV" || echo "WARNING: copies differ" >&2
}
for round in 1 2 3 4 5; do
  if [ $((round % 2)) -eq 1 ]; then
    run_cp "$round"; run_cpsync "$round"; run_ours "$round"
  else
    run_ours "$round"; run_cpsync "$round"; run_cp "$round"
  fi
  rm -rf "${OUT:?}"/*; sync
done
bytes=$(du -sb "$MEDIA" | cut -f1)
mb() { awk -v b="$bytes" -v s="$1" 'BEGIN { printf "%.1f", b / 1048576 / s }'; }
echo "copy of $((bytes / 1048576)) MiB in ${#files[@]} recordings + sidecars (best of 5):"
echo "  tachora-cli copy ${ours_s}s ($(mb "$ours_s") MiB/s; ${whole_s}s with building the catalogue)"
echo "  cp -p ${cp_s}s ($(mb "$cp_s") MiB/s); cp -p + sync ${cpsync_s}s ($(mb "$cpsync_s") MiB/s)"
echo "copy throughput vs cp -p + sync: $(ratio "$cpsync_s" "$ours_s")x; vs cp -p alone: $(ratio "$cp_s" "$ours_s")x"

# The same into memory (tmpfs), where no disk and no inode-table state of a
# busy ext4 volume blur the difference: this isolates the engine's cost.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  SHM="$(mktemp -d /dev/shm/tachora-bench-copy-XXXXXX)"
  trap 'rm -rf "$OUT" "$SHM"' EXIT
  shm_cp=""; shm_ours=""
  for round in 1 2 3; do
    mkdir -p "$SHM/cp"
    t0=$(now); cp -p "$MEDIA"/* "$SHM/cp/"; t1=$(now)
    shm_cp=$(best "$shm_cp" "$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')")
    "$CLI" copy --to "$SHM/ours" "$CARD/DCIM" 2>"$OUT/copy.err"
    shm_ours=$(best "$shm_ours" "$(sed -n 's/^copied .* in \([0-9.]*\) s$/\1/p' "$OUT/copy.err")")
    rm -rf "${SHM:?}"/*
  done
  echo "into tmpfs (best of 3): tachora-cli copy ${shm_ours}s ($(mb "$shm_ours") MiB/s); cp -p ${shm_cp}s ($(mb "$shm_cp") MiB/s); ratio $(ratio "$shm_cp" "$shm_ours")x"
fi
