#include "catalogue/UnitCatalogueProbe.h"

#include <algorithm>
#include <exception>

#include "container/UnitMOV.h"
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
  try {
    TTrackInfo info;
    TRecordsSink sink(info.Items);
    const TEmbeddedPresence found = ProbeAndReadEmbeddedTelemetry(path, sink, read, report);
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
    TMOVReader reader(path, true);
    out.HasMovie = reader.HasMovie();
    if (!out.HasMovie) {
      out.Damaged = IsDamagedRecording(path);
      return false;
    }
    out.DurationMs = reader.DurationMs();
    int32_t w = 0, h = 0;
    reader.VideoSize(w, h);
    out.Width = w;
    out.Height = h;
    const TDateTime created = reader.CreationTime();
    if (created >= EncodeDate(2000, 1, 1) && created < LocalToUtc(NowDateTime()) + 1)
      out.CreationTime = created;
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
