#include "app/UnitUtils.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

namespace tachora {

namespace {

std::atomic<long> gOffsetSeconds{0};
std::atomic<bool> gOffsetSet{false};

constexpr long double kPi = 3.141592653589793238462643383279502884L;
constexpr long double kDeg = kPi / 180.0L;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int &year, int &month, int &day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

std::string Two(int v) {
  char b[16];
  std::snprintf(b, sizeof b, "%02d", v);
  return b;
}

}  // namespace

// ---- local time -----------------------------------------------------------

void InitLocalTimeOffset() {
  tzset();
  time_t now = time(nullptr);
  struct tm lt {};
  long off = 0;
  if (localtime_r(&now, &lt)) off = lt.tm_gmtoff;
  gOffsetSeconds = off;
  gOffsetSet = true;
}

long LocalTimeOffsetSeconds() {
  if (!gOffsetSet) InitLocalTimeOffset();
  return gOffsetSeconds;
}

double LocalTimeOffset() {
  return LocalTimeOffsetSeconds() / kSecPerDay;
}

// ---- date-time ------------------------------------------------------------

bool IsValidDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int dim = kDays[month - 1];
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && leap) dim = 29;
  return day <= dim;
}

bool IsValidTime(int hour, int minute, int second, int msec) {
  return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 &&
         msec >= 0 && msec < 1000;
}

TDateTime EncodeDate(int year, int month, int day) {
  return static_cast<double>(DaysFromCivil(year, month, day)) + kUnixEpochDate;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / kMsPerDay;
}

TDateTime EncodeDateTime(const TDateParts &p) {
  return EncodeDate(p.year, p.month, p.day) + EncodeTime(p.hour, p.minute, p.second, p.msec);
}

TDateParts DecodeDateTime(TDateTime dt) {
  TDateParts p;
  // Beyond a million years a date is damage, and its milliseconds would not
  // fit the counter.
  if (!(std::fabs(dt) <= 1e9)) return p;
  const long double totalMs = std::round(static_cast<long double>(dt) * kMsPerDay);
  int64_t ms = static_cast<int64_t>(totalMs);
  int64_t days = ms / 86400000;
  int64_t rest = ms % 86400000;
  if (rest < 0) {
    rest += 86400000;
    --days;
  }
  CivilFromDays(days - static_cast<int64_t>(kUnixEpochDate), p.year, p.month, p.day);
  p.msec = static_cast<int>(rest % 1000);
  rest /= 1000;
  p.second = static_cast<int>(rest % 60);
  rest /= 60;
  p.minute = static_cast<int>(rest % 60);
  p.hour = static_cast<int>(rest / 60);
  return p;
}

TDateTime DateTimeFromUnix(double unixSeconds) {
  return (unixSeconds + LocalTimeOffsetSeconds()) / kSecPerDay + kUnixEpochDate;
}

TDateTime DateTimeFromTimespec(const timespec &ts) {
  return DateTimeFromUnix(static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9);
}

double UnixFromDateTime(TDateTime dt) {
  return (dt - kUnixEpochDate) * kSecPerDay - LocalTimeOffsetSeconds();
}

timespec TimespecFromDateTime(TDateTime dt) {
  // Whole milliseconds: the date-time type carries no more.
  const long double ms = std::round(static_cast<long double>(UnixFromDateTime(dt)) * 1000.0L);
  int64_t whole = static_cast<int64_t>(ms);
  timespec ts{};
  int64_t sec = whole / 1000;
  int64_t rem = whole % 1000;
  if (rem < 0) {
    rem += 1000;
    --sec;
  }
  ts.tv_sec = static_cast<time_t>(sec);
  ts.tv_nsec = static_cast<long>(rem * 1000000);
  return ts;
}

TDateTime LocalToUtc(TDateTime local) {
  return local - LocalTimeOffset();
}
TDateTime UtcToLocal(TDateTime utc) {
  return utc + LocalTimeOffset();
}

TDateTime NowDateTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return DateTimeFromTimespec(ts);
}

std::string FormatDate(TDateTime dt) {
  const TDateParts p = DecodeDateTime(dt);
  char b[32];
  std::snprintf(b, sizeof b, "%04d-%02d-%02d", p.year, p.month, p.day);
  return b;
}

std::string FormatTime(TDateTime dt) {
  const TDateParts p = DecodeDateTime(dt);
  char b[32];
  std::snprintf(b, sizeof b, "%02d:%02d:%02d", p.hour, p.minute, p.second);
  return b;
}

