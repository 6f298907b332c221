#include "telemetry/UnitEmbeddedTelemetry.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/UnitUtils.h"
#include "container/UnitMOV.h"
#include "container/UnitMOVBoxes.h"
#include "telemetry/UnitEmbeddedReaders.h"

namespace tachora {

// ---- checks shared by the readers ------------------------------------------------

size_t TEmbeddedTrack::Fixes() const {
  return static_cast<size_t>(std::count_if(
      Items.begin(), Items.end(), [](const TTrackRecord &r) { return r.Kind == kRecordGps; }));
}

bool TEmbeddedTrack::HasFix() const {
  return std::any_of(Items.begin(), Items.end(),
                     [](const TTrackRecord &r) { return r.Kind == kRecordGps; });
}

bool DdmmToDegrees(double ddmm, double &degrees) {
  if (!std::isfinite(ddmm)) return false;
  const double a = std::fabs(ddmm);
  const double whole = std::floor(a / 100);
  const double minutes = a - whole * 100;
  if (minutes >= 60) return false;
  degrees = (whole + minutes / 60) * (ddmm < 0 ? -1 : 1);
  return true;
}

double FixTime(int year, int month, int day, int hour, int minute, double second) {
  if (year < 2000 || year > 2200 || !IsValidDate(year, month, day) || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || !(second >= 0 && second < 60))
    return 0;
  return EncodeDate(year, month, day) + (hour * 3600.0 + minute * 60.0 + second) / kSecPerDay;
}

bool AddFix(TEmbeddedTrack &t, double time, double lat, double lon, double altitude,
            double speedKmh, double course) {
  if (!(std::fabs(lat) <= 90) || !(std::fabs(lon) <= 180) || (lat == 0 && lon == 0) || !(time > 0))
    return false;
  TTrackRecord r;
  r.Kind = kRecordGps;
  r.Time = time;
  r.Lat = lat;
  r.Lon = lon;
  r.Altitude = std::isfinite(altitude) && std::fabs(altitude) < 20000 ? altitude : 0;
  // Impossible speeds and courses are unknown, not errors.
  r.Speed = std::isfinite(speedKmh) && speedKmh >= 0 && speedKmh < 2000 ? speedKmh : -1;
  r.Course = std::isfinite(course) && course >= 0 && course <= 360 ? std::fmod(course, 360.0) : -1;
  t.Items.push_back(r);
  return true;
}

void AddSample(TEmbeddedTrack &t, double x, double y, double z) {
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z) || std::fabs(x) > 64 ||
      std::fabs(y) > 64 || std::fabs(z) > 64)
    return;
  TTrackRecord r;
  r.Kind = kRecordGsensor;
  r.X = static_cast<float>(x);
  r.Y = static_cast<float>(y);
  r.Z = static_cast<float>(z);
  t.Items.push_back(r);
}

