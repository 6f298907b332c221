#include "telemetry/UnitMovingInfo.h"

#include "telemetry/UnitGpsConverters.h"

namespace tachora {

void TTrackInfo::Clear() { *this = TTrackInfo(); MinLon = MaxLat = MaxLon = MinLat = 0; }

std::unique_ptr<TMovingInfo> TMovingInfo::LoadFromFile(const std::string &, bool) { return nullptr; }
std::unique_ptr<TMovingInfo> TMovingInfo::LoadFromText(std::string_view, const std::string &, double, double, bool) { return nullptr; }
std::unique_ptr<TMovingInfo> TMovingInfo::FromTrackInfo(const TTrackInfo &, bool) { return nullptr; }
long double TMovingInfo::TrackLength() const { return 0; }
long double TMovingInfo::AverageSpeed() const { return -1; }
int TMovingInfo::GpsPointCount() const { return 0; }
int TMovingInfo::GsensorPointCount() const { return 0; }
bool TMovingInfo::FitTo(double, double) { return false; }
void BeginTrackInfo(const TMovingInfo &, TTrackInfo &) {}
void AppendToTrackInfo(const TMovingInfo &, TTrackInfo &) {}

}  // namespace tachora
