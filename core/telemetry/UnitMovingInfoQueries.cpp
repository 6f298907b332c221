#include "telemetry/UnitMovingInfo.h"

namespace tachora {

void Trim(TMovingInfo &, double, double) {}
void MergeNumbering(std::vector<TMovingInfo> &) {}
void MergeNumbering(const std::vector<TMovingInfo *> &) {}
void MergeNumbering(std::vector<std::unique_ptr<TMovingInfo>> &) {}
void CopyAltitude(TMovingInfo &, const TMovingInfo &) {}
void StateAt(const TMovingInfo &, long double, TGpsPoint &gps, TGsensorPoint &gs, bool &fix) { gps = {}; gs = {}; fix = false; }
TMovingState StateAt(const TMovingInfo &mi, long double f) { TMovingState s; StateAt(mi, f, s.Gps, s.Gsensor, s.FixValid); return s; }
long double NearestPoint(const TMovingInfo &, long double, long double, long double &) { return -1; }
TTrack Thin(const TMovingInfo &, long double) { return {}; }
void ExtractRange(const TMovingInfo &, long double, long double, TTrackInfo &) {}
std::vector<std::unique_ptr<TMovingInfo>> LoadGroupTelemetry(const std::vector<TGroupTelemetrySource> &s) {
  std::vector<std::unique_ptr<TMovingInfo>> r;
  for (size_t i = 0; i < s.size(); ++i) r.push_back(std::make_unique<TMovingInfo>());
  return r;
}

}  // namespace tachora