void FilterFixes(TEmbeddedTrack &t) {
  // The largest speed a car reaches between two fixes, m/s.
  constexpr double kMaxSpeed = 85;
  // A run of fixes this long that agree with each other but not with the
  // fixes before them stands: the fixes before were the stale ones.
  constexpr size_t kRun = 3;
  // Whether b lies further from a than the largest speed goes in the time
  // between them. Neighbours a second apart are tens of metres apart: a
  // flat-earth distance in double tells them to within far less than 1 %
  // while they stay within a degree of each other away from the poles, so
  // the trigonometry of the exact distance is left for the fixes near the
  // limit or far apart.
  auto tooFast = [](const TTrackRecord &a, const TTrackRecord &b) {
    const double seconds = std::max(1.0, std::fabs(b.Time - a.Time) * kSecPerDay);
    const double limit = kMaxSpeed * seconds;
    const double lat1 = static_cast<double>(a.Lat), lat2 = static_cast<double>(b.Lat);
    const double dLat = lat2 - lat1, dLon = static_cast<double>(b.Lon - a.Lon);
    if (std::fabs(dLat) < 1 && std::fabs(dLon) < 1 && std::fabs(lat1) < 80) {
      constexpr double kRad = 3.14159265358979323846 / 180;
      const double y = dLat * kRad, x = dLon * kRad * std::cos((lat1 + lat2) / 2 * kRad);
      const double flat = kEarthRadius * std::sqrt(x * x + y * y);
      if (flat < limit * 0.99) return false;
      if (flat > limit * 1.01) return true;
    }
    return static_cast<double>(Distance(a.Lat, a.Lon, b.Lat, b.Lon)) > limit;
  };
  std::vector<size_t> kept, run;
  std::vector<bool> drop(t.Items.size(), false);
  for (size_t i = 0; i < t.Items.size(); ++i) {
    const TTrackRecord &r = t.Items[i];
    if (r.Kind != kRecordGps) continue;
    if (kept.empty()) {
      kept.push_back(i);
      continue;
    }
    const TTrackRecord &last = t.Items[kept.back()];
    if (r.Time == last.Time && r.Lat == last.Lat && r.Lon == last.Lon) {
      drop[i] = true;  // the same fix again (a block repeated)
      continue;
    }
    if (!tooFast(last, r)) {
      kept.push_back(i);
      for (size_t j : run) drop[j] = true;
      run.clear();
      continue;
    }
    if (!run.empty() && tooFast(t.Items[run.back()], r)) {
      for (size_t j : run) drop[j] = true;
      run.clear();
    }
    run.push_back(i);
    if (run.size() < kRun) continue;
    // The run agrees with itself: the last kept fixes were the strays
    // when they were few (a stale fix after power-on, a single bad one).
    if (kept.size() < kRun)
      for (size_t j : kept) drop[j] = true;
    kept = run;
    run.clear();
  }
  for (size_t j : run) drop[j] = true;
  size_t w = 0;
  for (size_t i = 0; i < t.Items.size(); ++i)
    if (!drop[i]) t.Items[w++] = t.Items[i];
  t.Items.resize(w);
}

// ---- the front -----------------------------------------------------------------

