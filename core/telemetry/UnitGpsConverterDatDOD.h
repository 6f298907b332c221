// The recorder .dat telemetry format: TAB-separated "[G]" GPS lines (local
// date-time, hemisphere-prefixed coordinates, speed km/h, course) and "[S]"
// G-sensor lines (X, Y, Z in thousandths of g), CR LF line ends. Read and
// written; it is also the default writer for the telemetry of cut fragments.
// Not thread-safe: one object per thread (see UnitGpsConverters.h).
#pragma once

#include "telemetry/UnitGpsConverters.h"

namespace tachora {

class TGpsInfoConverterDatDOD : public TGpsInfoConverter {
 public:
  std::string Name() const override { return "DOD GS600, Carcam Q3"; }
  std::string Extension() const override { return "dat"; }
  void Write(const TTrackInfo &info) override;
  void WritePoints(const TTrackInfo &info, const std::vector<TGpsPoint> &points) override;
  bool ParseLine(std::string_view line, int index, TTrackRecord &rec) override;
  void CharSets(TCharSet &required, TCharSet &forbidden) const override;
};

}  // namespace tachora
