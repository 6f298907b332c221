#include "telemetry/UnitNmea.h"

#include <cmath>
#include <limits>

#include "app/UnitUtils.h"
#include "telemetry/UnitTrackText.h"

namespace tachora {

namespace {

constexpr int32_t kDayMs = 86400000;
constexpr int32_t kHalfDayMs = kDayMs / 2;
constexpr long double kKnot = 1.852L;  // km/h in a knot
constexpr long double kNotNumber = std::numeric_limits<long double>::quiet_NaN();

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Digits at [pos, pos + len), all present; -1 otherwise.
int FixedDigits(std::string_view s, size_t pos, size_t len) {
  if (pos + len > s.size()) return -1;
  int v = 0;
  for (size_t i = pos; i < pos + len; ++i) {
    if (!IsDigit(s[i])) return -1;
    v = v * 10 + (s[i] - '0');
  }
  return v;
}

TNmeaType TypeOf(std::string_view formatter) {
  if (formatter == "RMC") return TNmeaType::RMC;
  if (formatter == "GGA") return TNmeaType::GGA;
  if (formatter == "VTG") return TNmeaType::VTG;
  if (formatter == "GLL") return TNmeaType::GLL;
  if (formatter == "ZDA") return TNmeaType::ZDA;
  return TNmeaType::Other;
}

// A ddmm.mmmm coordinate and its hemisphere field; false when either is
// missing or the value is beyond the pole or the antimeridian.
bool ParseCoord(std::string_view value, std::string_view hemisphere, char positive, char negative,
                long double limit, long double &out) {
  if (value.empty() || hemisphere.size() != 1) return false;
  if (hemisphere[0] != positive && hemisphere[0] != negative) return false;
  const long double v = ParseNumber(value, kNotNumber);
  if (std::isnan(v) || v < 0) return false;
  const long double whole = std::trunc(v);
  const long double degrees = std::trunc(whole / 100);
  const long double minutes = v - degrees * 100;
  if (minutes >= 60) return false;
  const long double d = degrees + minutes / 60;
  if (d > limit) return false;
  out = hemisphere[0] == positive ? d : -d;
  return true;
}

bool ParsePosition(const TNmeaSentence &s, size_t at, TNmeaFix &fix) {
  long double lat = 0, lon = 0;
  if (!ParseCoord(s.Field(at), s.Field(at + 1), 'N', 'S', 90, lat) ||
      !ParseCoord(s.Field(at + 2), s.Field(at + 3), 'E', 'W', 180, lon))
    return false;
  fix.HasPosition = true;
  fix.Lat = lat;
  fix.Lon = lon;
  return true;
}

long double NumberOr(std::string_view text, long double def) {
  if (text.empty()) return def;
  const long double v = ParseNumber(text, kNotNumber);
  return std::isfinite(v) ? v : def;
}

// The FAA mode of NMEA 2.3 and later: "N" is no fix.
bool ModeValid(std::string_view mode) {
  return mode != "N";
}

}  // namespace

bool IsGnssTalker(std::string_view t) {
  return t == "GP" || t == "GN" || t == "GL" || t == "GA" || t == "GB" || t == "BD" || t == "GQ" ||
         t == "GI" || t == "QZ";
}

TNmeaLine ParseNmeaSentence(std::string_view line, TNmeaSentence &out) {
  out = TNmeaSentence();
  size_t b = 0, e = line.size();
  while (b < e && (line[b] == ' ' || line[b] == '\t')) ++b;
  while (e > b && static_cast<unsigned char>(line[e - 1]) <= ' ') --e;
  if (b < e && line[b] == '[') {
    // "[12345]$GPRMC,...": the camera's milliseconds.
    size_t i = b + 1;
    int64_t ms = 0;
    int digits = 0;
    for (; i < e && IsDigit(line[i]) && digits < 18; ++i, ++digits) ms = ms * 10 + (line[i] - '0');
    if (digits == 0 || i >= e || line[i] != ']') return TNmeaLine::NotNmea;
    out.StampMs = ms;
    b = i + 1;
    while (b < e && (line[b] == ' ' || line[b] == '\t')) ++b;
  }
  if (b >= e || line[b] != '$') return TNmeaLine::NotNmea;
  // Some BlackVue lines end with a second "[ms]" after the checksum; it
  // belongs to no field.
  if (line[e - 1] == ']') {
    size_t i = e - 1;
    while (i > b && IsDigit(line[i - 1])) --i;
    if (i < e - 1 && i > b && line[i - 1] == '[') {
      e = i - 1;
      while (e > b && static_cast<unsigned char>(line[e - 1]) <= ' ') --e;
    }
  }
  const std::string_view s = line.substr(b + 1, e - b - 1);

  // The body up to "*": printable ASCII only (a sentence never holds
  // anything else, and binary data that happens to hold a "$" is no text).
  size_t star = std::string_view::npos;
  uint8_t sum = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c == '*') {
      star = i;
      break;
    }
    if (c < 0x20 || c > 0x7e) return TNmeaLine::NotNmea;
    sum ^= c;
  }
  const std::string_view body = star == std::string_view::npos ? s : s.substr(0, star);

  size_t addressEnd = 0;
  while (addressEnd < body.size() && body[addressEnd] != ',') ++addressEnd;
  const std::string_view address = body.substr(0, addressEnd);
  if (address.size() < 2 || address.size() > 6) return TNmeaLine::NotNmea;
  for (const char c : address)
    if (!((c >= 'A' && c <= 'Z') || IsDigit(c))) return TNmeaLine::NotNmea;
  if (address[0] == 'P') {
    out.Formatter = address.substr(1);
  } else {
    if (address.size() < 5) return TNmeaLine::NotNmea;
    out.Talker = address.substr(0, 2);
    out.Formatter = address.substr(2);
    if (IsGnssTalker(out.Talker)) out.Type = TypeOf(out.Formatter);
  }

  if (addressEnd < body.size()) {
    size_t start = addressEnd + 1;
    for (size_t i = start;; ++i) {
      if (i == body.size() || body[i] == ',') {
        out.Fields[out.FieldCount++] = body.substr(start, i - start);
        start = i + 1;
        if (i == body.size() || out.FieldCount == kMaxNmeaFields) break;
      }
    }
  }

  if (star != std::string_view::npos) {
    out.HasChecksum = true;
    const std::string_view tail = s.substr(star + 1);
    if (tail.size() != 2) return TNmeaLine::BadChecksum;
    const int hi = HexValue(tail[0]), lo = HexValue(tail[1]);
    if (hi < 0 || lo < 0 || (hi << 4 | lo) != sum) return TNmeaLine::BadChecksum;
  }
  return TNmeaLine::Sentence;
}

