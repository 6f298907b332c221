#include "telemetry/UnitTrackText.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/UnitUtils.h"

namespace tachora {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Digits at 0-based [pos, pos + len); a non-numeric part counts as 0.
int Digits(std::string_view s, size_t pos, size_t len) {
  if (pos + len > s.size()) return 0;
  int v = 0;
  for (size_t i = pos; i < pos + len; ++i) {
    if (!IsDigit(s[i])) return 0;
    v = v * 10 + (s[i] - '0');
  }
  return v;
}

// The number at 0-based [pos, pos + len), reading only the characters that
// exist: a part the text does not reach counts as 0, as does one with a
// character other than a digit.
int DigitsPresent(std::string_view s, size_t pos, size_t len) {
  if (pos >= s.size()) return 0;
  return Digits(s, pos, std::min(len, s.size() - pos));
}

// Leap seconds (":60") are taken as the next second rather than refused.
double EncodeChecked(int year, int month, int day, int hour, int minute, int second) {
  if (!IsValidDate(year, month, day)) return 0;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60) return 0;
  return EncodeDate(year, month, day) + EncodeTime(hour, minute, 0, 0) + second / kSecPerDay;
}

// A plain decimal ("-55.750166667", "37,6", "120") of at most 15 digits,
// as a double; false for any other text. Such a number and its power of ten
// are exact doubles, so one division gives the correctly rounded value: the
// same double as the general parser, without its cost.
bool ParsePlainDecimal(std::string_view s, double &out) {
  static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  size_t i = 0;
  const size_t n = s.size();
  bool negative = false;
  if (i < n && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  int64_t mantissa = 0;
  int digits = 0, decimals = 0;
  // Stops after 16 digits, before the sum could overflow; 16 are refused below.
  for (; i < n && IsDigit(s[i]) && digits <= 15; ++i, ++digits)
    mantissa = mantissa * 10 + (s[i] - '0');
  if (digits == 0) return false;
  if (i < n && (s[i] == '.' || s[i] == ',')) {
    ++i;
    for (; i < n && IsDigit(s[i]) && digits <= 15; ++i, ++digits, ++decimals)
      mantissa = mantissa * 10 + (s[i] - '0');
    if (decimals == 0) return false;
  }
  if (i != n || digits > 15) return false;
  const double v = static_cast<double>(mantissa) / kPow10[decimals];
  out = negative ? -v : v;
  return true;
}

}  // namespace

long double ParseNumber(std::string_view text, long double def) {
  double v;
  if (ParsePlainDecimal(text, v)) return v;
  return ParseFloatDot(text, def);
}

long double ParseHemisphereCoord(std::string_view text, char positive, long double def) {
  if (text.size() <= 2) return def;
  const long double v = ParseNumber(text.substr(1), def);
  return text[0] == positive ? v : -v;
}

long double ParseNmeaCoord(std::string_view text) {
  const long double v = ParseNumber(text, 0);
  const long double whole = std::trunc(v);
  const long double frac = v - whole;
  const long double degrees = std::trunc(whole / 100);
  return degrees + (whole - degrees * 100 + frac) / 60;
}

double ParseRecorderDateTime(std::string_view text) {
  size_t lead = 0;
  while (lead < text.size() && IsDigit(text[lead])) ++lead;
  if (lead > 4) text.remove_prefix(lead - 4);
  return ParseFixedDateTime(text);
}

double ParseFixedDateTime(std::string_view s) {
  if (s.size() <= 18) return 0;
  const int year = Digits(s, 0, 4), month = Digits(s, 5, 2), day = Digits(s, 8, 2);
  const int hour = Digits(s, 11, 2), minute = Digits(s, 14, 2), second = Digits(s, 17, 2);
  if (year <= 1900 || month == 0 || day == 0) return 0;
  return EncodeChecked(year, month, day, hour, minute, second);
}

double ParseNmeaDateTime(std::string_view date, std::string_view time) {
  date = Trim(date);
  time = Trim(time);
  const int day = DigitsPresent(date, 0, 2), month = DigitsPresent(date, 2, 2);
  const int yy = DigitsPresent(date, 4, 2);
  const int hour = DigitsPresent(time, 0, 2), minute = DigitsPresent(time, 2, 2);
  const int second = DigitsPresent(time, 4, 2);
  int year = 2000 + yy;
  if (year > 2080) year = 1900 + yy;
  const double utc = EncodeChecked(year, month, day, hour, minute, second);
  return utc == 0 ? 0 : utc + LocalTimeOffset();
}

std::string CutGeneral(long double v, int decimals) {
  double d = static_cast<double>(v);
  if (!std::isfinite(d)) d = 0;
  char buf[400];
  auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed);
  if (res.ec != std::errc()) return "0";
  std::string s(buf, res.ptr);
  const size_t dot = s.find('.');
  if (dot != std::string::npos) {
    if (decimals <= 0)
      s.erase(dot);
    else if (s.size() > dot + 1 + decimals)
      s.erase(dot + 1 + decimals);
  }
  if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  return s;
}

std::string Stamp(double t) {
  std::string s;
  AppendStamp(s, t);
  return s;
}

