#include "telemetry/UnitGpsConverterKML.h"

#include <algorithm>

#include "telemetry/UnitTrackText.h"

namespace tachora {

namespace {

template <typename Items>
void WriteKml(std::string &b, const TTrackInfo &info, const Items &items) {
  const long double range =
      std::max<long double>(RoundHalfAway(std::max(info.Height, info.Width) * 1.2L), 200);
  b += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";
  b += "<kml creator=\"Tachora 2.6\" xmlns=\"http://www.opengis.net/kml/2.2\" "
       "xmlns:gx=\"http://www.google.com/kml/ext/2.2\">\r\n";
  b += "<Placemark>\r\n  <name>" + XmlEscape(info.Name) + "</name>\r\n";
  b += "  <description>" + XmlEscape(info.Description) + "</description>\r\n";
  b += "  <LookAt>\r\n";
  b += "    <longitude>" + FormatCoord(info.CenterLon) + "</longitude>\r\n";
  b += "    <latitude>" + FormatCoord(info.CenterLat) + "</latitude>\r\n";
  b += "    <range>" + IntText(range) + "</range>\r\n";
  b += "    <altitude>0</altitude>\r\n    <tilt>0</tilt>\r\n    <heading>0</heading>\r\n";
  b += "    <gx:TimeSpan>\r\n";
  b += "      <begin>" + Stamp(LocalToUtc(info.StartTime)) + "</begin>\r\n";
  b += "      <end>" + Stamp(LocalToUtc(info.EndTime)) + "</end>\r\n";
  b += "    </gx:TimeSpan>\r\n  </LookAt>\r\n";
  b += "  <Style id=\"yellowLine\">\r\n    <LineStyle>\r\n      <color>7f00ffff</color>\r\n"
       "      <width>4</width>\r\n    </LineStyle>\r\n  </Style>\r\n";
  b += "  <LineString>\r\n  <coordinates>\r\n";
  for (const auto &r : items) {
    if (!IsGpsItem(r)) continue;
    b += '\t';
    AppendCoord(b, r.Lon);
    b += ',';
    AppendCoord(b, r.Lat);
    b += ',';
    b += CutGeneral(r.Altitude, 1);
    b += "\r\n";
  }
  b += "  </coordinates>\r\n  </LineString>\r\n</Placemark>\r\n</kml>\r\n";
}

}  // namespace

void TGpsInfoConverterKML::Write(const TTrackInfo &info) {
  WriteKml(Buffer, info, info.Items);
}

void TGpsInfoConverterKML::WritePoints(const TTrackInfo &info,
                                       const std::vector<TGpsPoint> &points) {
  WriteKml(Buffer, info, points);
}

}  // namespace tachora
