#include "catalogue/UnitCatalogueProbe.h"

#include <sys/stat.h>

#include <algorithm>
#include <exception>

#include "container/UnitMOV.h"
#include "container/UnitMOVBoxes.h"
#include "container/UnitRepair.h"
#include "telemetry/UnitGEvents.h"
#include "telemetry/UnitGpsConverters.h"
#include "telemetry/UnitMovingInfo.h"
#include "telemetry/UnitRecordingTelemetry.h"

namespace tachora {

namespace {

void TakeStats(const TMovingInfo &mi, TTelemetryStats &out) {
  out.TrackLength = mi.TrackLength();
  out.AvgSpeed = mi.AverageSpeed();
  out.GpsCount = mi.GpsPointCount();
  out.GsensorCount = mi.GsensorPointCount();
  out.First = mi.StartTime;
  out.Last = mi.EndTime;
  const TGEventCounts events = CountGEvents(mi.GsensorPoints);
  std::copy(std::begin(events.Count), std::end(events.Count), out.EventCounts.begin());
}

// The records of a recording's embedded telemetry, for FromTrackInfo.
class TRecordsSink : public TTrackSink {
 public:
  explicit TRecordsSink(std::vector<TTrackRecord> &items) : TTrackSink(0), items_(items) {}

 protected:
  void Store(const TTrackRecord &rec) override { items_.push_back(rec); }
  void Forget() override { items_.clear(); }

 private:
  std::vector<TTrackRecord> &items_;
};

void TakeHeader(const TMOVReader &reader, TMovieHeader &out) {
  out.HasMovie = reader.HasMovie();
  out.DurationMs = reader.DurationMs();
  int32_t w = 0, h = 0;
  reader.VideoSize(w, h);
  out.Width = w;
  out.Height = h;
  const TDateTime created = reader.CreationTime();
  if (created >= EncodeDate(2000, 1, 1) && created < LocalToUtc(NowDateTime()) + 1)
    out.CreationTime = created;
}

// What tells a file from the same file changed or replaced.
struct TFileIdentity {
  dev_t Device = 0;
  ino_t Inode = 0;
  off_t Size = -1;
  timespec Modified{}, Changed{};
  bool operator==(const TFileIdentity &o) const {
    return Device == o.Device && Inode == o.Inode && Size == o.Size &&
           Modified.tv_sec == o.Modified.tv_sec && Modified.tv_nsec == o.Modified.tv_nsec &&
           Changed.tv_sec == o.Changed.tv_sec && Changed.tv_nsec == o.Changed.tv_nsec;
  }
};

bool IdentityOf(const std::string &path, TFileIdentity &id) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  id.Device = st.st_dev;
  id.Inode = st.st_ino;
  id.Size = st.st_size;
  id.Modified = st.st_mtim;
  id.Changed = st.st_ctim;
  return true;
}

// The movie header of the recording the last embedded look on this thread
// had open: a listing asks for it right after, and the header reader would
// open the file and walk its boxes again. Taken once, and only while the
// file is the one that was read.
struct TLookedHeader {
  std::string Path;
  TFileIdentity Identity;
  TMovieHeader Header;
};
thread_local TLookedHeader tLookedHeader;

// The movie header from the top-level boxes of an open recording, copied
// into memory with the media data left out (its header kept, emptied): the
// header reader finds there every box it reads in the file, without its
// reads through the media data. False when the other boxes are too large
// to copy or hold no movie.
bool HeaderFromBoxes(const TMOVStream &stream, const std::vector<TBox> &top, TMovieHeader &out) {
  constexpr int64_t kMaxCopy = 1 << 20;
  constexpr size_t kMaxBoxes = 4096;
  if (top.empty() || top.size() >= kMaxBoxes) return false;
  int64_t total = 0;
  for (const TBox &b : top) total += b.type == FourCC("mdat") ? 8 : b.size;
  if (total > kMaxCopy) return false;
  std::string image;
  image.reserve(static_cast<size_t>(total));
  // The boxes lie end to end: each run of them between media data is one read.
  for (size_t i = 0; i < top.size();) {
    if (top[i].type == FourCC("mdat")) {
      image.append("\0\0\0\x08mdat", 8);
      ++i;
      continue;
    }
    size_t j = i;
    while (j < top.size() && top[j].type != FourCC("mdat")) ++j;
    const size_t at = image.size();
    const auto n = static_cast<size_t>(top[j - 1].End() - top[i].offset);
    image.resize(at + n);
    try {
      if (stream.ReadAt(top[i].offset, image.data() + at, n) != n) return false;
    } catch (const TMOVError &) {
      return false;
    }
    i = j;
  }
  const TMOVReader reader(reinterpret_cast<const uint8_t *>(image.data()), image.size(), true);
  if (!reader.HasMovie()) return false;
  TakeHeader(reader, out);
  return true;
}

bool TakeLookedHeader(const std::string &path, TMovieHeader &out) {
  TLookedHeader looked = std::move(tLookedHeader);
  tLookedHeader = TLookedHeader();
  TFileIdentity now;
  if (looked.Path.empty() || looked.Path != path || !IdentityOf(path, now) ||
      !(now == looked.Identity))
    return false;
  out = looked.Header;
  return true;
}

}  // namespace

