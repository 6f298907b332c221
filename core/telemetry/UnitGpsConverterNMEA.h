// Plain NMEA 0183 logs (.nmea, and .log/.txt files of sentences): what GPS
// loggers, many cameras and GPSBabel write. Read: RMC for time, date,
// position, speed and course, GGA for altitude (and for position and time
// where RMC is missing), VTG and GLL where RMC is missing; any GNSS talker;
// checksums checked when present; the "[ms]" prefix of camera logs allowed.
// Fixes of a receiver without a fix (status V, quality 0) are skipped but
// still count as NMEA text, so a tunnel does not make a log look foreign.
// A log whose sentences carry no date (GGA only) takes the stamp in the
// file's name, else the file's last-write date.
// Write: one GGA and one RMC per point (GGA first, as receivers send an
// epoch), UTC, with checksums and CR LF.
// Not thread-safe: one object per thread (see UnitGpsConverters.h).
#pragma once

#include "telemetry/UnitGpsConverters.h"

namespace tachora {

class TGpsInfoConverterNMEA : public TGpsInfoConverter {
 public:
  std::string Name() const override { return "NMEA 0183"; }
  std::string Extension() const override { return "nmea"; }
  bool CanRead(std::string_view header) override;
  bool Read(std::string_view text, TTrackSink &sink) override;
  void Write(const TTrackInfo &info) override;
  void WritePoints(const TTrackInfo &info, const std::vector<TGpsPoint> &points) override;
};

// The local date-time a file name carries: 14 digits YYYYMMDDhhmmss or 12
// digits YYMMDDhhmmss, "_" and "-" allowed between them
// ("2023_0512_143000", "REC_2023-05-12_14-30-00", "230512_143000"); 0 when
// none.
double DateTimeFromFileName(std::string_view path);

}  // namespace tachora
