#!/usr/bin/env bash
# Times the catalogue against outside tools on generated cards:
#   - the search thread (bench_catalogue BM_SearchCard): first pass listed,
#     and preview + grouping ended;
#   - `tachora-cli list CARD` to completion against an ffprobe loop over the
#     same recordings;
#   - `tachora-cli copy` against `cp -p` and `cp -p` + sync (the copy engine
#     flushes its files to the disk before it reports a job finished, so
#     cp + sync is the like-for-like contender), on COUNT small recordings
#     with their .dat files and on three large recordings of 200 MiB, on the
#     disk and in tmpfs;
#   - `tachora-cli copy --verify` (each copy read back from the disk and
#     compared by SHA-256, SHA256SUMS written) against the same check done
#     by hand, one step after the other: `cp -p`, `sync`, `sha256sum` of the
#     sources, then `sha256sum` of the copies once the page cache has let
#     them go (so they too are read back from the disk).
# Usage: bench/compare_catalogue.sh [BUILD_DIR] [COUNT]
#   - BM_ListCard: listing 2,000 and 10,000 recordings, to show the growth.
# Environment: TACHORA_BENCH_ONLY=PART[,PART...] runs only those parts
# (search, scale, list, copy, verify; the ffprobe loop of "list" alone takes
# minutes); TACHORA_BENCH_LIST_ROUNDS (default 5) and TACHORA_BENCH_ROUNDS
# (default 7) set the rounds of the list and copy timings.
# The cards are generated once under $TACHORA_BENCH_DIR (default
# /tmp/tachora-bench-card-COUNT) and /tmp/tachora-bench-large, outside the
# repository; copies go to a temporary folder beside them.
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
# TACHORA_BENCH_ONLY: a comma-separated list of parts to run (search, scale,
# list, copy, verify); empty runs them all.
want() { [ -z "${TACHORA_BENCH_ONLY:-}" ] || [[ ",$TACHORA_BENCH_ONLY," == *",$1,"* ]]; }
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

LARGE="${TACHORA_BENCH_LARGE_DIR:-/tmp/tachora-bench-large}"
LARGE_MEDIA="$LARGE/DCIM/100MEDIA"
if { want copy || want verify; } && [ ! -f "$LARGE/.complete" ]; then
  echo "== generating three 200 MiB recordings under $LARGE"
  rm -rf "$LARGE"
  mkdir -p "$LARGE_MEDIA"
  # The copy never looks inside: incompressible bytes under a recording's
  # name are as good as a movie and take a second to make. Their .dat files
  # (three minutes each, one after the other) make them one trip, copied as
  # one job the way a card's recordings are.
  for i in 1 2 3; do head -c 200M /dev/urandom >"$LARGE_MEDIA/FILE000$i.MOV"; done
  awk -v dir="$LARGE_MEDIA" 'BEGIN {
    for (i = 0; i < 3; i++) {
      f = sprintf("%s/FILE%04d.DAT", dir, i + 1)
      for (k = 0; k <= 180; k++) {
        t = 8 * 3600 + i * 180 + k
        printf "[G]\t2024-05-01 %02d:%02d:%02d\tN55.750000\tE%.6f\t36\t90\r\n", int(t / 3600), int(t % 3600 / 60), t % 60, 37.6 + (i * 180 + k) * 0.00016 > f
        printf "[S]\t12\t-40\t1010\r\n" > f
      }
      close(f)
    }
  }'
  touch "$LARGE/.complete"
fi

