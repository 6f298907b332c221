#include "telemetry/UnitGpsConverterGPX.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

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
// a table per call) and no call per candidate character. The 16 characters
// after `text` must be readable (the scan never reaches the text's last 16
// characters), so that the end is searched sixteen places at a time too.
size_t Find(std::string_view text, std::string_view what, size_t from) {
  const size_t n = text.size(), m = what.size();
  if (from > n || n - from < m) return std::string_view::npos;
  const char *base = text.data();
  const size_t lastStart = n - m;  // the last place the needle fits
  auto rest = [&](size_t at) {
    for (size_t k = 1; k + 1 < m; ++k)
      if (base[at + k] != what[k]) return false;
    return true;
  };
#ifdef __SSE2__
  const __m128i first = _mm_set1_epi8(what[0]);
  const __m128i last = _mm_set1_epi8(what[m - 1]);
  for (size_t i = from; i <= lastStart; i += 16) {
    // Reads up to base[lastStart + m - 1 + 15] = base[n + 14].
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(base + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(base + i + m - 1));
    auto mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
    if (lastStart - i < 15) mask &= (2u << (lastStart - i)) - 1;  // places past lastStart
    while (mask != 0) {
      const size_t at = i + static_cast<size_t>(__builtin_ctz(mask));
      if (rest(at)) return at;
      mask &= mask - 1;
    }
  }
  return std::string_view::npos;
#else
  for (size_t i = from; i <= lastStart; ++i)
    if (base[i] == what[0] && base[i + m - 1] == what[m - 1] && rest(i)) return i;
  return std::string_view::npos;
#endif
}

// The value after the first occurrence of `name` in a point block: the
// characters right after the name that are quote, "<", "=" or ">" are
// skipped, and the value runs to the next such character. This reads both
// attributes (lat="55.1") and elements (<ele>120</ele>).
std::string_view Value(std::string_view block, std::string_view name) {
  const size_t at = Find(block, name, 0);
  if (at == std::string_view::npos) return {};
  size_t b = at + name.size();
  const size_t n = block.size();
  while (b < n && IsValueStop(block[b])) ++b;
  size_t e = b;
#ifdef __SSE2__
  // Sixteen characters at a time, as Find reads them: the 15 after the
  // block are readable.
  const __m128i quote = _mm_set1_epi8('"'), lt = _mm_set1_epi8('<'), eq = _mm_set1_epi8('='),
                gt = _mm_set1_epi8('>');
  for (; e < n; e += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block.data() + e));
    const __m128i stop = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(a, quote), _mm_cmpeq_epi8(a, lt)),
                                      _mm_or_si128(_mm_cmpeq_epi8(a, eq), _mm_cmpeq_epi8(a, gt)));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(stop));
    if (n - e < 16) mask &= (1u << (n - e)) - 1;
    if (mask != 0) {
      e += static_cast<size_t>(__builtin_ctz(mask));
      return block.substr(b, e - b);
    }
  }
  e = n;
#else
  while (e < n && !IsValueStop(block[e])) ++e;
#endif
  return block.substr(b, e - b);
}

}  // namespace

void TGpsInfoConverterGPX::CharSets(TCharSet &required, TCharSet &forbidden) const {
  required.reset();
  forbidden.reset();
  for (const char c : {'"', '/', '<', '=', '>'}) required[static_cast<unsigned char>(c)] = true;
}

