#!/usr/bin/env bash
# Times tachora-cli against GPSBabel on the same 24-hour track (1 Hz):
#  1. a recorder's NMEA-style log to GPX (GPSBabel reads the same fixes as
#     NMEA sentences: -i nmea -o gpx);
#  2. a GPX file to an OziExplorer PLT (-i gpx -o ozi); the GPX is the one
#     GPSBabel writes in step 1, so neither side reads its own output;
#  3. a receiver's NMEA log, an RMC and a GGA a second (172,800 sentences
#     for 24 hours, written by GPSBabel), to GPX (-i nmea -o gpx), with the
#     peak memory of tachora-cli beside the bound of a telemetry load (4
#     times the file plus 35 MB).
# Equal work on both sides: every run writes a fresh output file (the
# previous one is removed before the clock starts), the inputs are read once
# beforehand so that both find them in the page cache, and the runs
# alternate between the contenders. Medians of RUNS runs (at least 5) of the
# wall-clock time and of the processor time (user + system) are printed for
# both, with their ratios.
# Usage: compare_gpsbabel.sh BUILD_DIR [SECONDS_OF_TRACK] [RUNS]
set -euo pipefail
BUILD="${1:?usage: compare_gpsbabel.sh BUILD_DIR [SECONDS] [RUNS]}"
N="${2:-86400}"
RUNS="${3:-7}"
[ "$RUNS" -ge 5 ] || RUNS=5
CLI="$BUILD/cli/tachora-cli"
[ -x "$CLI" ] || { echo "no tachora-cli in $BUILD/cli" >&2; exit 2; }
command -v gpsbabel >/dev/null || { echo "gpsbabel is not installed" >&2; exit 2; }
WORK="$(mktemp -d "${TMPDIR:-/tmp}/tachora-gpsbabel-XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

# The track twice: as NMEA sentences for GPSBabel and as the NMEA-style DVR
# log that Tachora's reader takes (same fixes). Plain awk (mawk has no
# xor()): the NMEA checksum with a bitwise loop.
awk -v n="$N" 'function bxor(a, b,  r, bit) { r = 0; bit = 1; while (a > 0 || b > 0) { if ((a % 2) != (b % 2)) r += bit; a = int(a / 2); b = int(b / 2); bit *= 2 } return r }
function cs(s,  i, c) { c = 0; for (i = 1; i <= length(s); i++) c = bxor(c, ord[substr(s, i, 1)]); return sprintf("%02X", c) }
BEGIN {
  for (i = 0; i < 256; i++) ord[sprintf("%c", i)] = i
  for (i = 0; i < n; i++) {
    t = sprintf("%02d%02d%02d", int(i / 3600) % 24, int(i / 60) % 60, i % 60)
    lat = sprintf("%.4f", 5545.0 + (i % 3000) * 0.01); lon = sprintf("%09.4f", 3736.0 + (i % 5000) * 0.01)
    kn = sprintf("%.1f", 10 + i % 15)
    s = "GPRMC," t ",A," lat ",N," lon ",E," kn ",45.0,010510,,"
    printf "$%s*%s\r\n", s, cs(s) > "/dev/stdout"
    printf "%d,010510,%s,%s,N,%s,E,%s\r\n", i, t, lat, lon, kn > "/dev/stderr"
  }
}' >"$WORK/track.nmea" 2>"$WORK/track.log"
gpsbabel -i nmea -f "$WORK/track.nmea" -o gpx -F "$WORK/day.gpx"
# The receiver's log: GPSBabel writes status A and quality 1 only for points
# whose fix it knows (from the GPX's <fix>); else V and 0, which it does not
# read back itself.
sed 's|</trkpt>|<fix>3d</fix></trkpt>|' "$WORK/day.gpx" >"$WORK/dayfix.gpx"
gpsbabel -i gpx -f "$WORK/dayfix.gpx" -o nmea,gpvtg=0,gpgsa=0 -F "$WORK/receiver.nmea"

