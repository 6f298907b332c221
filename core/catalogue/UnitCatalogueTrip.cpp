#include "catalogue/UnitCatalogueTrip.h"

#include "catalogue/UnitFileManager.h"
#include "telemetry/UnitTimeLapse.h"

namespace tachora {

namespace {

bool SameRecordings(const TFileItem &a, const TFileItem &b) {
  if (a.Items.size() != b.Items.size()) return false;
  for (size_t i = 0; i < a.Items.size(); ++i)
    if (a.Items[i].Path != b.Items[i].Path) return false;
  return true;
}

// Own telemetry (the catalogue's statistics of it) spanning more than 1.5
// times the container's playing time.
bool IsTimeLapse(const TFileItemSubitem &r) {
  if (r.DurationSource != kDurContainer || !(r.Duration > 0) || r.TelemetryPath.empty())
    return false;
  const double play = r.End - r.Start, span = r.GpsEnd - r.GpsStart;
  return r.Start > 0 && play > 0 && r.GpsStart > 0 && span > kTimeLapseMinRatio * play;
}

bool RowSpan(const TFileItem &row, double &start, double &span) {
  start = row.Summary.Start;
  span = row.Summary.End - row.Summary.Start;
  return start > 0 && span > 0;
}

}  // namespace

TRowTelemetry LoadRowTelemetry(TFileManager &catalogue, const TFileItem &row) {
  TRowTelemetry out;
  out.Row = row;
  std::vector<TGroupTelemetrySource> sources;
  sources.reserve(row.Items.size());
  std::vector<bool> lapse;
  for (const TFileItemSubitem &r : row.Items) {
    // A lapse is loaded whole over its telemetry's own span, then mapped.
    const bool l = IsTimeLapse(r);
    lapse.push_back(l);
    sources.push_back(
        {r.TelemetryPath, r.GpsLog.Path, l ? r.GpsStart : r.Start, l ? r.GpsEnd : r.End});
  }
  out.Tracks = LoadGroupTelemetry(sources);
  out.TimeLapse.assign(out.Tracks.size(), 1.0);
  for (size_t i = 0; i < out.Tracks.size() && i < row.Items.size(); ++i)
    if (lapse[i] && out.Tracks[i])
      out.TimeLapse[i] = MapTimeLapse(*out.Tracks[i], row.Items[i].Start, row.Items[i].End);
  // A lapse's track now lies on playing time; the catalogue keeps its real
  // times, so the next load sees the lapse again.
  for (size_t i = 0; i < out.Tracks.size() && i < row.Items.size(); ++i)
    if (out.Tracks[i] && !lapse[i]) catalogue.FitTrack(row.Items[i].Path, *out.Tracks[i]);
  if (row.Items.empty()) return out;
  // Fitting never moves a recording, so the row keeps its order; should the
  // row have been regrouped meanwhile, the copy the tracks were loaded for
  // stays the consistent one.
  const int r = catalogue.FindRecording(row.Items.front().Path);
  if (r >= 0) {
    TFileItem now = catalogue.GetItem(r);
    if (SameRecordings(now, row)) out.Row = std::move(now);
  }
  return out;
}

TCutTrip MakeCutTrip(const TFileItem &row,
                     const std::vector<std::unique_ptr<TMovingInfo>> &tracks) {
  TCutTrip trip;
  trip.caption = row.Summary.DisplayName;
  double rowStart = 0, span = 0;
  const bool timed = RowSpan(row, rowStart, span);
  for (size_t i = 0; i < row.Items.size(); ++i) {
    const TFileItemSubitem &r = row.Items[i];
    TCutRecording rec;
    rec.path = r.Path;
    rec.start = r.RelStart;
    rec.end = r.RelEnd;
    rec.companions = {r.TelemetryPath, r.GpsLog.Path};
    const TMovingInfo *mi = i < tracks.size() ? tracks[i].get() : nullptr;
    if (mi && (!mi->GpsPoints.empty() || !mi->GsensorPoints.empty())) {
      // The meta source cuts the track by fractions of its own span. A full
      // load may have trimmed the track to its recording while the row still
      // places it by the quick statistics of the file, so the track's own
      // times decide where it lies.
      if (timed && mi->EndTime > mi->StartTime) {
        rec.telemetryStart = (mi->StartTime - rowStart) / span;
        rec.telemetryEnd = (mi->EndTime - rowStart) / span;
      } else {
        rec.telemetryStart = r.RelGpsStart;
        rec.telemetryEnd = r.RelGpsEnd;
      }
      rec.hasTelemetry = rec.telemetryEnd > rec.telemetryStart;
      if (rec.hasTelemetry) rec.telemetry = mi;
    }
    trip.recordings.push_back(std::move(rec));
  }
  return trip;
}

TDateTime TripDateTime(const TFileItem &row, long double fraction) {
  double start = 0, span = 0;
  if (!RowSpan(row, start, span)) return 0;
  return start + static_cast<double>(fraction * span);
}

void SetCutDates(const TFileItem &row, TCutOptions &options) {
  options.startDate = TripDateTime(row, options.a);
  options.endDate = TripDateTime(row, options.b);
}

}  // namespace tachora
