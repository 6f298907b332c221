#!/usr/bin/env bash
# Times one conversion of a 24-hour track (1 Hz) to GPX by tachora-cli
# against GPSBabel converting the same track from NMEA, and prints the ratio.
# The track is written twice: as NMEA sentences for GPSBabel and as the
# NMEA-style DVR log that Tachora's reader takes (same fixes).
# Usage: compare_gpsbabel.sh BUILD_DIR [SECONDS_OF_TRACK]
set -euo pipefail
BUILD="${1:?usage: compare_gpsbabel.sh BUILD_DIR [SECONDS]}"
N="${2:-86400}"
CLI="$BUILD/cli/tachora-cli"
[ -x "$CLI" ] || { echo "no tachora-cli in $BUILD/cli" >&2; exit 2; }
command -v gpsbabel >/dev/null || { echo "gpsbabel is not installed" >&2; exit 2; }
WORK="$(mktemp -d "${TMPDIR:-/tmp}/tachora-gpsbabel-XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

# Plain awk (mawk has no xor()): the NMEA checksum with a bitwise loop.
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

now() { date +%s.%N; }
t0=$(now)
"$CLI" convert --to gpx "$WORK/track.log" >/dev/null
t1=$(now)
gpsbabel -i nmea -f "$WORK/track.nmea" -o gpx -F "$WORK/babel.gpx"
t2=$(now)

ours=$(echo "$t1 - $t0" | bc -l)
theirs=$(echo "$t2 - $t1" | bc -l)
points_ours=$(grep -c '<trkpt' "$WORK/track.gpx" || true)
points_theirs=$(grep -c '<trkpt' "$WORK/babel.gpx" || true)
printf 'points: tachora %s, gpsbabel %s\n' "$points_ours" "$points_theirs"
printf 'tachora-cli convert --to gpx: %.3f s\n' "$ours"
printf 'gpsbabel -i nmea -o gpx:      %.3f s\n' "$theirs"
printf 'ratio (gpsbabel / tachora):   %.2f\n' "$(echo "$theirs / $ours" | bc -l)"
