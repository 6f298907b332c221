// The files BlackVue recorders write beside a video: `.gps`, NMEA lines
// behind bracketed camera-clock stamps ("[1623057074211]$GPRMC,..."), and
// `.3gf`, 10-byte big-endian accelerometer records. The same records
// travel inside newer recordings (UnitEmbeddedTelemetry). Read only.
// Not thread-safe: one object per thread (see UnitGpsConverters.h).
#pragma once

#include "telemetry/UnitGpsConverters.h"

namespace tachora {

class TGpsInfoConverterBlackVueGps : public TGpsInfoConverter {
 public:
  std::string Name() const override { return "BlackVue GPS"; }
  std::string Extension() const override { return "gps"; }
  bool CanWriteFormat() const override { return false; }
  void Write(const TTrackInfo &) override {}
  // A stamp in brackets right before an NMEA sentence at the head.
  bool CanRead(std::string_view header) override;
  bool Read(std::string_view text, TTrackSink &sink) override;
};

class TGpsInfoConverterBlackVue3gf : public TGpsInfoConverter {
 public:
  std::string Name() const override { return "BlackVue 3GF"; }
  std::string Extension() const override { return "3gf"; }
  bool CanWriteFormat() const override { return false; }
  void Write(const TTrackInfo &) override {}
  // Binary: chosen by the extension only.
  bool CanRead(std::string_view) override { return false; }
  bool Read(std::string_view data, TTrackSink &sink) override;
};

}  // namespace tachora
