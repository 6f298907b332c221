#include "render/UnitRenderTrip.h"

#include <algorithm>

namespace tachora {

namespace {

constexpr double kDay = 86400;

double RecordingSeconds(const TFileItemSubitem &r) {
  if (r.Duration > 0) return r.Duration / 1000.0;
  if (r.Start > 0 && r.End > r.Start) return (r.End - r.Start) * kDay;
  return -1;
}

}  // namespace

TRenderTrip MakeRenderTrip(const TFileItem &row,
                           const std::vector<std::unique_ptr<TMovingInfo>> &tracks) {
  TRenderTrip trip;
  const double rowStart = row.Summary.Start;
  double next = 0;  // where a recording of unknown start goes
  for (size_t i = 0; i < row.Items.size(); ++i) {
    const TFileItemSubitem &r = row.Items[i];
    TRenderRecording rec;
    rec.Main = {r.Path, r.Channel};
    for (const TChannelFile &c : r.Channels) rec.Channels.push_back({c.Path, c.Channel});
    rec.Start = rowStart > 0 && r.Start > 0 ? (r.Start - rowStart) * kDay : next;
    rec.Duration = RecordingSeconds(r);
    rec.StartDate = r.Start;
    if (i < tracks.size() && tracks[i]) rec.Telemetry = tracks[i].get();
    next = rec.Start + std::max(0.0, rec.Duration);
    trip.Recordings.push_back(std::move(rec));
  }
  return trip;
}

double TripSeconds(const TFileItem &row) {
  if (row.Summary.Start > 0 && row.Summary.End > row.Summary.Start)
    return (row.Summary.End - row.Summary.Start) * kDay;
  double total = 0;
  for (const TFileItemSubitem &r : row.Items) total += std::max(0.0, RecordingSeconds(r));
  return total;
}

}  // namespace tachora