# Warm the page cache once so every contender reads from memory.
cat "$MEDIA"/* >/dev/null
if want copy || want verify; then cat "$LARGE_MEDIA"/* >/dev/null; fi

# Both figures of a comparison are medians of alternating rounds: each
# round runs every contender once, the order rotating from round to round,
# and each writes a fresh output file in a fresh folder.
LIST_ROUNDS="${TACHORA_BENCH_LIST_ROUNDS:-5}"
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print ""; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", b - a }'; }

if want search; then
  echo "== search thread (first pass, then preview and grouping)"
  TACHORA_BENCH_CARD="$CARD" "$BENCH" --benchmark_filter=BM_SearchCard 2>/dev/null | grep BM_SearchCard
fi

if want scale; then
  echo "== listing 2,000 and 10,000 recordings (scan, preview, grouping; goal: at most 6x)"
  "$BENCH" --benchmark_filter=BM_ListCard --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true 2>/dev/null | grep -E "BM_ListCard.*median" | tee /tmp/tachora-bench-scale.txt
  awk '/\/2000\// { a = $2 } /\/10000\// { b = $2 } END { if (a > 0) printf "10,000 take %.1fx the time of 2,000\n", b / a }' /tmp/tachora-bench-scale.txt
fi

if want list; then
  echo "== tachora-cli list against an ffprobe loop, median of $LIST_ROUNDS alternating rounds"
  LIST_OUT="$(mktemp -d /tmp/tachora-bench-list-XXXXXX)"
  times_list=()
  times_probe=()
  rows=0
  for ((round = 0; round < LIST_ROUNDS; round++)); do
    out="$LIST_OUT/round-$round"
    mkdir "$out"
    for ((k = 0; k < 2; k++)); do
      if (((round + k) % 2 == 0)); then
        t0=$(now); "$CLI" list "$CARD" >"$out/list.tsv"; t1=$(now)
        times_list+=("$(elapsed "$t0" "$t1")")
        rows=$(($(wc -l <"$out/list.tsv") - 1))
      else
        t0=$(now)
        for f in "${files[@]}"; do
          ffprobe -v error -show_entries format=duration:stream=width,height -of csv=p=0 "$f"
        done >"$out/probe.csv"
        t1=$(now)
        times_probe+=("$(elapsed "$t0" "$t1")")
      fi
    done
  done
  rm -rf "${LIST_OUT:?}"
  list_s=$(printf '%s\n' "${times_list[@]}" | median)
  probe_s=$(printf '%s\n' "${times_probe[@]}" | median)
  echo "tachora-cli list: ${list_s}s ($rows rows after grouping); ffprobe loop: ${probe_s}s; list is $(ratio "$probe_s" "$list_s")x faster"
  echo "  rounds (s): list ${times_list[*]} | ffprobe ${times_probe[*]}"
fi

# Copy timings. In every round each contender copies into a fresh folder;
# the order rotates from round to round (so none is always first after the
# previous round's folders were deleted, or always last when the disk is
# busiest), everything is flushed before each contender starts (so no one
# pays for another's dirty pages), and the median of the rounds counts.
# On the disk nothing is deleted until a set's rounds are over: a mass
# delete on this discard-mounted ext4 leaves file creation several times
# slower for a while (cp took 0.16 s in a first round, 1.0 s after one).
# In tmpfs, where deleting costs nothing, each round's copies go at once.
# The copy command reports the time of its copy phase alone (after it has
# built its catalogue), including its flush to the disk; its whole run is
# reported beside it.
ROUNDS="${TACHORA_BENCH_ROUNDS:-7}"
mibs() { awk -v b="$1" -v s="$2" 'BEGIN { if (s > 0) printf "%.0f", b / 1048576 / s; else print "inf" }'; }
ratio2() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "inf" }'; }

# compare_copy LABEL MEDIA_DIR OUT_BASE keep|delete: prints the medians of
# the contenders.
compare_copy() {
  local label="$1" media="$2" base="$3" keep="$4" out round k t0 t1 c
  local -a times_ours=() times_whole=() times_cp=() times_cpsync=()
  local contenders=(ours cp cpsync)
  for ((round = 0; round < ROUNDS; round++)); do
    out="$(mktemp -d "$base/round-XXXXXX")"
    for ((k = 0; k < 3; k++)); do
      c=${contenders[$(((round + k) % 3))]}
      sync
      case "$c" in
        ours)
          t0=$(now)
          "$CLI" copy --to "$out/ours" "$media" 2>"$out/copy.err" || { cat "$out/copy.err" >&2; exit 1; }
          t1=$(now)
          times_whole+=("$(elapsed "$t0" "$t1")")
          times_ours+=("$(sed -n 's/^copied .* in \([0-9.]*\) s$/\1/p' "$out/copy.err")")
          ;;
        cp)
          mkdir "$out/cp"
          t0=$(now); cp -p "$media"/* "$out/cp/"; t1=$(now)
          times_cp+=("$(elapsed "$t0" "$t1")")
          ;;
        cpsync)
          mkdir "$out/cpsync"
          t0=$(now); cp -p "$media"/* "$out/cpsync/"; sync; t1=$(now)
          times_cpsync+=("$(elapsed "$t0" "$t1")")
          ;;
      esac
    done
    for f in "$media"/*; do
      cmp -s "$f" "$out/ours/${f##*/}" || { echo "WARNING: copy of $f differs" >&2; break; }
    done
    if [ "$keep" = delete ]; then rm -rf "${out:?}"; fi
  done
  rm -rf "${base:?}"/round-*
  sync
  local bytes ours whole cp cpsync
  bytes=$(du -sb "$media" | cut -f1)
  ours=$(printf '%s\n' "${times_ours[@]}" | median)
  whole=$(printf '%s\n' "${times_whole[@]}" | median)
  cp=$(printf '%s\n' "${times_cp[@]}" | median)
  cpsync=$(printf '%s\n' "${times_cpsync[@]}" | median)
  echo "$label, $((bytes / 1048576)) MiB, median of $ROUNDS rounds:"
  echo "  tachora-cli copy ${ours}s ($(mibs "$bytes" "$ours") MiB/s; whole run with the catalogue ${whole}s)"
  echo "  cp -p ${cp}s ($(mibs "$bytes" "$cp") MiB/s); cp -p + sync ${cpsync}s ($(mibs "$bytes" "$cpsync") MiB/s)"
  echo "  throughput vs cp -p + sync: $(ratio2 "$cpsync" "$ours")x; vs cp -p alone: $(ratio2 "$cp" "$ours")x"
  echo "  rounds (s): ours ${times_ours[*]} | cp ${times_cp[*]} | cp+sync ${times_cpsync[*]}"
}