namespace {

// Whether a file's first 8 bytes are the header of a top-level box type a
// recording can begin with.
bool RecordingLead(const uint8_t *head) {
  const uint32_t size = uint32_t(head[0]) << 24 | uint32_t(head[1]) << 16 | uint32_t(head[2]) << 8 |
                        uint32_t(head[3]);
  if (size != 1 && size < 8) return false;
  for (const char *t : {"ftyp", "moov", "mdat", "free", "skip", "wide", "pnot"})
    if (std::memcmp(head + 4, t, 4) == 0) return true;
  return false;
}

bool RecordingLead(const TMOVStream &stream) {
  uint8_t head[8];
  try {
    return stream.ReadAt(0, head, sizeof head) == sizeof head && RecordingLead(head);
  } catch (const TMOVError &) {
    return false;
  }
}

constexpr const char *kNotReadable = "telemetry present but not readable";

// The first 2 MB after the media data's start hold the first block of a
// recording that has blocks; they sit on 0x8000 boundaries.
bool BlocksNearStart(const TMOVStream &stream, const TBox &mdat) {
  uint8_t head[12];
  const int64_t first = (mdat.PayloadOffset() + 0x7fff) & ~int64_t(0x7fff);
  for (int64_t p = first; p < std::min(mdat.End(), mdat.PayloadOffset() + (2 << 20)); p += 0x8000)
    try {
      if (stream.ReadAt(p, head, sizeof head) == sizeof head &&
          std::memcmp(head + 4, "freeGPS ", 8) == 0)
        return true;
    } catch (const TMOVError &) {
      return false;
    }
  return false;
}

struct TCollect {
  TEmbeddedTrack Track;
  bool Found = false;  // a carrier of telemetry was met, readable or not
  std::string UnreadableFormat;
};

void Finish(TEmbeddedTrack &t, const TFreeGpsState &s) {
  if (t.Format.empty()) t.Format = s.Layout.empty() ? "freeGPS" : s.Layout;
  if (s.Unreadable) {
    t.Unreadable = true;
    t.UnreadableFormat = s.UnreadableLayout;
  }
}

// Telemetry boxes are small; a larger one is read no further than this.
constexpr int64_t kMaxBoxRead = 64LL << 20;
// How far into the media data the first block of a recording lies at most.
constexpr int64_t kScanHead = 20LL << 20;
// One sample of a telemetry track is about a second of data.
constexpr uint32_t kMaxSampleRead = 4u << 20;

std::string ReadPayload(const TMOVStream &stream, const TBox &box) {
  std::string out(static_cast<size_t>(std::min(box.PayloadSize(), kMaxBoxRead)), '\0');
  size_t got = 0;
  try {
    got = stream.ReadAt(box.PayloadOffset(), out.data(), out.size());
  } catch (const TMOVError &) {
    got = 0;
  }
  out.resize(got);
  return out;
}

// The movie header's creation time (UTC) and duration (seconds).
void MovieTimes(TMOVStream &stream, const TBox *moov, double &createdUtc, double &seconds) {
  createdUtc = seconds = 0;
  if (!moov) return;
  const std::vector<TBox> children = ChildBoxes(stream, *moov);
  const TBox *mvhd = FindBox(children, FourCC("mvhd"));
  if (!mvhd || mvhd->PayloadSize() < 20) return;
  try {
    stream.Seek(mvhd->PayloadOffset());
    const bool wide = stream.ReadU8() == 1;
    stream.Skip(3);
    createdUtc = MacDateToDateTime(wide ? stream.ReadU64() : stream.ReadU32());
    stream.Skip(wide ? 8 : 4);
    const uint32_t scale = stream.ReadU32();
    const uint64_t duration = wide ? stream.ReadU64() : stream.ReadU32();
    if (scale > 0) seconds = static_cast<double>(duration) / scale;
  } catch (const TMOVError &) {
  }
}

// BlackVue: a top-level `free` box of child boxes, `gps ` and `3gf ` among them.
bool ReadBlackVueBoxes(TMOVStream &stream, const std::vector<TBox> &top, TCollect &c) {
  for (const TBox &box : top) {
    if (box.type != FourCC("free")) continue;
    const std::vector<TBox> children = ChildBoxes(stream, box);
    const TBox *gps = FindBox(children, FourCC("gps "));
    const TBox *accel = FindBox(children, FourCC("3gf "));
    if (!gps && !accel) continue;
    c.Found = true;
    ReadBlackVue(gps ? ReadPayload(stream, *gps) : std::string(),
                 accel ? ReadPayload(stream, *accel) : std::string(), c.Track);
    c.Track.Format = "BlackVue";
    if (!c.Track.Items.empty()) return true;
  }
  return false;
}

// Tracks of telemetry samples: GPMF, NMEA text, PNDM. Tracks of layouts we
// cannot read are noted.
bool ReadTelemetryTracks(const std::string &path, double clipStartUtc, TCollect &c) {
  const TMOVReader movie(path, false);
  if (!movie.HasMovie()) return false;
  const TMOVStream &stream = *movie.Stream();
  std::string sample;
  for (const TTrackSamples &track :
       TracksWithFormats(movie, {"gpmd", "text", "tx3g", "camm", "ssmd"})) {
    const std::string format = ToLowerAscii(track.format);
    if (format == "camm" || format == "ssmd") {
      c.Found = true;
      c.UnreadableFormat = format + " track";
      continue;
    }
    TEmbeddedTrack t;
    TNmeaState nmea;
    const double start = clipStartUtc > 0 ? clipStartUtc : track.creationTime;
    bool gpmf = false;
    for (const TSampleRef &s : track.samples) {
      sample.resize(std::min(s.size, kMaxSampleRead));
      size_t got = 0;
      try {
        got = stream.ReadAt(s.offset, sample.data(), sample.size());
      } catch (const TMOVError &) {
        continue;
      }
      const std::string_view bytes(sample.data(), got);
      const double scale = track.timeScale > 0 ? track.timeScale : 1;
      const double utc = start > 0 ? start + s.time / scale / kSecPerDay : 0;
      if (format == "gpmd") {
        // Other recorders' data under the same name is no GPMF.
        if (bytes.substr(0, 4) != "DEVC") {
          if (!gpmf) {
            c.Found = true;
            c.UnreadableFormat = "gpmd track";
          }
          continue;
        }
        gpmf = true;
        ReadGpmfSample(bytes, utc, s.duration / scale, t);
      } else {
        ReadTextSample(bytes, utc, nmea, t);
      }
    }
    if (format != "gpmd") FinishNmea(nmea, t);
    if (t.Items.empty()) continue;
    c.Found = true;
    if (t.Format.empty()) t.Format = format == "gpmd" ? "GoPro GPMF" : "NMEA text track";
    c.Track = std::move(t);
    return true;
  }
  return false;
}

// Top-level boxes of their own: 70mai `GPS `, `gps0` with `gsen`.
bool ReadOwnBoxes(TMOVStream &stream, const std::vector<TBox> &top, double clipStartUtc,
                  TCollect &c) {
  if (const TBox *box = FindBox(top, FourCC("GPS "))) {
    c.Found = true;
    TEmbeddedTrack t;
    Read70maiBox(ReadPayload(stream, *box), clipStartUtc, t);
    t.Format = "70mai GPS box";
    if (!t.Items.empty()) {
      c.Track = std::move(t);
      return true;
    }
  }
  const TBox *gps0 = FindBox(top, FourCC("gps0"));
  const TBox *gsen = FindBox(top, FourCC("gsen"));
  if (gps0 || gsen) {
    c.Found = true;
    TEmbeddedTrack t;
    ReadGps0(gps0 ? ReadPayload(stream, *gps0) : std::string(),
             gsen ? ReadPayload(stream, *gsen) : std::string(), t);
    t.Format = "gps0/gsen boxes";
    if (!t.Items.empty()) {
      c.Track = std::move(t);
      return true;
    }
  }
  // Exports of the makers' own programs (Base64 JSON and the like).
  if (FindBox(top, FourCC("gdat")) || FindBox(top, FourCC("nbmt"))) {
    c.Found = true;
    c.UnreadableFormat = "gdat/nbmt box";
  }
  return false;
}

// Reads every carrier the file has, the first that gives records winning:
// the `gps ` index, BlackVue's boxes, telemetry tracks, boxes of their own,
// and last a scan of the whole file for freeGPS blocks.
bool Collect(const std::string &path, TMOVStream &stream, const std::vector<TBox> &top,
             TCollect &c) {
  const TBox *moov = FindBox(top, FourCC("moov"));
  TEmbeddedTrack &t = c.Track;
  TFreeGpsState freeGps;
  double clipSeconds = 0;
  MovieTimes(stream, moov, freeGps.ClipStartUtc, clipSeconds);
  // Without a creation time the clip ends when the file was last written.
  double created = 0, modified = 0;
  if (freeGps.ClipStartUtc == 0 && FileTimes(path, created, modified) && modified > 0)
    freeGps.ClipStartUtc = LocalToUtc(modified) - clipSeconds / kSecPerDay;
  const double clipStart = freeGps.ClipStartUtc;

  std::vector<TBlockRef> index;
  if (moov && ReadGpsIndex(stream, *moov, index) && !index.empty()) {
    c.Found = true;
    if (ReadFreeGpsIndexed(stream, index, freeGps, t) && t.HasFix()) {
      Finish(t, freeGps);
      return true;
    }
  }
  t = TEmbeddedTrack();
  if (ReadBlackVueBoxes(stream, top, c)) return true;
  t = TEmbeddedTrack();
  if (moov && ReadTelemetryTracks(path, clipStart, c)) return true;
  t = TEmbeddedTrack();
  if (ReadOwnBoxes(stream, top, clipStart, c)) return true;

  // Blocks without an index (or with a wrong one): scan the file.
  t = TEmbeddedTrack();
  const bool indexedUnreadable = freeGps.Unreadable;
  const std::string indexedLayout = freeGps.UnreadableLayout;
  freeGps = TFreeGpsState();
  freeGps.ClipStartUtc = clipStart;
  // A recording with blocks has its first within a few MB of the media
  // data's start: a video without them costs only that much reading. The
  // rest is scanned when blocks turned up there, when an index promised
  // them or when the movie was never written.
  const int64_t end = stream.Size();
  const TBox *mdat = FindBox(top, FourCC("mdat"));
  const int64_t head = std::min(end, (mdat ? mdat->PayloadOffset() : 0) + kScanHead);
  bool scanned = ScanFreeGps(stream, 0, head, freeGps, t);
  if (head < end && (freeGps.BlockIndex > 0 || c.Found || !moov))
    scanned = ScanFreeGps(stream, head - 11, end, freeGps, t) || scanned;
  if (scanned) {
    c.Found = true;
    Finish(t, freeGps);
    return true;
  }
  if (indexedUnreadable) {
    t.Unreadable = true;
    t.UnreadableFormat = indexedLayout;
  } else if (!c.UnreadableFormat.empty()) {
    t.Unreadable = true;
    t.UnreadableFormat = c.UnreadableFormat;
  }
  return false;
}

// The probe on a recording already open (its lead bytes checked).
TEmbeddedPresence Probe(const std::string &path, TMOVStream &stream, const std::vector<TBox> &top,
                        TEmbeddedReport *report) {
  TEmbeddedReport r;
  auto done = [&](TEmbeddedPresence p, const std::string &format) {
    r.Presence = p;
    r.Format = format;
    if (p == TEmbeddedPresence::Unreadable) r.Note = kNotReadable;
    if (report) *report = r;
    return p;
  };
  if (const TBox *moov = FindBox(top, FourCC("moov"))) {
    std::vector<TBlockRef> index;
    if (ReadGpsIndex(stream, *moov, index) && !index.empty()) {
      // The first block that is there tells the layout.
      uint8_t block[0x200];
      for (const TBlockRef &e : index) {
        size_t got = 0;
        try {
          got = stream.ReadAt(e.offset, block, std::min<size_t>(sizeof block, e.size));
        } catch (const TMOVError &) {
          continue;
        }
        if (got < 16 || std::memcmp(block + 4, "freeGPS ", 8) != 0) continue;
        TFreeGpsState s;
        TEmbeddedTrack t;
        DecodeFreeGpsBlock(block, got, s, t);
        if (s.Unreadable && !t.HasFix())
          return done(TEmbeddedPresence::Unreadable, s.UnreadableLayout);
        return done(TEmbeddedPresence::Readable, s.Layout.empty() ? "freeGPS" : s.Layout);
      }
    }
  }
  for (const TBox &b : top) {
    if (b.type == FourCC("free")) {
      const std::vector<TBox> children = ChildBoxes(stream, b);
      if (FindBox(children, FourCC("gps ")) || FindBox(children, FourCC("3gf ")))
        return done(TEmbeddedPresence::Readable, "BlackVue");
    }
    if (b.type == FourCC("GPS ")) return done(TEmbeddedPresence::Readable, "70mai GPS box");
    if (b.type == FourCC("gps0") || b.type == FourCC("gsen"))
      return done(TEmbeddedPresence::Readable, "gps0/gsen boxes");
  }
  if (FindBox(top, FourCC("moov"))) {
    const TMOVReader movie(path, true);
    bool text = false;
    for (const TMOVTrack &t : movie.Tracks()) {
      if (t.codec == "GPMD") return done(TEmbeddedPresence::Readable, "GoPro GPMF");
      if (t.codec == "CAMM" || t.codec == "SSMD")
        return done(TEmbeddedPresence::Unreadable, ToLowerAscii(t.codec) + " track");
      text = text || t.codec == "TEXT" || t.codec == "TX3G";
    }
    // Text tracks are subtitles as often as telemetry: their first samples tell.
    if (text) {
      const TMOVReader full(path, false);
      for (const TTrackSamples &track : TracksWithFormats(full, {"text", "tx3g"}, 3))
        for (const TSampleRef &s : track.samples) {
          char head[512];
          size_t got = 0;
          try {
            got = full.Stream()->ReadAt(s.offset, head, std::min<size_t>(s.size, sizeof head));
          } catch (const TMOVError &) {
            continue;
          }
          const std::string_view h(head, got);
          if (h.find("PNDM") != std::string_view::npos)
            return done(TEmbeddedPresence::Readable, "Garmin PNDM");
          if (h.find("RMC,") != std::string_view::npos || h.find("GGA,") != std::string_view::npos)
            return done(TEmbeddedPresence::Readable, "NMEA text track");
        }
    }
  }
  for (const TBox &b : top)
    if (b.type == FourCC("mdat") && BlocksNearStart(stream, b))
      return done(TEmbeddedPresence::Readable, "freeGPS");
  return done(TEmbeddedPresence::None, "");
}

// The read into a sink already cleared and given the file's times; `file`
// is the recording open (its lead bytes checked), or null.
bool Read(const std::string &path, TMOVStream *file, const std::vector<TBox> &top, TTrackSink &sink,
          TEmbeddedReport *report) {
  TEmbeddedReport r;
  TCollect c;
  const bool collected = file && Collect(path, *file, top, c);
  TEmbeddedTrack &t = c.Track;
  if (collected) FilterFixes(t);
  if (t.Items.empty()) {
    if (c.Found || t.Unreadable) {
      r.Presence = TEmbeddedPresence::Unreadable;
      r.Format = t.Unreadable ? t.UnreadableFormat : t.Format;
      r.Note = kNotReadable;
    }
    if (report) *report = r;
    return false;
  }
  sink.SetTextSize(static_cast<size_t>(std::max<int64_t>(t.Bytes, 0)));
  sink.Expect(t.Fixes());
  for (TTrackRecord rec : t.Items) {
    if (rec.Kind == kRecordGps) {
      if (r.FirstFixUtc == 0 && !t.LocalClock) r.FirstFixUtc = rec.Time;
      if (!t.LocalClock) rec.Time = UtcToLocal(rec.Time);
    } else {
      rec.Time = 0;  // timed from the fixes around it when loaded
    }
    if (!sink.Add(rec)) break;
  }
  r.Presence = TEmbeddedPresence::Readable;
  r.Format = t.Format;
  r.FixTimesLocal = t.LocalClock;
  if (report) *report = r;
  return sink.Count() > 0;
}

// The recording open for reading when its first bytes are those of one.
std::unique_ptr<TMOVStream> OpenRecording(const std::string &path) {
  auto stream = TMOVStream::OpenRead(path);
  return stream && RecordingLead(*stream) ? std::move(stream) : nullptr;
}

}  // namespace

