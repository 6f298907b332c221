// The recorder GPS .log format: TAB-separated lines of local date-time,
// hemisphere-prefixed latitude and longitude, then optional altitude (m),
// speed (km/h) and course. Read only.
// Not thread-safe: one object per thread (see UnitGpsConverters.h).
#pragma once

#include "telemetry/UnitGpsConverters.h"

namespace tachora {

class TGpsInfoConverterLogDOD : public TGpsInfoConverter {
 public:
  std::string Name() const override { return "GPS Log (DOD GS600, Carcam Q3)"; }
  std::string Extension() const override { return "log"; }
  bool CanWriteFormat() const override { return false; }
  void Write(const TTrackInfo &) override {}
  bool ParseLine(std::string_view line, int index, TTrackRecord &rec) override;
  void CharSets(TCharSet &required, TCharSet &forbidden) const override;
};

}  // namespace tachora
