#include "catalogue/UnitCatalogueTrip.h"

#include <algorithm>

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

std::string ChannelOutputName(const std::string &output, const std::string &channel) {
  if (channel.empty()) return output;
  const size_t slash = output.find_last_of('/');
  const size_t dot = output.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
      dot == (slash == std::string::npos ? 0 : slash + 1))
    return output + "_" + channel;
  return output.substr(0, dot) + "_" + channel + output.substr(dot);
}

std::vector<TChannelCut> MakeChannelCuts(const TFileItem &row, const TCutTrip &trip,
                                         const TCutOptions &options) {
  // The cameras in the order the row meets them, the main one first.
  std::string mainLabel;
  std::vector<std::string> others;
  std::vector<std::string> everyFile;
  for (const auto &r : row.Items) {
    everyFile.push_back(r.Path);
    if (r.Channels.empty()) continue;
    if (mainLabel.empty()) mainLabel = r.Channel;
    for (const auto &ch : r.Channels) {
      everyFile.push_back(ch.Path);
      if (ch.Channel != mainLabel &&
          std::find(others.begin(), others.end(), ch.Channel) == others.end())
        others.push_back(ch.Channel);
    }
  }
  std::vector<TChannelCut> cuts;
  TChannelCut main{mainLabel, trip, options, false};
  if (others.empty()) {
    cuts.push_back(std::move(main));
    return cuts;
  }
  if (mainLabel.empty()) mainLabel = "F";
  main.Channel = mainLabel;
  main.Options.output = ChannelOutputName(options.output, mainLabel);
  // No output may replace any camera's file of the trip.
  for (auto &rec : main.Trip.recordings)
    rec.companions.insert(rec.companions.end(), everyFile.begin(), everyFile.end());
  cuts.push_back(std::move(main));

  const long double a = options.a, b = options.b;
  for (const std::string &label : others) {
    TChannelCut cut;
    cut.Channel = label;
    cut.Trip.caption = trip.caption;
    cut.Options = options;
    cut.Options.output = ChannelOutputName(options.output, label);
    cut.Options.meta = false;  // the telemetry goes with the main camera's file
    for (size_t i = 0; i < row.Items.size() && i < trip.recordings.size(); ++i) {
      const TFileItemSubitem &r = row.Items[i];
      const TCutRecording &m = trip.recordings[i];
      const bool inRange = m.start < b && m.end > a;
      const auto ch = std::find_if(r.Channels.begin(), r.Channels.end(),
                                   [&label](const TChannelFile &c) { return c.Channel == label; });
      if (ch == r.Channels.end()) {
        cut.Partial = cut.Partial || inRange;
        continue;
      }
      TCutRecording rec;
      rec.path = ch->Path;
      rec.start = m.start;
      rec.end = m.end;
      // A file of another length than the main one lies from the same start
      // on for its own length.
      if (ch->Duration > 0 && r.Duration > 0 && ch->Duration != r.Duration) {
        rec.end = m.start + (m.end - m.start) * static_cast<long double>(ch->Duration) /
                                static_cast<long double>(r.Duration);
        if (ch->Duration < r.Duration && inRange && rec.end < std::min(b, m.end))
          cut.Partial = true;
      }
      rec.companions = everyFile;
      cut.Trip.recordings.push_back(std::move(rec));
    }
    cuts.push_back(std::move(cut));
  }
  return cuts;
}

std::vector<TChannelCutResult> CutChannels(const std::vector<TChannelCut> &cuts,
                                           TCutMetaSource *meta, const TCutProgressFn &progress) {
  std::vector<TChannelCutResult> out;
  bool cancelled = false;
  for (const TChannelCut &cut : cuts) {
    TChannelCutResult r{cut.Channel, cut.Partial, {}};
    if (cancelled) {
      r.Result.cancelled = true;
      r.Result.error = TCutError::Cancelled;
    } else {
      r.Result = CutFragment(cut.Trip, cut.Options, cut.Options.meta ? meta : nullptr, progress);
      cancelled = r.Result.cancelled || r.Result.error == TCutError::Cancelled;
    }
    out.push_back(std::move(r));
  }
  return out;
}

}  // namespace tachora
