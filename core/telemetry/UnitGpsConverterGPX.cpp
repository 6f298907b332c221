#include "telemetry/UnitGpsConverterGPX.h"

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "telemetry/UnitTrackText.h"

namespace tachora {

namespace {

bool IsValueStop(char c) {
  return c == '"' || c == '<' || c == '=' || c == '>';
}

// The first `what` (two characters or more) in `text` at or after `from`,
// or npos. Sixteen places are tested at once for the needle's first and last
// characters, and only where both match is the rest compared: a point block
// is searched a dozen times, so a search must cost no set-up (memmem builds
// a table per call) and no call per candidate character.
size_t Find(std::string_view text, std::string_view what, size_t from) {
  const size_t n = text.size(), m = what.size();
  if (from > n || n - from < m) return std::string_view::npos;
  const char *base = text.data();
  const char *rest = what.data() + 1;
  size_t i = from;
#ifdef __SSE2__
  const __m128i first = _mm_set1_epi8(what[0]);
  const __m128i last = _mm_set1_epi8(what[m - 1]);
  for (; i + m - 1 + 16 <= n; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(base + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(base + i + m - 1));
    auto mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
    while (mask != 0) {
      const size_t at = i + static_cast<size_t>(__builtin_ctz(mask));
      if (std::memcmp(base + at + 1, rest, m - 2) == 0) return at;
      mask &= mask - 1;
    }
  }
#endif
  for (; i + m <= n; ++i)
    if (base[i] == what[0] && std::memcmp(base + i + 1, rest, m - 1) == 0) return i;
  return std::string_view::npos;
}

// The value after the first occurrence of `name` in a point block: the
// characters right after the name that are quote, "<", "=" or ">" are
// skipped, and the value runs to the next such character. This reads both
// attributes (lat="55.1") and elements (<ele>120</ele>).
std::string_view Value(std::string_view block, std::string_view name) {
  const size_t at = Find(block, name, 0);
  if (at == std::string_view::npos) return {};
  size_t b = at + name.size();
  while (b < block.size() && IsValueStop(block[b])) ++b;
  size_t e = b;
  while (e < block.size() && !IsValueStop(block[e])) ++e;
  return block.substr(b, e - b);
}

}  // namespace

void TGpsInfoConverterGPX::CharSets(TCharSet &required, TCharSet &forbidden) const {
  required.reset();
  forbidden.reset();
  for (const char c : {'"', '/', '<', '=', '>'}) required[static_cast<unsigned char>(c)] = true;
}

bool TGpsInfoConverterGPX::Read(std::string_view text, TTrackSink &sink) {
  constexpr std::string_view kOpen = "<trkpt ", kClose = "</trkpt>";
  if (text.size() <= 16) return false;
  // Scanning stops 16 characters before the end of the text.
  const std::string_view scan = text.substr(0, text.size() - 16);
  size_t pos = 0;
  while (!sink.Overflowed()) {
    const size_t open = Find(scan, kOpen, pos);
    if (open == std::string_view::npos) break;
    const size_t from = open + kOpen.size();
    const size_t close = Find(scan, kClose, from);
    // No closing tag further on: no later block can have one either.
    if (close == std::string_view::npos) break;
    pos = close + kClose.size();
    const std::string_view block = scan.substr(from, close - from);
    try {
      TTrackRecord r;
      r.Kind = kRecordGps;
      r.Lat = ParseNumber(Value(block, "lat"), 0);
      r.Lon = ParseNumber(Value(block, "lon"), 0);
      r.Altitude = ParseNumber(Value(block, "ele"), 0);
      r.Time = ParseFixedDateTime(Value(block, "time"));
      if (r.Lon == 0 || r.Lat == 0 || !IsFixInRange(r)) continue;
      r.Time = UtcToLocal(r.Time);
      r.Course = ParseNumber(Value(block, "course"), -1);
      r.Speed = ParseNumber(Value(block, "speed"), -1);
      if (r.Speed > 0) r.Speed *= 3.6L;  // m/s -> km/h
      sink.Add(r);
    } catch (...) {
      // A block that fails is skipped.
    }
  }
  if (sink.Overflowed()) sink.Clear();
  return sink.Count() > 0;
}

namespace {

template <typename Items>
void WriteGpx(std::string &b, const TTrackInfo &info, const Items &items) {
  const std::string start = Stamp(LocalToUtc(info.StartTime));
  b += "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<gpx\r\n";
  b += " version=\"1.0\"\r\n";
  b += " creator=\"Tachora 2.6\"\r\n";
  b += " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"\r\n";
  b += " xmlns=\"http://www.topografix.com/GPX/1/0\"\r\n";
  b += " xsi:schemaLocation=\"http://www.topografix.com/GPX/1/0 "
       "http://www.topografix.com/GPX/1/0/gpx.xsd\">\r\n";
  b += "<time>" + start + "</time>\r\n";
  b += "<bounds minlat=\"" + FormatCoord(info.MinLat) + "\" minlon=\"" + FormatCoord(info.MinLon) +
       "\" maxlat=\"" + FormatCoord(info.MaxLat) + "\" maxlon=\"" + FormatCoord(info.MaxLon) +
       "\"/>\r\n";
  b += "<trk>\r\n  <name>" + XmlEscape(info.Name) + "</name>\r\n";
  b += "  <desc>" + XmlEscape(info.Description) + "</desc>\r\n";
  b += "  <time>" + start + "</time>\r\n  <trkseg>\r\n";
  for (const auto &r : items) {
    if (!IsGpsItem(r)) continue;
    b += "\t<trkpt lat=\"";
    AppendCoord(b, r.Lat);
    b += "\" lon=\"";
    AppendCoord(b, r.Lon);
    b += "\">";
    if (r.Altitude != 0) {
      b += "<ele>";
      b += CutGeneral(r.Altitude, 1);
      b += "</ele>";
    }
    b += "<time>";
    AppendStamp(b, LocalToUtc(r.Time));
    b += "</time><course>";
    AppendInt(b, r.Course);
    b += "</course><speed>";
    b += CutGeneral(r.Speed / 3.6L, 2);
    b += "</speed></trkpt>\r\n";
  }
  b += "  </trkseg>\r\n</trk>\r\n</gpx>\r\n";
}

}  // namespace

void TGpsInfoConverterGPX::Write(const TTrackInfo &info) {
  WriteGpx(Buffer, info, info.Items);
}

void TGpsInfoConverterGPX::WritePoints(const TTrackInfo &info,
                                       const std::vector<TGpsPoint> &points) {
  WriteGpx(Buffer, info, points);
}

}  // namespace tachora