int32_t ParseNmeaTimeMs(std::string_view text) {
  const int hour = FixedDigits(text, 0, 2), minute = FixedDigits(text, 2, 2);
  const int second = FixedDigits(text, 4, 2);
  if (hour < 0 || minute < 0 || second < 0 || hour > 23 || minute > 59 || second > 60) return -1;
  int ms = 0;
  if (text.size() > 6) {
    if (text[6] != '.') return -1;
    int scale = 100;
    for (size_t i = 7; i < text.size(); ++i) {
      if (!IsDigit(text[i])) return -1;
      ms += (text[i] - '0') * scale;
      scale /= 10;
    }
  }
  return ((hour * 60 + minute) * 60 + second) * 1000 + ms;
}

int32_t ParseNmeaDate(std::string_view text) {
  if (text.size() != 6) return 0;
  const int day = FixedDigits(text, 0, 2), month = FixedDigits(text, 2, 2);
  const int yy = FixedDigits(text, 4, 2);
  if (day < 0 || month < 0 || yy < 0) return 0;
  const int year = yy > 80 ? 1900 + yy : 2000 + yy;
  if (!IsValidDate(year, month, day)) return 0;
  return static_cast<int32_t>(EncodeDate(year, month, day));
}

bool DecodeNmeaFix(const TNmeaSentence &s, TNmeaFix &fix) {
  fix = TNmeaFix();
  fix.Type = s.Type;
  switch (s.Type) {
    case TNmeaType::RMC: {
      // time, status, lat, N/S, lon, E/W, knots, course, date, variation, E/W, mode
      fix.TimeMs = ParseNmeaTimeMs(s.Field(0));
      fix.Date = ParseNmeaDate(s.Field(8));
      ParsePosition(s, 2, fix);
      const std::string_view status = s.Field(1);
      fix.Valid = (status == "A" || status == "D") && ModeValid(s.Field(11)) && fix.HasPosition;
      const long double knots = NumberOr(s.Field(6), -1);
      fix.Speed = knots >= 0 ? knots * kKnot : -1;
      fix.Course = NumberOr(s.Field(7), -1);
      return true;
    }
    case TNmeaType::GGA: {
      // time, lat, N/S, lon, E/W, quality, satellites, HDOP, altitude, M, geoid, M, ...
      fix.TimeMs = ParseNmeaTimeMs(s.Field(0));
      ParsePosition(s, 1, fix);
      fix.Quality = TruncToInt(NumberOr(s.Field(5), -1));
      fix.Satellites = TruncToInt(NumberOr(s.Field(6), -1));
      fix.Hdop = NumberOr(s.Field(7), -1);
      const long double alt = NumberOr(s.Field(8), kNotNumber);
      fix.HasAltitude = !std::isnan(alt);
      fix.Altitude = fix.HasAltitude ? alt : 0;
      fix.Valid = fix.Quality > 0 && fix.HasPosition;
      return true;
    }
    case TNmeaType::VTG: {
      // course T, "T", course M, "M", knots, "N", km/h, "K", mode
      fix.Course = NumberOr(s.Field(0), -1);
      const long double kmh = NumberOr(s.Field(6), -1);
      const long double knots = NumberOr(s.Field(4), -1);
      fix.Speed = kmh >= 0 ? kmh : knots >= 0 ? knots * kKnot : -1;
      fix.Valid = ModeValid(s.Field(8)) && (fix.Speed >= 0 || fix.Course >= 0);
      return true;
    }
    case TNmeaType::GLL: {
      // lat, N/S, lon, E/W, time, status, mode (time and status from NMEA 2.0 on)
      ParsePosition(s, 0, fix);
      fix.TimeMs = ParseNmeaTimeMs(s.Field(4));
      const std::string_view status = s.Field(5);
      fix.Valid = (status == "A" || status == "D") && ModeValid(s.Field(6)) && fix.HasPosition;
      return true;
    }
    case TNmeaType::ZDA: {
      // time, day, month, year, zone hours, zone minutes
      fix.TimeMs = ParseNmeaTimeMs(s.Field(0));
      const int day = FixedDigits(s.Field(1), 0, 2), month = FixedDigits(s.Field(2), 0, 2);
      const int year = FixedDigits(s.Field(3), 0, 4);
      if (s.Field(1).size() == 2 && s.Field(2).size() == 2 && s.Field(3).size() == 4 &&
          IsValidDate(year, month, day))
        fix.Date = static_cast<int32_t>(EncodeDate(year, month, day));
      return true;
    }
    case TNmeaType::Other:
      break;
  }
  return false;
}

