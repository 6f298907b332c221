#include "telemetry/UnitGpsConverterLogDVR.h"

#include "telemetry/UnitTrackText.h"

namespace tachora {

// The DVR loggers' own knot factor (not the exact 1.852 km/h); kept so that
// speeds agree with what the recorder's software shows.
constexpr long double kDvrKnot = 1.85325L;

void TGpsInfoConverterLogDVR::CharSets(TCharSet &required, TCharSet &forbidden) const {
  required.reset();
  forbidden.reset();
  for (const char c : {',', '.'}) required[static_cast<unsigned char>(c)] = true;
  for (const char c : {'\0', '\t', '-', ':', '<', '>', '[', ']'})
    forbidden[static_cast<unsigned char>(c)] = true;
  for (char c = 'a'; c <= 'z'; ++c) forbidden[static_cast<unsigned char>(c)] = true;
}

bool TGpsInfoConverterLogDVR::ParseLine(std::string_view line, int, TTrackRecord &rec) {
  static const TCharSet kSeparators = [] {
    TCharSet s;
    s[','] = s[';'] = true;
    return s;
  }();
  SplitFields(line, kSeparators);
  if (Fields.size() < 7) return false;
  // The status letter of an NMEA RMC sentence where this dialect has its
  // time: the line is a plain NMEA log's, which the NMEA reader takes.
  if (Fields[2] == "A" || Fields[2] == "V") return false;
  rec.Kind = kRecordGps;
  rec.Time = ParseNmeaDateTime(Fields[1], Fields[2]);
  rec.Lat = ParseNmeaCoord(Fields[3]);
  if (Fields[4] != "N") rec.Lat = -rec.Lat;
  rec.Lon = ParseNmeaCoord(Fields[5]);
  if (Fields[6] != "E") rec.Lon = -rec.Lon;
  rec.Speed = Fields.size() > 7 ? ParseNumber(Fields[7], -1) : -1;
  if (rec.Speed > 0) rec.Speed *= kDvrKnot;
  rec.Altitude = 0;
  rec.Course = -1;
  return true;
}

}  // namespace tachora