std::string FormatDateTime(TDateTime dt) {
  return FormatDate(dt) + " " + FormatTime(dt);
}

std::string FormatDateTimeMs(TDateTime dt) {
  const TDateParts p = DecodeDateTime(dt);
  char b[48];
  std::snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day, p.hour,
                p.minute, p.second, p.msec);
  return b;
}

std::string FormatDateTimeOrEmpty(TDateTime dt) {
  return dt == 0 ? std::string() : FormatDateTime(dt);
}
std::string FormatDateTimeMsOrEmpty(TDateTime dt) {
  return dt == 0 ? std::string() : FormatDateTimeMs(dt);
}

bool ParseDateTime(std::string_view text, TDateTime &out) {
  text = Trim(text);
  int f[7] = {0, 0, 0, 0, 0, 0, 0};
  size_t pos = 0;
  int field = 0;
  auto readNum = [&](int maxDigits, int &v) {
    size_t start = pos;
    v = 0;
    while (pos < text.size() && pos - start < static_cast<size_t>(maxDigits) && text[pos] >= '0' &&
           text[pos] <= '9')
      v = v * 10 + (text[pos++] - '0');
    return pos > start;
  };
  static const char kSep[] = {'-', '-', ' ', ':', ':', '.'};
  static const int kDigits[] = {4, 2, 2, 2, 2, 2, 3};
  for (field = 0; field < 7; ++field) {
    if (!readNum(kDigits[field], f[field])) return false;
    if (pos == text.size()) break;
    if (field == 6) return false;
    const char c = text[pos];
    if (!(c == kSep[field] || (field == 2 && c == 'T'))) return false;
    ++pos;
  }
  if (field < 2 || field == 3) return false;  // need a whole date, and minutes with an hour
  if (field == 6) {
    // milliseconds written with fewer than three digits are tenths or hundredths
    size_t digits = 0;
    for (size_t i = text.size(); i > 0 && text[i - 1] != '.'; --i) ++digits;
    if (digits == 1) f[6] *= 100;
    if (digits == 2) f[6] *= 10;
  }
  if (!IsValidDate(f[0], f[1], f[2]) || !IsValidTime(f[3], f[4], f[5], f[6])) return false;
  out = EncodeDateTime({f[0], f[1], f[2], f[3], f[4], f[5], f[6]});
  return true;
}

std::string DurationText(int64_t ms, bool withSeconds) {
  if (ms < 0) ms = 0;
  int64_t s = ms / 1000;
  const int64_t days = s / 86400;
  s %= 86400;
  const int64_t h = s / 3600;
  s %= 3600;
  const int64_t m = s / 60;
  s %= 60;
  std::string t;
  if (days > 0)
    t = std::to_string(days) + "d" + Two(static_cast<int>(h)) + ":" + Two(static_cast<int>(m));
  else if (h > 0)
    t = std::to_string(h) + ":" + Two(static_cast<int>(m));
  else
    t = std::to_string(m);
  if (withSeconds) t += ":" + Two(static_cast<int>(s));
  return t;
}

// ---- numbers --------------------------------------------------------------

int TruncToInt(long double v, int def) {
  if (!(v > -2147483648.0L && v < 2147483648.0L)) return def;
  return static_cast<int>(v);
}

int64_t RoundHalfAway(long double v) {
  if (!std::isfinite(v)) return 0;
  const long double r = v < 0 ? -std::floor(-v + 0.5L) : std::floor(v + 0.5L);
  // Held at the counter's limits: converting a value beyond them is undefined.
  constexpr long double kLimit = 9223372036854775808.0L;  // 2^63
  if (r >= kLimit) return std::numeric_limits<int64_t>::max();
  if (r < -kLimit) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(r);
}

std::string FormatFixed(long double v, int decimals) {
  if (decimals < 0) decimals = 0;
  if (decimals > 18) decimals = 18;
  if (!std::isfinite(v)) v = 0;
  char buf[128];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  if (res.ec != std::errc()) return "0";
  std::string s(buf, res.ptr);
  // "-0.000" reads as a negative number to people and parsers; drop the sign.
  if (!s.empty() && s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  return s;
}

std::string FormatCoord(long double v) {
  return FormatFixed(v, 6);
}

long double ParseFloatDot(std::string_view text, long double def) {
  text = Trim(text);
  if (text.empty() || text.size() > 256) return def;
  char buf[260];
  size_t n = 0;
  size_t i = 0;
  if (text[0] == '+') i = 1;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    buf[n++] = c == ',' ? '.' : c;
  }
  double v = 0;
  auto res = std::from_chars(buf, buf + n, v, std::chars_format::general);
  if (res.ec != std::errc() || res.ptr != buf + n || !std::isfinite(v)) return def;
  return v;
}

