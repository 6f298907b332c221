// The shifted NMEA .dat format of Samoon recorders: a numeric header line,
// then LF-ended lines whose bytes are shifted by a constant (known from the
// header number or found on the first data line). Each line holds a G-sensor
// sample (X, Y, Z in thousandths of g, TAB-separated) and optionally an NMEA
// sentence ($GPGGA or $GPRMC) giving a GPS fix. Read only.
// Not thread-safe: the shift is per-parse state; one object per thread.
#pragma once

#include "telemetry/UnitGpsConverters.h"

namespace tachora {

class TGpsInfoConverterDatSamoon : public TGpsInfoConverter {
 public:
  std::string Name() const override { return "Samoon"; }
  std::string Extension() const override { return "dat"; }
  bool CanWriteFormat() const override { return false; }
  void Write(const TTrackInfo &) override {}
  bool CanRead(std::string_view header) override;
  bool Read(std::string_view text, TTrackSink &sink) override;
  void AddLine(std::string_view line, int index, TTrackSink &sink) override;
  void CharSets(TCharSet &required, TCharSet &forbidden) const override;

  // The known header numbers and the text shift each stands for.
  struct THeaderShift {
    int64_t Header;
    int Shift;
  };
  static const THeaderShift kHeaderShifts[5];

  // The shift in use for the current parse (0 = not yet known).
  int Shift = 0;

  // Finds the shift from one raw data line: the smallest s (0 … 128) that
  // decodes every byte to a character of the format and yields both a TAB
  // and a ","; 0 when none fits or a byte <= s is met first.
  static int FindShift(std::string_view raw);

 private:
  std::string Decoded;
};

}  // namespace tachora
