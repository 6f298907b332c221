#include "telemetry/UnitGpsConverterDatDOD.h"

#include "telemetry/UnitTrackText.h"

namespace tachora {

namespace {

TCharSet TabSet() {
  TCharSet s;
  s['\t'] = true;
  return s;
}

}  // namespace

void TGpsInfoConverterDatDOD::CharSets(TCharSet &required, TCharSet &forbidden) const {
  required.reset();
  forbidden.reset();
  for (const char c : {'\t', '[', ']'}) required[static_cast<unsigned char>(c)] = true;
  for (const char c : {'\0', ',', '<', '>'}) forbidden[static_cast<unsigned char>(c)] = true;
  for (char c = 'a'; c <= 'z'; ++c) forbidden[static_cast<unsigned char>(c)] = true;
}

bool TGpsInfoConverterDatDOD::ParseLine(std::string_view line, int, TTrackRecord &rec) {
  if (line.size() < 9 || line[0] != '[' || line[2] != ']') return false;
  static const TCharSet kTab = TabSet();
  if (line[1] == 'G') {
    SplitFields(line, kTab);
    rec.Kind = kRecordGps;
    // A fix line cut short (no position: the receiver had no fix) is still
    // the recorder's line; without a position it gives no record.
    if (Fields.size() < 4) return true;
    rec.Time = ParseRecorderDateTime(Fields[1]);
    rec.Lat = ParseHemisphereCoord(Fields[2], 'N', 0);
    rec.Lon = ParseHemisphereCoord(Fields[3], 'E', 0);
    rec.Altitude = 0;
    rec.Speed = Fields.size() >= 5 ? ParseNumber(Fields[4], 0) : -1;
    rec.Course = Fields.size() >= 6 ? ParseNumber(Fields[5], 0) : -1;
    return true;
  }
  if (line[1] == 'S') {
    SplitFields(line, kTab);
    if (Fields.size() < 4) return false;
    rec.Kind = kRecordGsensor;
    rec.Time = 0;
    rec.X = static_cast<float>(ParseNumber(Fields[1], 0) / 1000);
    rec.Y = static_cast<float>(ParseNumber(Fields[2], 0) / 1000);
    rec.Z = static_cast<float>(ParseNumber(Fields[3], 0) / 1000);
    return true;
  }
  return false;  // "[B]" fragment separators and anything else
}

namespace {

template <typename Fix>
void AppendFix(std::string &b, const Fix &r) {
  b += "[G]\t";
  b += FormatDateTime(r.Time);
  b += '\t';
  b += r.Lat >= 0 ? 'N' : 'S';
  AppendCoord(b, r.Lat >= 0 ? r.Lat : -r.Lat);
  b += '\t';
  b += r.Lon >= 0 ? 'E' : 'W';
  AppendCoord(b, r.Lon >= 0 ? r.Lon : -r.Lon);
  b += '\t';
  AppendInt(b, r.Speed);
  b += '\t';
  AppendInt(b, r.Course);
  b += "\r\n";
}

}  // namespace

void TGpsInfoConverterDatDOD::Write(const TTrackInfo &info) {
  std::string &b = Buffer;
  for (const TTrackRecord &r : info.Items) {
    if (r.Kind == kRecordGsensor) {
      b += "[S]\t";
      AppendInt(b, static_cast<long double>(r.X) * 1000);
      b += '\t';
      AppendInt(b, static_cast<long double>(r.Y) * 1000);
      b += '\t';
      AppendInt(b,
                (static_cast<long double>(r.Z) + 1) * 1000);  // loading removed the 1 g of gravity
      b += "\r\n";
    } else if (r.Kind == kRecordGps) {
      AppendFix(b, r);
    }
  }
}

void TGpsInfoConverterDatDOD::WritePoints(const TTrackInfo &,
                                          const std::vector<TGpsPoint> &points) {
  for (const TGpsPoint &p : points) AppendFix(Buffer, p);
}

}  // namespace tachora