bool IsRecordingFile(const std::string &path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  uint8_t head[8];
  ssize_t got;
  do {
    got = ::pread(fd, head, sizeof head, 0);
  } while (got < 0 && errno == EINTR);
  ::close(fd);
  return got == static_cast<ssize_t>(sizeof head) && RecordingLead(head);
}

TEmbeddedPresence ProbeEmbeddedTelemetry(const std::string &path, TEmbeddedReport *report) {
  auto stream = OpenRecording(path);
  if (!stream) {
    if (report) *report = TEmbeddedReport();
    return TEmbeddedPresence::None;
  }
  return Probe(path, *stream, TopLevelBoxes(*stream), report);
}

bool ReadEmbeddedTelemetryInto(const std::string &path, TTrackSink &sink, TEmbeddedReport *report) {
  sink.Clear();
  FileTimes(path, sink.Created, sink.Modified);
  auto stream = OpenRecording(path);
  return Read(path, stream.get(), stream ? TopLevelBoxes(*stream) : std::vector<TBox>(), sink,
              report);
}

TEmbeddedPresence ProbeAndReadEmbeddedTelemetry(const std::string &path, TTrackSink &sink,
                                                bool &read, TEmbeddedReport *report) {
  auto stream = TMOVStream::OpenRead(path);
  if (!stream) {
    sink.Clear();
    read = false;
    if (report) *report = TEmbeddedReport();
    return TEmbeddedPresence::None;
  }
  return ProbeAndReadEmbeddedTelemetry(path, *stream, TopLevelBoxes(*stream), sink, read, report);
}

TEmbeddedPresence ProbeAndReadEmbeddedTelemetry(const std::string &path, TMOVStream &stream,
                                                const std::vector<TBox> &top, TTrackSink &sink,
                                                bool &read, TEmbeddedReport *report) {
  sink.Clear();
  read = false;
  FileTimes(path, sink.Created, sink.Modified);
  if (!RecordingLead(stream)) {
    if (report) *report = TEmbeddedReport();
    return TEmbeddedPresence::None;
  }
  const TEmbeddedPresence found = Probe(path, stream, top, report);
  if (found == TEmbeddedPresence::Readable) read = Read(path, &stream, top, sink, nullptr);
  return found;
}

}  // namespace tachora
