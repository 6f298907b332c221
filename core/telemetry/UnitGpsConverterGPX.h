// GPS Exchange Format 1.0 (.gpx): written as one track segment with UTC
// times and speeds in m/s; read by a tolerant scan of the trkpt elements
// (attributes or elements, whichever comes first in a point).
// Not thread-safe: one object per thread (see UnitGpsConverters.h).
#pragma once

#include "telemetry/UnitGpsConverters.h"

namespace tachora {

class TGpsInfoConverterGPX : public TGpsInfoConverter {
 public:
  std::string Name() const override { return "GPS eXchange Format"; }
  std::string Extension() const override { return "gpx"; }
  void Write(const TTrackInfo &info) override;
  void WritePoints(const TTrackInfo &info, const std::vector<TGpsPoint> &points) override;
  bool Read(std::string_view text, TTrackSink &sink) override;
  // The same parse of a file of `size` bytes read piece by piece from `fd`
  // (its current offset on): the text is never held whole.
  bool ReadFile(int fd, size_t size, TTrackSink &sink);
  void CharSets(TCharSet &required, TCharSet &forbidden) const override;
};

}  // namespace tachora
