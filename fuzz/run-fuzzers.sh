#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a few seconds each, seeded from
# fuzz/corpus/<target>/ plus the test data, with a bounded memory limit.
# A target's extra libFuzzer flags (one per line, "#" comments) come from
# fuzz/<target>.options and override the common ones. A new target needs
# nothing here: every fuzz_* of the build runs.
# Usage: run-fuzzers.sh BUILD_DIR SECONDS
set -euo pipefail
BUILD="$1"; SECONDS_EACH="$2"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
status=0
shopt -s nullglob
for bin in "$BUILD"/fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  name="$(basename "$bin")"
  work="$BUILD/fuzz-corpus/$name"
  mkdir -p "$work"
  seeds=()
  [ -d "$ROOT/fuzz/corpus/$name" ] && seeds+=("$ROOT/fuzz/corpus/$name")
  [ -d "$BUILD/fuzz-seeds/$name" ] && seeds+=("$BUILD/fuzz-seeds/$name")
  options=()
  if [ -f "$ROOT/fuzz/$name.options" ]; then
    mapfile -t options < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$ROOT/fuzz/$name.options")
  fi
  echo "-- $name (${SECONDS_EACH}s)"
  if ! "$bin" "$work" "${seeds[@]}" -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 \
        -max_len=65536 -timeout=10 -artifact_prefix="$BUILD/fuzz-crash-$name-" \
        -print_final_stats=1 "${options[@]}" >"$BUILD/$name.log" 2>&1; then
    echo "FAILED: $name (see $BUILD/$name.log)"; tail -40 "$BUILD/$name.log"; status=1
  else
    grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$BUILD/$name.log" | sed 's/^/   /'
  fi
done
exit $status
