// OziExplorer track point files (.plt): six header lines, then one line per
// point with latitude, longitude, segment code, altitude in feet (-777 =
// unknown) and the UTC time as days since 1899-12-30. Read and written.
// Not thread-safe: one object per thread (see UnitGpsConverters.h).
#pragma once

#include "telemetry/UnitGpsConverters.h"

namespace tachora {

class TGpsInfoConverterPLT : public TGpsInfoConverter {
 public:
  std::string Name() const override { return "Ozi Explorer"; }
  std::string Extension() const override { return "plt"; }
  bool CanRead(std::string_view header) override;
  void Write(const TTrackInfo &info) override;
  void WritePoints(const TTrackInfo &info, const std::vector<TGpsPoint> &points) override;
  TLoadDepth Depth() const override { return TLoadDepth::Positions; }
  bool ParseLine(std::string_view line, int index, TTrackRecord &rec) override;
  void CharSets(TCharSet &required, TCharSet &forbidden) const override;
};

}  // namespace tachora