namespace {

constexpr std::string_view kOpen = "<trkpt ", kClose = "</trkpt>";

// One point block (the text between "<trkpt " and "</trkpt>") into the sink.
void AddBlock(std::string_view block, TTrackSink &sink) {
  try {
    TTrackRecord r;
    r.Kind = kRecordGps;
    r.Lat = ParseNumber(Value(block, "lat"), 0);
    r.Lon = ParseNumber(Value(block, "lon"), 0);
    r.Altitude = ParseNumber(Value(block, "ele"), 0);
    r.Time = ParseFixedDateTime(Value(block, "time"));
    if (r.Lon == 0 || r.Lat == 0 || !IsFixInRange(r)) return;
    r.Time = UtcToLocal(r.Time);
    r.Course = r.Speed = -1;
    if (!sink.PositionsOnly) {
      r.Course = ParseNumber(Value(block, "course"), -1);
      r.Speed = ParseNumber(Value(block, "speed"), -1);
      if (r.Speed > 0) r.Speed *= 3.6L;  // m/s -> km/h
    }
    sink.Add(r);
  } catch (...) {
    // A block that fails is skipped.
  }
}

// The scan for point blocks over the text but its last 16 characters,
// given whole (final) or as growing windows of it while a file is read:
// a window ends the scan where the text it has so far cannot decide, and
// the next, longer one goes on from there with the same result.
class TBlockScan {
 public:
  // Offsets are into the window; Drop moves them when its start is cut.
  void Run(std::string_view w, TTrackSink &sink, bool final) {
    while (!sink.Overflowed()) {
      if (open_ == npos) {
        const size_t open = Find(w, kOpen, pos_);
        if (open == npos) {
          // An opening tag may still start in the last 6 characters.
          if (!final) pos_ = std::max(pos_, w.size() >= kOpen.size() ? w.size() - 6 : 0);
          return;
        }
        open_ = open;
        closeFrom_ = open + kOpen.size();
      }
      const size_t close = Find(w, kClose, closeFrom_);
      if (close == npos) {
        // No closing tag further on: no later block can have one either.
        if (final)
          done_ = true;
        else
          closeFrom_ = std::max(closeFrom_, w.size() >= kClose.size() ? w.size() - 7 : 0);
        return;
      }
      const size_t from = open_ + kOpen.size();
      AddBlock(w.substr(from, close - from), sink);
      pos_ = close + kClose.size();
      open_ = npos;
    }
  }
  bool Done() const { return done_; }
  // The first offset the scan still needs.
  size_t Needed() const { return open_ != npos ? open_ : pos_; }
  void Drop(size_t n) {
    pos_ -= std::min(pos_, n);
    if (open_ != npos) open_ -= n;
    closeFrom_ -= std::min(closeFrom_, n);
  }

 private:
  static constexpr size_t npos = std::string_view::npos;
  size_t pos_ = 0;        // where the next opening tag is looked for
  size_t open_ = npos;    // an opening tag whose closing tag is not yet found
  size_t closeFrom_ = 0;  // where the search for that closing tag goes on
  bool done_ = false;
};

constexpr size_t kTail = 16;  // characters at the end of the text that are never scanned

}  // namespace

bool TGpsInfoConverterGPX::Read(std::string_view text, TTrackSink &sink) {
  if (text.size() <= kTail) return false;
  TBlockScan scan;
  scan.Run(text.substr(0, text.size() - kTail), sink, true);
  if (sink.Overflowed()) sink.Clear();
  return sink.Count() > 0;
}

bool TGpsInfoConverterGPX::ReadFile(int fd, size_t size, TTrackSink &sink) {
  constexpr size_t kPiece = 1u << 20;
  TBlockScan scan;
  // The text from where the scan still needs it: [0, used) of a buffer that
  // is reused (not cleared) for every piece and grows only for a block
  // longer than a piece.
  size_t capacity = 2 * kPiece, used = 0;
  std::unique_ptr<char[]> buf(new char[capacity]);
  size_t total = 0;
  bool end = false;
  while (!end && !scan.Done() && !sink.Overflowed()) {
    const size_t needed = std::min(scan.Needed(), used);
    if (needed > 0) {
      std::memmove(buf.get(), buf.get() + needed, used - needed);
      used -= needed;
      scan.Drop(needed);
    }
    const size_t want = std::min(kPiece, size - total);
    if (used + want > capacity) {
      capacity = 2 * (used + want);
      std::unique_ptr<char[]> bigger(new char[capacity]);
      std::memcpy(bigger.get(), buf.get(), used);
      buf = std::move(bigger);
    }
    ssize_t r = 0;
    do {
      r = want > 0 ? ::read(fd, buf.get() + used, want) : 0;
    } while (r < 0 && errno == EINTR);
    if (r <= 0) r = 0;
    used += static_cast<size_t>(r);
    total += static_cast<size_t>(r);
    end = r == 0 || total == size;
    // The last 16 characters read are held back until they are known not
    // to be the last of the text.
    if (used > kTail) scan.Run(std::string_view(buf.get(), used - kTail), sink, end);
    // After the first piece, the rest is expected to hold points as densely
    // (a few more, so that the estimate is seldom short).
    if (total == want && !end && sink.Count() > 0)
      sink.Expect(sink.Count() + sink.Count() * (size - total) / total * 21 / 20 + 64);
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
    b += "</time>";
    // A point without a course or speed (a logger's GPX, a recorder that
    // writes none) leaves the element out: -1 is no value a reader takes.
    if (r.Course >= 0 && r.Course < 360) {
      b += "<course>";
      AppendInt(b, r.Course >= 359.5L ? 0 : r.Course);  // 359.7 is 0, not 360
      b += "</course>";
    }
    if (r.Speed >= 0) {
      b += "<speed>";
      b += CutGeneral(r.Speed / 3.6L, 2);
      b += "</speed>";
    }
    b += "</trkpt>\r\n";
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
