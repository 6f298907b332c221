// Telemetry in top-level boxes of their own: 70mai's `GPS ` and the
// `gps0`/`gsen` pair of several other recorders.
#include <cmath>
#include <cstring>

#include "app/UnitUtils.h"
#include "telemetry/UnitEmbeddedReaders.h"

namespace tachora {

namespace {

uint32_t U32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
double F64(const uint8_t *p) {
  const uint64_t v = uint64_t(U32(p)) | uint64_t(U32(p + 4)) << 32;
  double d;
  std::memcpy(&d, &v, 8);
  return d;
}

}  // namespace

void Read70maiBox(std::string_view data, double clipStartUtc, TEmbeddedTrack &t) {
  // 36-byte records: has record, has fix, seconds from the clip's start,
  // speed in metres an hour, then hemisphere letters each before a u32 of
  // DDMM x 1000.
  const auto *b = reinterpret_cast<const uint8_t *>(data.data());
  t.Bytes += static_cast<int64_t>(data.size());
  int64_t lastSecond = -1;
  static const uint8_t kZero[36] = {};
  for (size_t o = 0; o + 36 <= data.size(); o += 36) {
    const uint8_t *r = b + o;
    if (std::memcmp(r, kZero, 36) == 0) break;
    const int64_t second = U32(r + 8);
    if (U32(r) == 0 || U32(r + 4) == 0 || second <= lastSecond || second > 86400) continue;
    lastSecond = second;
    double lat, lon;
    if (clipStartUtc <= 0 || !DdmmToDegrees(U32(r + 17) / 1000.0, lat) ||
        !DdmmToDegrees(U32(r + 22) / 1000.0, lon))
      continue;
    if (r[16] == 'S') lat = -lat;
    if (r[21] == 'W') lon = -lon;
    AddFix(t, clipStartUtc + static_cast<double>(second) / kSecPerDay, lat, lon, 0,
           U32(r + 12) / 1000.0, -1);
  }
}

void ReadGps0(std::string_view gps0, std::string_view gsen, TEmbeddedTrack &t) {
  t.Bytes += static_cast<int64_t>(gps0.size() + gsen.size());
  // 32-byte records: signed DDMM doubles, altitude, km/h, the date and time
  // as bytes, course / 2. The ring buffer also holds older rows: a row that
  // does not move time forward is dropped.
  const auto *b = reinterpret_cast<const uint8_t *>(gps0.data());
  const size_t fixes = gps0.size() / 32;
  const size_t samples = gsen.size() / 3;
  const auto *g = reinterpret_cast<const uint8_t *>(gsen.data());
  size_t nextSample = 0;
  // The samples carry no time: they are spread evenly among the rows.
  auto samplesUpTo = [&](size_t row) {
    const size_t until = fixes == 0 ? samples : samples * row / fixes;
    for (; nextSample < until && nextSample < samples; ++nextSample) {
      const uint8_t *s = g + 3 * nextSample;
      AddSample(t, static_cast<int8_t>(s[0]) / 16.0, static_cast<int8_t>(s[1]) / 16.0,
                static_cast<int8_t>(s[2]) / 16.0);
    }
  };
  double last = 0;
  for (size_t i = 0; i < fixes; ++i) {
    samplesUpTo(i);
    const uint8_t *r = b + 32 * i;
    const double lat = F64(r), lon = F64(r + 8);
    if (!(std::fabs(lat) <= 9000) || !(std::fabs(lon) <= 18000)) continue;
    const double time = FixTime(2000 + r[0x16], r[0x17], r[0x18], r[0x19], r[0x1a], r[0x1b]);
    if (time <= last) continue;
    double la, lo;
    if (!DdmmToDegrees(lat, la) || !DdmmToDegrees(lon, lo)) continue;
    const int32_t alt = static_cast<int32_t>(U32(r + 0x10));
    if (AddFix(t, time, la, lo, alt, r[0x14] | r[0x15] << 8, r[0x1c] * 2.0)) last = time;
  }
  samplesUpTo(fixes);
}

}  // namespace tachora
