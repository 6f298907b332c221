#include "telemetry/UnitGpsConverterLogDOD.h"

#include "telemetry/UnitTrackText.h"

namespace tachora {

void TGpsInfoConverterLogDOD::CharSets(TCharSet &required, TCharSet &forbidden) const {
  required.reset();
  forbidden.reset();
  for (const char c : {'\t', '.'}) required[static_cast<unsigned char>(c)] = true;
  for (const char c : {'\0', ',', '<', '>', '[', ']'})
    forbidden[static_cast<unsigned char>(c)] = true;
  for (char c = 'a'; c <= 'z'; ++c) forbidden[static_cast<unsigned char>(c)] = true;
}

bool TGpsInfoConverterLogDOD::ParseLine(std::string_view line, int, TTrackRecord &rec) {
  static const TCharSet kTab = [] {
    TCharSet s;
    s['\t'] = true;
    return s;
  }();
  SplitFields(line, kTab);
  rec.Kind = kRecordGps;
  rec.Time = ParseRecorderDateTime(Fields[0]);
  // A time without a position is the logger's line while it had no fix.
  if (Fields.size() < 3) return rec.Time > 0;
  rec.Lat = ParseHemisphereCoord(Fields[1], 'N', 0);
  rec.Lon = ParseHemisphereCoord(Fields[2], 'E', 0);
  rec.Altitude = Fields.size() > 3 ? ParseNumber(Fields[3], 0) : 0;
  rec.Speed = Fields.size() > 4 ? ParseNumber(Fields[4], -1) : -1;
  rec.Course = Fields.size() > 5 ? ParseNumber(Fields[5], -1) : -1;
  return true;
}

}  // namespace tachora
