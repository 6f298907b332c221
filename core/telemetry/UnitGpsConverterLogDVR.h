// The NMEA-style GPS .log format: "," or ";" separated lines with an NMEA
// date (ddmmyy) and UTC time (hhmmss), NMEA coordinates (ddmm.mmmm) with
// hemisphere fields and an optional speed in knots. Read only.
// Not thread-safe: one object per thread (see UnitGpsConverters.h).
#pragma once

#include "telemetry/UnitGpsConverters.h"

namespace tachora {

class TGpsInfoConverterLogDVR : public TGpsInfoConverter {
 public:
  std::string Name() const override { return "GPS Log (DVR DS103, GPS100)"; }
  std::string Extension() const override { return "log"; }
  bool CanWriteFormat() const override { return false; }
  void Write(const TTrackInfo &) override {}
  bool ParseLine(std::string_view line, int index, TTrackRecord &rec) override;
  void CharSets(TCharSet &required, TCharSet &forbidden) const override;
};

}  // namespace tachora