// ---- the track builder -------------------------------------------------------------

void TNmeaTrackBuilder::SeedDate(int32_t date, int32_t timeMs) {
  date_ = date;
  dateTimeMs_ = date > 0 ? timeMs : -1;
}

void TNmeaTrackBuilder::Carry(int32_t timeMs) {
  if (date_ > 0 && dateTimeMs_ >= 0) {
    if (timeMs < dateTimeMs_ - kHalfDayMs)
      ++date_;  // past midnight
    else if (timeMs > dateTimeMs_ + kHalfDayMs)
      --date_;  // before the midnight of the date seen
  }
  if (date_ > 0) dateTimeMs_ = timeMs;
}

bool TNmeaTrackBuilder::Emit(TTrackRecord &out) {
  const int32_t date = epochDate_ > 0 ? epochDate_ : date_;
  const bool ok = open_ && hasPosition_ && date > 0;
  open_ = false;
  if (!ok) return false;
  out = TTrackRecord();
  out.Kind = kRecordGps;
  out.Time = date + timeMs_ / kMsPerDay + LocalTimeOffset();
  out.Lat = lat_;
  out.Lon = lon_;
  out.Altitude = hasAltitude_ ? altitude_ : 0;
  out.Speed = speed_;
  out.Course = course_ >= 0 && course_ < 360 ? course_ : course_ == 360 ? 0 : -1;
  return true;
}

bool TNmeaTrackBuilder::Add(const TNmeaFix &fix, TTrackRecord &out) {
  bool emitted = false;
  if (fix.TimeMs >= 0 && open_ && fix.TimeMs != timeMs_) emitted = Emit(out);
  if (fix.TimeMs >= 0 && !open_) {
    open_ = true;
    timeMs_ = fix.TimeMs;
    epochDate_ = 0;
    fromRmc_ = hasPosition_ = hasAltitude_ = false;
    lat_ = lon_ = altitude_ = 0;
    speed_ = course_ = -1;
  }
  if (fix.Date > 0 && fix.TimeMs >= 0) {
    date_ = epochDate_ = fix.Date;
    dateTimeMs_ = fix.TimeMs;
  } else if (fix.TimeMs >= 0) {
    Carry(fix.TimeMs);
  }
  if (!open_) return emitted;
  if (!fix.Valid && !(takeUnknown_ && (fix.HasPosition || fix.Type == TNmeaType::VTG)))
    return emitted;

  switch (fix.Type) {
    case TNmeaType::RMC:
      if (!fix.HasPosition) break;
      fromRmc_ = hasPosition_ = true;
      lat_ = fix.Lat;
      lon_ = fix.Lon;
      speed_ = fix.Speed;
      course_ = fix.Course;
      break;
    case TNmeaType::GGA:
      if (!fix.HasPosition) break;
      if (!hasPosition_) {
        hasPosition_ = true;
        lat_ = fix.Lat;
        lon_ = fix.Lon;
      }
      hasAltitude_ = fix.HasAltitude;
      altitude_ = fix.Altitude;
      break;
    case TNmeaType::GLL:
      if (!fix.HasPosition) break;
      if (!hasPosition_) {
        hasPosition_ = true;
        lat_ = fix.Lat;
        lon_ = fix.Lon;
      }
      break;
    case TNmeaType::VTG:
      if (!fromRmc_) {
        if (fix.Speed >= 0) speed_ = fix.Speed;
        if (fix.Course >= 0) course_ = fix.Course;
      }
      break;
    default:
      break;
  }
  return emitted;
}

bool TNmeaTrackBuilder::Finish(TTrackRecord &out) {
  return Emit(out);
}

}  // namespace tachora
