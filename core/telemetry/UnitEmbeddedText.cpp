// Telemetry as text inside recordings: NMEA sentences in text and subtitle
// tracks (with or without '$', one or more per sample, the Thinkware
// "gsensori" record beside them), Garmin PNDM samples, and the BlackVue
// `gps ` (bracketed camera-clock stamps + NMEA) and `3gf ` records, which
// the older models also write as `.gps`/`.3gf` files beside the video.
// Sentences go through the shared NMEA parser and epoch builder.
//
// Sources: ExifTool's QuickTimeStream.pl (text-track handling, Thinkware,
// PNDM) and QuickTime.pm (the Pittasoft `free` box); mapillary_tools'
// blackvue_parser.py and blackclue (the `gps ` lines and `3gf ` records).
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

uint32_t U32BE(const uint8_t *p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// Hands a record of the epoch builder (local time) on as a fix in UTC.
bool TakeRecord(const TTrackRecord &r, TEmbeddedTrack &t) {
  return AddFix(t, LocalToUtc(r.Time), static_cast<double>(r.Lat), static_cast<double>(r.Lon),
                static_cast<double>(r.Altitude), static_cast<double>(r.Speed),
                static_cast<double>(r.Course));
}

}  // namespace

bool AddNmeaSentence(std::string_view s, TNmeaState &state, TEmbeddedTrack &t, int64_t *stampMs) {
  // Thinkware and others leave out the '$'.
  if (s.size() > 6 && s[0] != '$' && s[0] != '[' && s[5] == ',') {
    state.Line.assign(1, '$');
    state.Line.append(s);
    s = state.Line;
  }
  TNmeaSentence sentence;
  TNmeaFix fix;
  if (ParseNmeaSentence(s, sentence) != TNmeaLine::Sentence || !DecodeNmeaFix(sentence, fix))
    return false;
  int64_t closed = state.EpochStampMs;
  if (fix.TimeMs >= 0 && fix.TimeMs != state.EpochTimeMs) {
    state.EpochTimeMs = fix.TimeMs;
    state.EpochStampMs = sentence.StampMs;
  } else {
    closed = -1;
  }
  TTrackRecord rec;
  if (!state.Builder.Add(fix, rec) || !TakeRecord(rec, t)) return false;
  if (stampMs) *stampMs = closed;
  return true;
}

bool FinishNmea(TNmeaState &state, TEmbeddedTrack &t, int64_t *stampMs) {
  TTrackRecord rec;
  if (!state.Builder.Finish(rec) || !TakeRecord(rec, t)) return false;
  if (stampMs) *stampMs = state.EpochStampMs;
  return true;
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
    if (piece.size() > 6 && piece[5] == ',') {
      AddNmeaSentence(piece, state, t);
    } else if (piece.rfind("gsensori,", 0) == 0) {
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
  t.Bytes += static_cast<int64_t>(sample.size());
  // The subtitle length prefix.
  if (sample.size() >= 2 && size_t(b[0] << 8 | b[1]) == sample.size() - 2) {
    sample.remove_prefix(2);
    b += 2;
  }
  // Garmin PNDM: optional 4-byte size, "PNDM", then mph and semicircles;
  // the sample's time is the fix's.
  const size_t p = sample.substr(0, 8).find("PNDM");
  if (p != std::string_view::npos && sample.size() >= p + 20) {
    const double mph = (b[p + 8] << 8 | b[p + 9]);
    const uint32_t lat = U32BE(b + p + 12), lon = U32BE(b + p + 16);
    constexpr double kSemicircle = 180.0 / 2147483648.0;
    if (lat != 0x80000000u && sampleUtc > 0)
      AddFix(t, sampleUtc, static_cast<int32_t>(lat) * kSemicircle,
             static_cast<int32_t>(lon) * kSemicircle, 0, mph * kMphToKmh, -1);
    if (t.Format.empty()) t.Format = "Garmin PNDM";
    return;
  }
  ReadNmeaText(sample, state, t);
}

void ReadBlackVue(std::string_view gps, std::string_view accel, TEmbeddedTrack &t) {
  // "[ms]$GPRMC,...": the stamps are the camera's clock and only place the
  // lines among the accelerometer records; the NMEA times are UTC and win.
  if (const size_t nul = gps.find('\0'); nul != std::string_view::npos) gps = gps.substr(0, nul);
  t.Bytes += static_cast<int64_t>(gps.size() + accel.size());
  TNmeaState state;
  TEmbeddedTrack fixes;
  std::vector<int64_t> at;  // each fix's stamp, ms from the first stamp
  int64_t first = -1;
  auto place = [&](int64_t stamp) {
    if (stamp >= 0 && first < 0) first = stamp;
    at.push_back(stamp >= 0 && first >= 0 ? stamp - first : (at.empty() ? 0 : at.back()));
  };
  size_t pos = 0;
  while (pos < gps.size()) {
    size_t eol = gps.find_first_of("\r\n", pos);
    if (eol == std::string_view::npos) eol = gps.size();
    const std::string_view line = gps.substr(pos, eol - pos);  // a second stamp may end it
    pos = eol + 1;
    int64_t stamp = -1;
    if (AddNmeaSentence(line, state, fixes, &stamp)) place(stamp);
  }
  int64_t stamp = -1;
  if (FinishNmea(state, fixes, &stamp)) place(stamp);
  // The accelerometer records, ms from the recording's start, laid among
  // the fixes by time.
  const auto *b = reinterpret_cast<const uint8_t *>(accel.data());
  size_t next = 0;
  auto fixesUpTo = [&](int64_t ms) {
    for (; next < fixes.Items.size() && (ms < 0 || at[next] <= ms); ++next)
      t.Items.push_back(fixes.Items[next]);
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
