// Telemetry as text inside recordings: NMEA sentences in text and subtitle
// tracks (with or without '$', one or more per sample, the Thinkware
// "gsensori" record beside them), Garmin PNDM samples, and the BlackVue
// `gps ` (bracketed camera-clock stamps + NMEA) and `3gf ` records, which
// the older models also write as `.gps`/`.3gf` files beside the video.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/UnitUtils.h"
#include "telemetry/UnitEmbeddedReaders.h"

namespace tachora {

namespace {

// Splits at commas into at most `most` fields (empty ones kept).
size_t SplitCommas(std::string_view s, std::string_view *fields, size_t most) {
  size_t n = 0;
  while (n < most) {
    const size_t c = s.find(',');
    fields[n++] = s.substr(0, c);
    if (c == std::string_view::npos) break;
    s.remove_prefix(c + 1);
  }
  return n;
}

bool Number(std::string_view s, double &v) {
  if (s.empty() || s.size() > 32) return false;
  char buf[33];
  std::memcpy(buf, s.data(), s.size());
  buf[s.size()] = '\0';
  char *end = nullptr;
  v = std::strtod(buf, &end);
  return end == buf + s.size() && std::isfinite(v);
}

// "hhmmss[.sss]" to seconds of the day; -1 when malformed.
double DaySeconds(std::string_view s) {
  double v;
  if (s.size() < 6 || !Number(s, v) || v < 0) return -1;
  const int whole = static_cast<int>(v);
  const int h = whole / 10000, m = whole / 100 % 100;
  const double sec = v - h * 10000 - m * 100;
  if (h > 23 || m > 59 || sec >= 60) return -1;
  return h * 3600 + m * 60 + sec;
}

bool Coordinate(std::string_view value, std::string_view hemisphere, char negative,
                double &degrees) {
  double ddmm;
  if (!Number(value, ddmm) || ddmm < 0 || hemisphere.size() != 1 || !DdmmToDegrees(ddmm, degrees))
    return false;
  if (hemisphere[0] == negative) degrees = -degrees;
  return true;
}

uint32_t U32BE(const uint8_t *p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

}  // namespace

bool AddNmeaSentence(std::string_view s, TNmeaState &state, TEmbeddedTrack &t, bool takeGga) {
  if (!s.empty() && s[0] == '$') s.remove_prefix(1);
  if (const size_t star = s.find('*'); star != std::string_view::npos) s = s.substr(0, star);
  if (s.size() < 6 || s[5] != ',') return false;
  const std::string_view kind = s.substr(2, 3);
  std::string_view f[16];
  const size_t n = SplitCommas(s, f, 16);
  if (kind == "RMC" && n >= 10) {
    if (f[2] != "A") return false;
    const double sec = DaySeconds(f[1]);
    double day;
    if (sec < 0 || f[9].size() != 6 || !Number(f[9], day)) return false;
    const int date = static_cast<int>(day);
    state.Day = date / 10000;
    state.Month = date / 100 % 100;
    state.Year = 2000 + date % 100;
    const double time = FixTime(state.Year, state.Month, state.Day, 0, 0, 0) + sec / kSecPerDay;
    double lat, lon, knots = -1, course = -1;
    if (FixTime(state.Year, state.Month, state.Day, 0, 0, 0) == 0 ||
        !Coordinate(f[3], f[4], 'S', lat) || !Coordinate(f[5], f[6], 'W', lon))
      return false;
    if (!Number(f[7], knots)) knots = -1;
    if (!Number(f[8], course)) course = -1;
    if (!AddFix(t, time, lat, lon, 0, knots < 0 ? -1 : knots * kKnotsToKmh, course)) return false;
    state.LastRmcTime = time;
    return true;
  }
  if (kind == "GGA" && n >= 10) {
    double quality = 0, alt = 0, lat, lon;
    const double sec = DaySeconds(f[1]);
    if (!Number(f[6], quality) || quality <= 0 || sec < 0) return false;
    if (!Number(f[9], alt)) alt = 0;
    const double date = FixTime(state.Year, state.Month, state.Day, 0, 0, 0);
    if (date == 0) return false;  // no RMC has given the date yet
    const double time = date + sec / kSecPerDay;
    // The GGA of the RMC just taken lends it its altitude.
    if (!t.Items.empty() && t.Items.back().Kind == kRecordGps && time == state.LastRmcTime) {
      if (std::fabs(alt) < 20000) t.Items.back().Altitude = alt;
      return false;
    }
    if (!takeGga || !Coordinate(f[2], f[3], 'S', lat) || !Coordinate(f[4], f[5], 'W', lon))
      return false;
    return AddFix(t, time, lat, lon, alt, -1, -1);
  }
  return false;
}

void ReadNmeaText(std::string_view text, TNmeaState &state, TEmbeddedTrack &t) {
  // Sentences start at '$' or, in the dialect without it, at a talker and
  // sentence name after a separator; they end at a separator.
  auto isSeparator = [](char c) {
    return c == '\n' || c == '\r' || c == ';' || c == '\0' || c == '$' || c == ' ';
  };
  size_t i = 0;
  while (i < text.size()) {
    const size_t begin = i;
    if (text[i] == '$') ++i;
    size_t end = i;
    while (end < text.size() && !isSeparator(text[end])) ++end;
    const std::string_view piece = text.substr(i, end - i);
    if (piece.size() > 6 && (piece.substr(2, 4) == "RMC," || piece.substr(2, 4) == "GGA,"))
      AddNmeaSentence(piece, state, t, true);
    else if (piece.rfind("gsensori,", 0) == 0) {
      // Thinkware: "gsensori,<axes>,<counts per g>,x,y,z".
      std::string_view g[7];
      double sens, x, y, z;
      if (SplitCommas(piece, g, 7) == 6 && Number(g[2], sens) && sens > 0 && Number(g[3], x) &&
          Number(g[4], y) && Number(g[5], z))
        AddSample(t, x / sens, y / sens, z / sens);
    }
    i = std::max(end, begin + 1);
  }
}

void ReadTextSample(std::string_view sample, double sampleUtc, TNmeaState &state,
                    TEmbeddedTrack &t) {
  const auto *b = reinterpret_cast<const uint8_t *>(sample.data());
  // The subtitle length prefix.
  if (sample.size() >= 2 && size_t(b[0] << 8 | b[1]) == sample.size() - 2) {
    sample.remove_prefix(2);
    b += 2;
  }
  // Garmin PNDM: optional 4-byte size, "PNDM", then mph and semicircles.
  size_t p = sample.substr(0, 8).find("PNDM");
  if (p != std::string_view::npos && sample.size() >= p + 20) {
    const double mph = (b[p + 8] << 8 | b[p + 9]);
    const double lat = static_cast<int32_t>(U32BE(b + p + 12)) * (180.0 / 2147483648.0);
    const double lon = static_cast<int32_t>(U32BE(b + p + 16)) * (180.0 / 2147483648.0);
    if (U32BE(b + p + 12) != 0x80000000u && sampleUtc > 0)
      AddFix(t, sampleUtc, lat, lon, 0, mph * kMphToKmh, -1);
    t.Bytes += static_cast<int64_t>(sample.size());
    if (t.Format.empty()) t.Format = "Garmin PNDM";
    return;
  }
  t.Bytes += static_cast<int64_t>(sample.size());
  ReadNmeaText(sample, state, t);
}

void ReadBlackVue(std::string_view gps, std::string_view accel, TEmbeddedTrack &t) {
  // "[ms]$GPRMC,...": the stamps are the camera's clock and only place the
  // lines among the accelerometer records; the NMEA times are UTC and win.
  if (const size_t nul = gps.find('\0'); nul != std::string_view::npos) gps = gps.substr(0, nul);
  t.Bytes += static_cast<int64_t>(gps.size() + accel.size());
  TNmeaState state;
  TEmbeddedTrack rmc, gga;
  std::vector<double> rmcAt, ggaAt;  // each fix's stamp, ms from the first stamp
  double first = -1, stampMs = -1;
  size_t pos = 0;
  while (pos < gps.size()) {
    size_t eol = gps.find_first_of("\r\n", pos);
    if (eol == std::string_view::npos) eol = gps.size();
    std::string_view line = gps.substr(pos, eol - pos);
    pos = eol + 1;
    while (!line.empty() && line[0] == '[') {
      const size_t close = line.find(']');
      double ms;
      if (close == std::string_view::npos) break;
      if (Number(line.substr(1, close - 1), ms) && ms >= 0) {
        if (first < 0) first = ms;
        stampMs = ms - first;
      }
      line.remove_prefix(close + 1);
    }
    if (const size_t stamp = line.find('['); stamp != std::string_view::npos)
      line = line.substr(0, stamp);
    // RMC fixes first; GGA only when the file has no RMC at all.
    if (AddNmeaSentence(line, state, rmc, false)) rmcAt.push_back(stampMs);
    TNmeaState ggaState = state;
    if (AddNmeaSentence(line, ggaState, gga, true)) ggaAt.push_back(stampMs);
  }
  const bool useRmc = rmc.Fixes() > 0;
  const std::vector<TTrackRecord> &fixes = useRmc ? rmc.Items : gga.Items;
  const std::vector<double> &at = useRmc ? rmcAt : ggaAt;
  // The accelerometer records, ms from the recording's start, laid among the
  // fixes by time.
  const auto *b = reinterpret_cast<const uint8_t *>(accel.data());
  size_t next = 0;
  auto fixesUpTo = [&](double ms) {
    for (; next < fixes.size() && (ms < 0 || at[next] <= ms); ++next)
      t.Items.push_back(fixes[next]);
  };
  for (size_t o = 0; o + 10 <= accel.size(); o += 10) {
    const uint32_t ms = U32BE(b + o);
    if (ms == 0xffffffffu) break;
    fixesUpTo(ms);
    auto axis = [&](size_t k) {
      return static_cast<int16_t>(b[o + k] << 8 | b[o + k + 1]) / 128.0;
    };
    AddSample(t, axis(4), axis(6), axis(8));
  }
  fixesUpTo(-1);
}

}  // namespace tachora
