#include "telemetry/UnitGpsConverterNMEA.h"

#include <cmath>
#include <cstring>

#include "telemetry/UnitNmea.h"
#include "telemetry/UnitTrackText.h"

namespace tachora {

namespace {

constexpr int32_t kDayMs = 86400000;

// The lines of a text (CR LF, LF or CR ends), empty ones skipped.
template <typename Fn>
void ForEachLine(std::string_view text, Fn fn) {
  const char *const base = text.data();
  const size_t n = text.size();
  size_t pos = 0;
  size_t nextLf = 0;  // the next LF at or after pos (n: none), found once
  bool lfKnown = false;
  while (pos < n) {
    while (pos < n && (text[pos] == '\r' || text[pos] == '\n')) ++pos;
    if (pos >= n) break;
    if (!lfKnown || nextLf < pos) {
      const void *hit = std::memchr(base + pos, '\n', n - pos);
      nextLf = hit ? static_cast<size_t>(static_cast<const char *>(hit) - base) : n;
      lfKnown = true;
    }
    size_t end = nextLf;
    // A CR also ends a line (CR LF, or CR alone in old Mac files).
    if (const void *cr = std::memchr(base + pos, '\r', end - pos))
      end = static_cast<size_t>(static_cast<const char *>(cr) - base);
    if (!fn(text.substr(pos, end - pos))) return;
    pos = end;
  }
}

// A line of a satellite receiver's sentence (the checksum may be wrong: the
// text is NMEA all the same).
bool IsReceiverLine(std::string_view line, TNmeaSentence &s) {
  return ParseNmeaSentence(line, s) != TNmeaLine::NotNmea && IsGnssTalker(s.Talker);
}

// The first dated sentence of the text (an RMC or ZDA with a date), for
// the sentences before it that have none.
bool FirstDate(std::string_view text, int32_t &date, int32_t &timeMs) {
  TNmeaSentence s;
  TNmeaFix fix;
  bool found = false;
  ForEachLine(text, [&](std::string_view line) {
    if (line.find("RMC,") == std::string_view::npos && line.find("ZDA,") == std::string_view::npos)
      return true;
    if (ParseNmeaSentence(line, s) == TNmeaLine::Sentence && DecodeNmeaFix(s, fix) &&
        fix.Date > 0 && fix.TimeMs >= 0) {
      date = fix.Date;
      timeMs = fix.TimeMs;
      found = true;
      return false;
    }
    return true;
  });
  return found;
}

// A local date-time as a UTC date and time of day.
void SplitUtc(double local, int32_t &date, int32_t &timeMs) {
  const double utc = local - LocalTimeOffset();
  date = static_cast<int32_t>(std::floor(utc));
  timeMs = static_cast<int32_t>(std::llround((utc - date) * kMsPerDay));
  if (timeMs >= kDayMs) {
    ++date;
    timeMs -= kDayMs;
  }
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

double DateTimeFromFileName(std::string_view path) {
  const size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  for (size_t i = 0; i < name.size(); ++i) {
    if (!IsDigit(name[i]) || (i > 0 && IsDigit(name[i - 1]))) continue;
    // A run of digits with single "_" or "-" between groups.
    char d[16];
    size_t n = 0, j = i;
    while (j < name.size() && n < 14) {
      if (IsDigit(name[j])) {
        d[n++] = name[j++];
      } else if ((name[j] == '_' || name[j] == '-') && j + 1 < name.size() &&
                 IsDigit(name[j + 1])) {
        ++j;
      } else {
        break;
      }
    }
    auto num = [&](size_t at, size_t len) {
      int v = 0;
      for (size_t k = at; k < at + len; ++k) v = v * 10 + (d[k] - '0');
      return v;
    };
    for (const size_t len : {size_t{14}, size_t{12}}) {
      if (n < len) continue;
      const size_t y = len == 14 ? 4 : 2;
      const int year = len == 14 ? num(0, 4) : 2000 + num(0, 2);
      const int month = num(y, 2), day = num(y + 2, 2);
      const int hour = num(y + 4, 2), minute = num(y + 6, 2), second = num(y + 8, 2);
      if (year >= 1990 && year <= 2099 && IsValidDate(year, month, day) &&
          IsValidTime(hour, minute, second, 0))
        return EncodeDate(year, month, day) + EncodeTime(hour, minute, second, 0);
    }
  }
  return 0;
}

bool TGpsInfoConverterNMEA::CanRead(std::string_view header) {
  TNmeaSentence s;
  bool found = false;
  ForEachLine(header, [&](std::string_view line) {
    found = IsReceiverLine(line, s);
    return !found;
  });
  return found;
}

bool TGpsInfoConverterNMEA::Read(std::string_view text, TTrackSink &sink) {
  TNmeaTrackBuilder builder;
  int32_t date = 0, timeMs = -1;
  if (FirstDate(text, date, timeMs)) {
    builder.SeedDate(date, timeMs);
  } else {
    // Sentences without any date: the recording's time in the file's name,
    // else the file's last-write time (a logger closes its file at the end
    // of the drive; the midnight rule places the earlier times).
    const double named = DateTimeFromFileName(sink.Path);
    const double local = named > 0 ? named : sink.Modified;
    if (local > 0) {
      SplitUtc(local, date, timeMs);
      builder.SeedDate(date, timeMs);
    }
  }
  // About 70 bytes a sentence, two sentences a fix in most logs.
  sink.Expect(text.size() / 140 + 16);

  TNmeaSentence s;
  TNmeaFix fix;
  TTrackRecord rec;
  size_t lines = 0, nmea = 0;
  bool foreign = false;
  auto take = [&](const TTrackRecord &r) {
    if (r.Lon != 0 && r.Lat != 0 && IsFixInRange(r)) sink.Add(r);
  };
  ForEachLine(text, [&](std::string_view line) {
    ++lines;
    const TNmeaLine kind = ParseNmeaSentence(line, s);
    if (kind != TNmeaLine::NotNmea) ++nmea;
    if (kind == TNmeaLine::Sentence && DecodeNmeaFix(s, fix) && builder.Add(fix, rec)) take(rec);
    if (sink.Overflowed()) return false;
    // Not NMEA: nothing in the first lines, or fewer than half of them
    // later on. Sentences without a fix count as NMEA.
    if ((nmea == 0 && lines > 8) || (lines > 32 && nmea < lines / 2)) {
      foreign = true;
      return false;
    }
    return true;
  });
  if (!foreign && !sink.Overflowed() && builder.Finish(rec)) take(rec);
  if (foreign || sink.Overflowed()) sink.Clear();
  return sink.Count() > 0;
}

// ---- writing -------------------------------------------------------------------

namespace {

void Two(std::string &b, int v) {
  b += static_cast<char>('0' + v / 10 % 10);
  b += static_cast<char>('0' + v % 10);
}

// |degrees| as NMEA ddmm.mmmmmm (dddmm.mmmmmm with 3 degree digits): six
// decimals of a minute keep the six decimals of a degree that the other
// formats carry.
void AppendNmeaCoord(std::string &b, long double v, int degreeDigits) {
  const long long micro = std::llround(std::fabs(static_cast<double>(v)) * 60e6);
  const long long degrees = micro / 60000000, rest = micro % 60000000;
  if (degreeDigits == 3) b += static_cast<char>('0' + degrees / 100 % 10);
  Two(b, static_cast<int>(degrees % 100));
  Two(b, static_cast<int>(rest / 1000000));
  b += '.';
  char frac[6];
  long long f = rest % 1000000;
  for (int i = 5; i >= 0; --i, f /= 10) frac[i] = static_cast<char>('0' + f % 10);
  b.append(frac, 6);
}

// Closes the sentence begun at `start` ("$...") with "*hh" and CR LF.
void EndSentence(std::string &b, size_t start) {
  uint8_t sum = 0;
  for (size_t i = start + 1; i < b.size(); ++i) sum ^= static_cast<uint8_t>(b[i]);
  static constexpr char kHex[] = "0123456789ABCDEF";
  b += '*';
  b += kHex[sum >> 4];
  b += kHex[sum & 15];
  b += "\r\n";
}

template <typename Items>
void WriteNmea(std::string &b, const Items &items) {
  std::string time, position;
  for (const auto &r : items) {
    if (!IsGpsItem(r)) continue;
    int32_t date = 0, ms = 0;
    SplitUtc(r.Time, date, ms);
    const TDateParts d = DecodeDateTime(date);
    time.clear();
    Two(time, ms / 3600000);
    Two(time, ms / 60000 % 60);
    Two(time, ms / 1000 % 60);
    time += '.';
    time += static_cast<char>('0' + ms / 100 % 10);
    time += static_cast<char>('0' + ms / 10 % 10);
    time += static_cast<char>('0' + ms % 10);
    position.clear();
    AppendNmeaCoord(position, r.Lat, 2);
    position += r.Lat < 0 ? ",S," : ",N,";
    AppendNmeaCoord(position, r.Lon, 3);
    position += r.Lon < 0 ? ",W" : ",E";

    size_t start = b.size();
    b += "$GPGGA,";
    b += time;
    b += ',';
    b += position;
    b += ",1,,,";
    if (r.Altitude != 0) AppendFixed(b, r.Altitude, 1);
    b += ",M,,M,,";
    EndSentence(b, start);
    start = b.size();
    b += "$GPRMC,";
    b += time;
    b += ",A,";
    b += position;
    b += ',';
    if (r.Speed >= 0) AppendFixed(b, r.Speed / 1.852L, 3);
    b += ',';
    if (r.Course >= 0) AppendFixed(b, r.Course, 2);
    b += ',';
    Two(b, d.day);
    Two(b, d.month);
    Two(b, d.year % 100);
    b += ",,,A";
    EndSentence(b, start);
  }
}

}  // namespace

void TGpsInfoConverterNMEA::Write(const TTrackInfo &info) {
  WriteNmea(Buffer, info.Items);
}

void TGpsInfoConverterNMEA::WritePoints(const TTrackInfo &, const std::vector<TGpsPoint> &points) {
  WriteNmea(Buffer, points);
}

}  // namespace tachora
