#include "telemetry/UnitGpsConverterPLT.h"

#include <cmath>

#include "telemetry/UnitTrackText.h"

namespace tachora {

namespace {

constexpr long double kFoot = 0.3048L;  // metres
constexpr int kUnknownAltitude = -777;  // OziExplorer's "no altitude"

}  // namespace

void TGpsInfoConverterPLT::CharSets(TCharSet &required, TCharSet &forbidden) const {
  required.reset();
  forbidden.reset();
  for (const char c : {' ', ',', '.'}) required[static_cast<unsigned char>(c)] = true;
  for (const char c : {'\0', '\t'}) forbidden[static_cast<unsigned char>(c)] = true;
}

bool TGpsInfoConverterPLT::CanRead(std::string_view header) {
  if (!TGpsInfoConverter::CanRead(header)) return false;
  const std::string head = ToLowerAscii(header.substr(0, 50));
  return head.find("ozi") != std::string::npos && head.find("explorer") != std::string::npos;
}

bool TGpsInfoConverterPLT::ParseLine(std::string_view line, int index, TTrackRecord &rec) {
  if (index < 6) return false;  // the six header lines
  static const TCharSet kComma = [] {
    TCharSet s;
    s[','] = true;
    return s;
  }();
  SplitFields(line, kComma);
  if (Fields.size() < 5) return false;
  rec.Kind = kRecordGps;
  rec.Lat = ParseNumber(Fields[0], 0);
  rec.Lon = ParseNumber(Fields[1], 0);
  const long double feet = ParseNumber(Fields[3], kUnknownAltitude);
  rec.Altitude = feet != kUnknownAltitude ? feet * kFoot : 0;
  const long double days = ParseNumber(Fields[4], 0);
  rec.Time = days > 0 ? static_cast<double>(days) + LocalTimeOffset() : 0;
  rec.Course = -1;
  rec.Speed = -1;
  return true;
}

namespace {

template <typename Items>
void WritePlt(std::string &b, const TTrackInfo &info, const Items &items) {
  size_t points = 0;
  for (const auto &r : items) points += IsGpsItem(r);
  b +=
      "OziExplorer Track Point File Version 2.1\r\nWGS 84\r\nAltitude is in Feet\r\nReserved 3\r\n";
  // The track name sits in a comma-separated line: a comma in it would shift
  // every field after it.
  std::string name = info.Name;
  for (char &c : name)
    if (c == ',' || c == '\r' || c == '\n') c = ' ';
  b += "0,2,8323327," + name + ",0,0,2,8421376\r\n";
  b += std::to_string(points) + "\r\n";
  bool first = true;
  double prevTime = 0;
  for (const auto &r : items) {
    if (!IsGpsItem(r)) continue;
    // A new segment starts at the first point and after a gap of over 6 s
    // (compared in whole milliseconds so that 6 s exactly stays joined).
    const bool joined = !first && std::llround((r.Time - prevTime) * kMsPerDay) <= 6000;
    AppendCoord(b, r.Lat);
    b += ',';
    AppendCoord(b, r.Lon);
    b += joined ? ",0," : ",1,";
    if (r.Altitude != 0)
      AppendInt(b, r.Altitude / kFoot);
    else
      b += "-777";  // OziExplorer's "no altitude", kUnknownAltitude
    b += ',';
    AppendFixed(b, LocalToUtc(r.Time), 7);
    b += ",\r\n";
    first = false;
    prevTime = r.Time;
  }
}

}  // namespace

void TGpsInfoConverterPLT::Write(const TTrackInfo &info) {
  WritePlt(Buffer, info, info.Items);
}

void TGpsInfoConverterPLT::WritePoints(const TTrackInfo &info,
                                       const std::vector<TGpsPoint> &points) {
  WritePlt(Buffer, info, points);
}

}  // namespace tachora