if want copy; then
  OUT="$(mktemp -d /tmp/tachora-bench-copy-XXXXXX)"
  trap 'rm -rf "$OUT"' EXIT
  echo "== copy onto the disk"
  compare_copy "${#files[@]} recordings + .dat files" "$MEDIA" "$OUT" keep
  compare_copy "3 large recordings + .dat files" "$LARGE_MEDIA" "$OUT" keep

  # The same into memory (tmpfs), where no disk and no inode-table state of a
  # busy ext4 volume blur the difference: this isolates the engine's cost
  # (sync has nothing to write there).
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    SHM="$(mktemp -d /dev/shm/tachora-bench-copy-XXXXXX)"
    trap 'rm -rf "$OUT" "$SHM"' EXIT
    echo "== copy into tmpfs"
    compare_copy "${#files[@]} recordings + .dat files" "$MEDIA" "$SHM" delete
    compare_copy "3 large recordings + .dat files" "$LARGE_MEDIA" "$SHM" delete
  fi
fi

# Verified copies: the engine hashes each source as it reads it and each
# copy as it reads it back after a flush; the contender does the same work
# as separate commands. Pages of the copies are dropped (they are clean after
# the sync) so that sha256sum reads them from the disk as the engine does.
drop_cache() { python3 -c 'import os, sys
for f in sys.argv[1:]:
    fd = os.open(f, os.O_RDONLY); os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED); os.close(fd)' "$@"; }
VERIFY_ROUNDS="${TACHORA_BENCH_VERIFY_ROUNDS:-3}"
compare_verify() {
  local label="$1" media="$2" base="$3" out round k t0 t1 c
  local -a times_ours=() times_chain=()
  local contenders=(ours chain)
  for ((round = 0; round < VERIFY_ROUNDS; round++)); do
    out="$(mktemp -d "$base/verify-XXXXXX")"
    for ((k = 0; k < 2; k++)); do
      c=${contenders[$(((round + k) % 2))]}
      sync
      case "$c" in
        ours)
          t0=$(now)
          "$CLI" copy --verify --to "$out/ours" "$media" 2>"$out/copy.err" || { cat "$out/copy.err" >&2; exit 1; }
          t1=$(now)
          times_ours+=("$(elapsed "$t0" "$t1")")
          (cd "$out/ours" && sha256sum --quiet -c SHA256SUMS) || { echo "WARNING: SHA256SUMS fails" >&2; }
          ;;
        chain)
          mkdir "$out/chain"
          t0=$(now)
          cp -p "$media"/* "$out/chain/"
          sync
          sha256sum "$media"/* >"$out/sources.sha"
          drop_cache "$out/chain"/*
          sha256sum "$out/chain"/* >"$out/copies.sha"
          t1=$(now)
          times_chain+=("$(elapsed "$t0" "$t1")")
          ;;
      esac
    done
  done
  rm -rf "${base:?}"/verify-*
  sync
  local bytes ours chain
  bytes=$(du -sb "$media" | cut -f1)
  ours=$(printf '%s\n' "${times_ours[@]}" | median)
  chain=$(printf '%s\n' "${times_chain[@]}" | median)
  echo "$label, $((bytes / 1048576)) MiB, median of $VERIFY_ROUNDS rounds:"
  echo "  tachora-cli copy --verify ${ours}s ($(mibs "$bytes" "$ours") MiB/s, whole run)"
  echo "  cp -p; sync; sha256sum sources; sha256sum copies from the disk ${chain}s ($(mibs "$bytes" "$chain") MiB/s)"
  echo "  ours takes $(ratio2 "$ours" "$chain")x the time of the chain"
  echo "  rounds (s): ours ${times_ours[*]} | chain ${times_chain[*]}"
}

if want verify; then
  VOUT="$(mktemp -d /tmp/tachora-bench-verify-XXXXXX)"
  trap 'rm -rf "$VOUT"' EXIT
  echo "== verified copy onto the disk"
  compare_verify "3 large recordings + .dat files" "$LARGE_MEDIA" "$VOUT"
  compare_verify "${#files[@]} recordings + .dat files" "$MEDIA" "$VOUT"
fi