namespace {

constexpr uint64_t kPow10U[] = {
    1,        10,        100,        1000,           10000,           100000,          1000000,
    10000000, 100000000, 1000000000, 10000000000ULL, 100000000000ULL, 1000000000000ULL};
constexpr int kFastDecimals = 9;    // 10^9 * a 53-bit mantissa fits 128 bits
constexpr double kFastLimit = 1e9;  // the scaled value fits 64 bits

// "00" to "99": digits are written two at a time.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// A double's fixed notation with D decimals (|d| below kFastLimit) written
// from its exact binary value with integer arithmetic: d * 10^D rounded to
// nearest, ties to even, as to_chars does, for a tenth of its cost. A
// track's coordinates and times are written this way hundreds of thousands
// of times per file.
template <int D>
char *FixedFast(char *to, double d) {
  static_assert(D >= 0 && D <= kFastDecimals);
  constexpr uint64_t kScale = kPow10U[D];
  const auto bits = std::bit_cast<uint64_t>(d);
  const bool negative = (bits >> 63) != 0;
  const int exponent = static_cast<int>((bits >> 52) & 0x7ff);
  uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
  int shift = 1074;  // value = mantissa * 2^-shift
  if (exponent != 0) {
    mantissa |= uint64_t{1} << 52;
    shift = 1075 - exponent;
  }
  using u128 = unsigned __int128;
  const u128 scaled = static_cast<u128>(mantissa) * kScale;
  uint64_t q = 0;
  if (shift <= 0) {
    q = static_cast<uint64_t>(scaled << -shift);
  } else if (shift < 128) {
    q = static_cast<uint64_t>(scaled >> shift);
    const u128 rest = scaled & ((static_cast<u128>(1) << shift) - 1);
    const u128 half = static_cast<u128>(1) << (shift - 1);
    if (rest > half || (rest == half && (q & 1) != 0)) ++q;
  }  // else below 2^-75: rounds to 0
  // "-0.000" reads as a negative number to people and parsers: no sign then.
  if (negative && q != 0) *to++ = '-';
  uint64_t whole = q / kScale, fraction = q % kScale;
  int n = 1;  // digits before the point
  for (uint64_t w = whole; w >= 10; w /= 10) ++n;
  char *w = to + n;
  while (whole >= 10) {
    w -= 2;
    std::memcpy(w, kDigitPairs + 2 * (whole % 100), 2);
    whole /= 100;
  }
  if (w != to) *--w = static_cast<char>('0' + whole);
  to += n;
  if constexpr (D > 0) {
    *to++ = '.';
    int i = D;
    for (; i >= 2; i -= 2) {
      std::memcpy(to + i - 2, kDigitPairs + 2 * (fraction % 100), 2);
      fraction /= 100;
    }
    if (i == 1) to[0] = static_cast<char>('0' + fraction);
    to += D;
  }
  return to;
}

char *FixedFast(char *to, double d, int decimals) {
  switch (decimals) {
    case 0:
      return FixedFast<0>(to, d);
    case 1:
      return FixedFast<1>(to, d);
    case 2:
      return FixedFast<2>(to, d);
    case 3:
      return FixedFast<3>(to, d);
    case 4:
      return FixedFast<4>(to, d);
    case 5:
      return FixedFast<5>(to, d);
    case 6:
      return FixedFast<6>(to, d);
    case 7:
      return FixedFast<7>(to, d);
    case 8:
      return FixedFast<8>(to, d);
    default:
      return FixedFast<9>(to, d);
  }
}

}  // namespace

void AppendFixed(std::string &out, long double v, int decimals) {
  decimals = std::clamp(decimals, 0, 18);
  if (!std::isfinite(v)) v = 0;
  char buf[128];
  const double d = static_cast<double>(v);
  const bool exact = static_cast<long double>(d) == v;
  if (exact && decimals <= kFastDecimals && std::fabs(d) < kFastLimit) {
    out.append(buf, FixedFast(buf, d, decimals));
    return;
  }
  const auto res =
      exact ? std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed, decimals)
            : std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  if (res.ec != std::errc()) {
    out += '0';
    return;
  }
  const char *from = buf;
  // "-0.000" reads as a negative number to people and parsers; drop the sign.
  if (buf[0] == '-' && std::all_of(buf + 1, res.ptr, [](char c) { return c == '0' || c == '.'; }))
    ++from;
  out.append(from, static_cast<size_t>(res.ptr - from));
}

void AppendStamp(std::string &out, double t) {
  const TDateParts p = DecodeDateTime(t);
  char b[32];
  auto two = [](char *at, int v) {
    at[0] = static_cast<char>('0' + v / 10 % 10);
    at[1] = static_cast<char>('0' + v % 10);
  };
  auto r = std::to_chars(b, b + 12, p.year);
  char *q = r.ptr;
  *q++ = '-';
  two(q, p.month);
  q[2] = '-';
  two(q + 3, p.day);
  q[5] = 'T';
  two(q + 6, p.hour);
  q[8] = ':';
  two(q + 9, p.minute);
  q[11] = ':';
  two(q + 12, p.second);
  q[14] = 'Z';
  out.append(b, q + 15);
}

void AppendInt(std::string &out, long double v) {
  char b[24];
  const int64_t n = !std::isfinite(v) || std::fabs(v) > 9e18L ? 0 : RoundHalfAway(v);
  out.append(b, std::to_chars(b, b + sizeof b, n).ptr);
}

std::string XmlEscape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (const char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        // Control characters other than TAB, CR, LF are not allowed in XML 1.0.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\r' && c != '\n')
          out += ' ';
        else
          out += c;
    }
  }
  return out;
}

std::string IntText(long double v) {
  if (!std::isfinite(v) || std::fabs(v) > 9e18L) return "0";
  return std::to_string(RoundHalfAway(v));
}

}  // namespace tachora
