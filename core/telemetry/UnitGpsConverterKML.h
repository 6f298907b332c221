// Google Earth KML track writer: one Placemark with a LookAt over the track's
// bounds and time span (UTC) and a LineString of the GPS points. Not read.
// Not thread-safe: one object per thread (see UnitGpsConverters.h).
#pragma once

#include "telemetry/UnitGpsConverters.h"

namespace tachora {

class TGpsInfoConverterKML : public TGpsInfoConverter {
 public:
  std::string Name() const override { return "Google Earth"; }
  std::string Extension() const override { return "kml"; }
  bool CanReadFormat() const override { return false; }
  bool CanRead(std::string_view) override { return false; }
  bool Read(std::string_view, TTrackSink &) override { return false; }
  void Write(const TTrackInfo &info) override;
  void WritePoints(const TTrackInfo &info, const std::vector<TGpsPoint> &points) override;
  TLoadDepth Depth() const override { return TLoadDepth::Distances; }
};

}  // namespace tachora