bool LoadTelemetryStats(const std::string &path, TTelemetryStats &out) {
  return LoadTelemetryStats(path, 0, 0, out);
}

bool LoadTelemetryStats(const std::string &path, TDateTime from, TDateTime to,
                        TTelemetryStats &out) {
  out = TTelemetryStats{};
  try {
    auto mi = TMovingInfo::LoadFromFile(path, true);
    if (!mi) return false;
    const bool apart = !(mi->StartTime <= to && mi->EndTime >= from);
    if (from > 0 && to > from && !apart) mi->FitTo(from, to);
    TakeStats(*mi, out);
    return true;
  } catch (const std::exception &) {
    return false;
  }
}

TEmbeddedPresence LoadEmbeddedTelemetryStats(const std::string &path, TTelemetryStats &out,
                                             bool &read, TEmbeddedReport *report) {
  out = TTelemetryStats{};
  read = false;
  tLookedHeader = TLookedHeader();
  try {
    TFileIdentity identity;
    const bool known = IdentityOf(path, identity);
    auto stream = known ? TMOVStream::OpenRead(path) : nullptr;
    if (!stream) {
      if (report) *report = TEmbeddedReport();
      return TEmbeddedPresence::None;
    }
    const std::vector<TBox> top = TopLevelBoxes(*stream);
    TTrackInfo info;
    TRecordsSink sink(info.Items);
    const TEmbeddedPresence found =
        ProbeAndReadEmbeddedTelemetry(path, *stream, top, sink, read, report);
    TMovieHeader header;
    if (HeaderFromBoxes(*stream, top, header)) tLookedHeader = {path, identity, header};
    if (!read) return found;
    // What loading the recording as a telemetry file makes of the records.
    info.StartTime = sink.Created;
    info.EndTime = sink.Modified;
    auto mi = TMovingInfo::FromTrackInfo(info, true);
    read = mi != nullptr;
    if (mi) {
      CorrectLocalClock(*mi, path);
      TakeStats(*mi, out);
    }
    return found;
  } catch (const std::exception &) {
    read = false;
    return TEmbeddedPresence::None;
  }
}

bool ReadMovieHeader(const std::string &path, TMovieHeader &out) {
  out = TMovieHeader{};
  try {
    if (TakeLookedHeader(path, out)) return true;
    TMOVReader reader(path, true);
    out.HasMovie = reader.HasMovie();
    if (!out.HasMovie) {
      out.Damaged = IsDamagedRecording(path);
      return false;
    }
    TakeHeader(reader, out);
    return true;
  } catch (const std::exception &) {
    return false;
  }
}
bool MovieProbeAvailable() {
  return true;
}

std::vector<std::string> TrackReaderExtensions() {
  std::vector<std::string> out;
  for (const auto &r : GpsReaders()) {
    if (!r || !r->CanReadFormat()) continue;
    const std::string e = ToLowerAscii(r->Extension());
    if (!e.empty() && std::find(out.begin(), out.end(), e) == out.end()) out.push_back(e);
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> AttachTrackFilters(
    const std::vector<std::string> &extensions) {
  std::vector<std::pair<std::string, std::string>> out{{"All files", "*.*"}};
  std::string name = "All supported formats  (", pattern;
  std::vector<std::string> patterns;
  for (const auto &e : extensions) {
    const std::string p = "*." + e;
    if (std::find(patterns.begin(), patterns.end(), p) != patterns.end()) continue;
    patterns.push_back(p);
    name += p + "  ";
    pattern += p + ";";
  }
  out.emplace_back(name + ")", pattern);
  for (const auto &p : patterns) out.emplace_back(p, p);
  return out;
}

}  // namespace tachora