# "WALL CPU" in seconds for one run of a command whose output file is $1.
measure() {
  local out="$1"
  shift
  rm -f "$out"
  local TIMEFORMAT='%3R %3U %3S'
  { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%s %.3f\n", $1, $2 + $3 }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# compare TITLE OURS_OUT THEIRS_OUT -- OURS... -- THEIRS...
compare() {
  local title="$1" oursOut="$2" theirsOut="$3"
  shift 3
  local ours=() theirs=()
  [ "$1" = "--" ] && shift
  while [ "$1" != "--" ]; do ours+=("$1"); shift; done
  shift
  theirs=("$@")
  : >"$WORK/ours.t"
  : >"$WORK/theirs.t"
  for ((r = 0; r < RUNS; ++r)); do
    measure "$oursOut" "${ours[@]}" >>"$WORK/ours.t"
    measure "$theirsOut" "${theirs[@]}" >>"$WORK/theirs.t"
  done
  local ow oc tw tc
  ow=$(cut -d' ' -f1 "$WORK/ours.t" | median)
  oc=$(cut -d' ' -f2 "$WORK/ours.t" | median)
  tw=$(cut -d' ' -f1 "$WORK/theirs.t" | median)
  tc=$(cut -d' ' -f2 "$WORK/theirs.t" | median)
  printf '%s (medians of %d alternating runs)\n' "$title" "$RUNS"
  printf '  tachora-cli: %.3f s wall, %.3f s cpu\n' "$ow" "$oc"
  printf '  gpsbabel:    %.3f s wall, %.3f s cpu\n' "$tw" "$tc"
  printf '  ratio (gpsbabel / tachora): %.1fx wall, %.1fx cpu\n' \
    "$(echo "$tw / $ow" | bc -l)" "$(echo "$tc / $oc" | bc -l)"
}

# into the page cache
cat "$WORK/track.log" "$WORK/track.nmea" "$WORK/day.gpx" "$WORK/receiver.nmea" >/dev/null

compare "NMEA-style log -> GPX" "$WORK/track.gpx" "$WORK/babel.gpx" \
  -- "$CLI" convert --to gpx "$WORK/track.log" \
  -- gpsbabel -i nmea -f "$WORK/track.nmea" -o gpx -F "$WORK/babel.gpx"
compare "GPX -> PLT" "$WORK/day.plt" "$WORK/babel.plt" \
  -- "$CLI" convert --to plt "$WORK/day.gpx" \
  -- gpsbabel -i gpx -f "$WORK/day.gpx" -o ozi -F "$WORK/babel.plt"
compare "NMEA log ($(grep -c '^\$' "$WORK/receiver.nmea") sentences) -> GPX" \
  "$WORK/receiver.gpx" "$WORK/babel-receiver.gpx" \
  -- "$CLI" convert --to gpx "$WORK/receiver.nmea" \
  -- gpsbabel -i nmea -f "$WORK/receiver.nmea" -o gpx -F "$WORK/babel-receiver.gpx"
if [ -x /usr/bin/time ]; then
  rm -f "$WORK/receiver.gpx"
  rss=$(/usr/bin/time -f %M "$CLI" convert --to gpx "$WORK/receiver.nmea" 2>&1 >/dev/null | tail -1)
  size=$(stat -c %s "$WORK/receiver.nmea")
  printf '  tachora-cli peak memory: %.1f MB for a %.1f MB log (bound %.1f MB)\n' \
    "$(echo "$rss / 1024" | bc -l)" "$(echo "$size / 1048576" | bc -l)" \
    "$(echo "(4 * $size) / 1048576 + 35" | bc -l)"
fi

points() { grep -c "$1" "$2" || true; }
printf 'points: GPX tachora %s, gpsbabel %s; PLT tachora %s, gpsbabel %s\n' \
  "$(points '<trkpt' "$WORK/track.gpx")" "$(points '<trkpt' "$WORK/babel.gpx")" \
  "$(($(wc -l <"$WORK/day.plt") - 6))" "$(($(wc -l <"$WORK/babel.plt") - 6))"
printf 'points: NMEA -> GPX tachora %s, gpsbabel %s\n' \
  "$(points '<trkpt' "$WORK/receiver.gpx")" "$(points '<trkpt' "$WORK/babel-receiver.gpx")"