int64_t ParseInt(std::string_view text, int64_t def) {
  text = Trim(text);
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  int64_t v = 0;
  auto res = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || res.ec != std::errc() || res.ptr != text.data() + text.size()) return def;
  return v;
}

// ---- geometry -------------------------------------------------------------

long double Distance(long double lat1, long double lon1, long double lat2, long double lon2) {
  if (lat1 == lat2 && lon1 == lon2) return 0;
  const long double p1 = lat1 * kDeg, p2 = lat2 * kDeg, dl = (lon2 - lon1) * kDeg;
  long double c = std::sin(p1) * std::sin(p2) + std::cos(p1) * std::cos(p2) * std::cos(dl);
  c = std::clamp(c, -1.0L, 1.0L);
  const long double d = kEarthRadius * std::acos(c);
  return d > 0 ? d : 0;
}

long double Bearing(long double lat1, long double lon1, long double lat2, long double lon2) {
  const long double p1 = lat1 * kDeg, p2 = lat2 * kDeg, dl = (lon2 - lon1) * kDeg;
  const long double y = std::sin(dl) * std::cos(p2);
  const long double x = std::cos(p1) * std::sin(p2) - std::sin(p1) * std::cos(p2) * std::cos(dl);
  long double b = std::atan2(y, x) / kDeg;
  if (b < 0) b += 360;
  if (b >= 360) b -= 360;
  return b;
}

long double EllipseRadius(long double a, long double b, long double theta) {
  if (!(a > 0)) a = 1;
  if (!(b > 0)) b = 1;
  const long double t = theta * kDeg;
  const long double x = std::sin(t) / a, y = std::cos(t) / b;
  return 1.0L / std::sqrt(x * x + y * y);
}

TLonLat DestinationPoint(long double lon, long double lat, long double bearing,
                         long double distance) {
  const long double d = distance / kEarthRadius;
  const long double br = bearing * kDeg;
  const long double p1 = lat * kDeg, l1 = lon * kDeg;
  const long double p2 = std::asin(std::clamp(
      std::sin(p1) * std::cos(d) + std::cos(p1) * std::sin(d) * std::cos(br), -1.0L, 1.0L));
  const long double l2 = l1 + std::atan2(std::sin(br) * std::sin(d) * std::cos(p1),
                                         std::cos(d) - std::sin(p1) * std::sin(p2));
  long double outLon = l2 / kDeg;
  outLon = std::fmod(outLon + 540.0L, 360.0L);
  if (outLon < 0) outLon += 360.0L;
  outLon -= 180.0L;
  return {outLon, p2 / kDeg};
}

// ---- strings --------------------------------------------------------------

std::string SplitFirst(std::string &s, std::string_view sep) {
  const size_t p = sep.empty() ? std::string::npos : s.find(sep);
  std::string head;
  if (p == std::string::npos) {
    head.swap(s);
    return head;
  }
  head = s.substr(0, p);
  s.erase(0, p + sep.size());
  return head;
}

bool NextParam(std::string &query, std::string &key, std::string &value) {
  if (query.empty()) return false;
  std::string pair = SplitFirst(query, "&");
  key = SplitFirst(pair, "=");
  value = pair;
  return true;
}

std::string ToLowerAscii(std::string_view s) {
  std::string r(s);
  for (char &c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

std::string ToUpperAscii(std::string_view s) {
  std::string r(s);
  for (char &c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

static char LowerChar(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerChar(a[i]) != LowerChar(b[i])) return false;
  return true;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && EqualsNoCase(s.substr(s.size() - suffix.size()), suffix);
}

std::string_view Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

std::vector<std::string> SplitString(std::string_view s, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    const size_t p = s.find(sep, start);
    if (p == std::string_view::npos) {
      out.emplace_back(s.substr(start));
      return out;
    }
    out.emplace_back(s.substr(start, p - start));
    start = p + 1;
  }
}

}  // namespace tachora
