#include "telemetry/UnitGpsConverterDatSamoon.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

#include "telemetry/UnitTrackText.h"

namespace tachora {

// The header numbers that the recorders write on the first line, and the
// shift each stands for. The shifts avoid 1 and 4, which would turn a TAB
// into LF or CR, and stay small so that the shifted text keeps to printable
// bytes. A header not listed here makes the reader find the shift on the
// first data line instead.
const TGpsInfoConverterDatSamoon::THeaderShift TGpsInfoConverterDatSamoon::kHeaderShifts[5] = {
    {100200301, 2}, {100200302, 3}, {200300401, 5}, {200300402, 6}, {300400501, 7},
};

// Same knot factor as the DVR logs.
constexpr long double kSamoonKnot = 1.85325L;
// ParseNumber's default when a field must be told apart from a number.
constexpr long double kNotNumber = std::numeric_limits<long double>::quiet_NaN();

void TGpsInfoConverterDatSamoon::CharSets(TCharSet &required, TCharSet &forbidden) const {
  required.reset();
  forbidden.reset();
  required['\n'] = true;
  for (const char c : {'\0', '\t', '\r'}) forbidden[static_cast<unsigned char>(c)] = true;
}

bool TGpsInfoConverterDatSamoon::CanRead(std::string_view header) {
  if (!TGpsInfoConverter::CanRead(header)) return false;
  const size_t lf = header.find('\n');
  if (lf == std::string_view::npos || lf > 15) return false;
  return ParseInt(header.substr(0, lf), 0) != 0;
}

bool TGpsInfoConverterDatSamoon::Read(std::string_view text, TTrackSink &sink) {
  Shift = 0;  // per parse
  return TGpsInfoConverter::Read(text, sink);
}

int TGpsInfoConverterDatSamoon::FindShift(std::string_view raw) {
  static const TCharSet kAllowed = [] {
    TCharSet s;
    for (const char c : {'\t', '$', '*', ',', '-', '.', '/'})
      s[static_cast<unsigned char>(c)] = true;
    for (char c = '0'; c <= '9'; ++c) s[static_cast<unsigned char>(c)] = true;
    for (char c = 'A'; c <= 'Z'; ++c) s[static_cast<unsigned char>(c)] = true;
    return s;
  }();
  // Trial s scans the line in order and stops at the first byte that is
  // <= s (no shift at all) or that does not decode to an allowed character
  // (not this s). Which byte stops it depends only on where each byte value
  // first occurs, so one pass over the line serves all 129 trials: a long
  // line costs one scan, not one per trial.
  constexpr size_t kNone = std::string_view::npos;
  size_t first[256];
  std::fill(std::begin(first), std::end(first), kNone);
  for (size_t i = 0; i < raw.size(); ++i) {
    size_t &f = first[static_cast<unsigned char>(raw[i])];
    if (f == kNone) f = i;
  }
  for (int s = 0; s <= 128; ++s) {
    size_t stop = kNone;
    bool low = false;
    for (int b = 0; b < 256; ++b) {
      if (first[b] == kNone || first[b] >= stop) continue;
      if (b <= s || !kAllowed[static_cast<size_t>(b - s)]) {
        stop = first[b];
        low = b <= s;
      }
    }
    if (stop != kNone) {
      if (low) return 0;
      continue;
    }
    if (first['\t' + s] != kNone && first[',' + s] != kNone) return s;
  }
  return 0;
}

void TGpsInfoConverterDatSamoon::AddLine(std::string_view line, int index, TTrackSink &sink) {
  if (index == 0) {
    const int64_t header = ParseInt(line, 0);
    Shift = 0;
    for (const THeaderShift &h : kHeaderShifts)
      if (h.Header == header) Shift = h.Shift;
    return;
  }
  if (Shift == 0) Shift = FindShift(line);
  Decoded.assign(line);
  if (Shift != 0)
    for (char &c : Decoded) c = static_cast<char>(static_cast<unsigned char>(c) - Shift);
  const std::string_view text = Decoded;

  // X, Y, Z: the first three TAB fields. The recorder always writes them as
  // numbers; a line whose fields are not numbers is no sample (this is what
  // keeps a binary file named .dat, which reaches this reader through the
  // extension, from becoming a file of zero-g samples).
  size_t pos = 0;
  long double axis[3] = {0, 0, 0};
  bool numeric = true;
  for (int k = 0; k < 3; ++k) {
    if (pos > text.size()) {
      numeric = false;
      break;
    }
    size_t tab = text.find('\t', pos);
    const size_t end = tab == std::string_view::npos ? text.size() : tab;
    const long double v = ParseNumber(text.substr(pos, end - pos), kNotNumber);
    if (std::isnan(v)) numeric = false;
    axis[k] = numeric ? v / 1000 : 0;
    pos = tab == std::string_view::npos ? text.size() + 1 : tab + 1;
  }
  if (pos >= text.size()) return;  // no sentence after the sample

  static const TCharSet kComma = [] {
    TCharSet s;
    s[','] = true;
    return s;
  }();
  SplitFields(text.substr(pos), kComma);
  TTrackRecord g;
  const std::string_view name = Field(0);
  if (name == "$GPGGA") {
    // The sentence has no date: the file's last-write date stands in.
    const TDateParts d = DecodeDateTime(sink.Modified);
    char date[16];
    std::snprintf(date, sizeof date, "%02d%02d%02d", d.day % 100, d.month % 100, d.year % 100);
    g.Time = ParseNmeaDateTime(date, Field(1));
    g.Lat = ParseNmeaCoord(Field(2));
    if (Field(3) != "N") g.Lat = -g.Lat;
    g.Lon = ParseNmeaCoord(Field(4));
    if (Field(5) != "E") g.Lon = -g.Lon;
    g.Altitude = ParseNumber(Field(9), 0);
    g.Speed = -1;
    g.Course = -1;
  } else if (name == "$GPRMC") {
    g.Time = ParseNmeaDateTime(Field(9), Field(1));
    g.Lat = ParseNmeaCoord(Field(3));
    if (Field(4) != "N") g.Lat = -g.Lat;
    g.Lon = ParseNmeaCoord(Field(5));
    if (Field(6) != "E") g.Lon = -g.Lon;
    g.Altitude = 0;
    g.Speed = ParseNumber(Field(7), -1);
    if (g.Speed > 0) g.Speed *= kSamoonKnot;
    g.Course = ParseNumber(Field(8), -1);
  }
  if (numeric) {
    // The sample takes the time of the fix on its line (0 without one).
    TTrackRecord gs;
    gs.Kind = kRecordGsensor;
    gs.Time = g.Time;
    gs.X = static_cast<float>(axis[0]);
    gs.Y = static_cast<float>(axis[1]);
    gs.Z = static_cast<float>(axis[2]);
    if (!sink.Add(gs)) return;
  }
  // Like every other reader, a fix needs a position and a valid time.
  if ((g.Lon != 0 || g.Lat != 0) && IsFixInRange(g)) {
    g.Kind = kRecordGps;
    sink.Add(g);
  }
}

}  // namespace tachora
