// Text pieces shared by the track readers and writers: the coordinate and
// date-time notations of the recorder logs and NMEA sentences, and the number
// and time notations of the written formats. Internal to the telemetry
// library. Pure functions (apart from the start-up local-time offset); any
// thread.
#pragma once

#include <string>
#include <string_view>

namespace tachora {

// A number with "," or "." as decimal separator, else `def`.
long double ParseNumber(std::string_view text, long double def);
// "N55.123456": the hemisphere letter then the number; the positive letter
// gives a positive value, any other letter a negative one. Texts of at most
// two characters give `def`.
long double ParseHemisphereCoord(std::string_view text, char positive, long double def);
// NMEA ddmm.mmmm (or dddmm.mmmm) to degrees; not a number gives 0.
long double ParseNmeaCoord(std::string_view text);
// "YYYY-MM-DD hh:mm:ss" at fixed positions, local time; extra leading digits
// of the year are skipped. 0 when invalid.
double ParseRecorderDateTime(std::string_view text);
// The same positions, as the GPX reader reads its <time> texts (no leading
// digits skipped); the caller decides the time zone. 0 when invalid.
double ParseFixedDateTime(std::string_view text);
// NMEA date ddmmyy and time hhmmss[.sss] (fractions ignored), UTC, returned
// as local time (start-up offset added). Each part is read at its place;
// a part the text does not reach, or that is not all digits, counts as 0
// ("0105" is 2000-05-01, "1230" 12:30:00). 0 when the date is invalid.
double ParseNmeaDateTime(std::string_view date, std::string_view time);

// Shortest decimal text of the value (as a double, so that numbers read from
// text do not show binary noise), with everything after the k-th decimal cut
// off; a whole number has no decimal point.
std::string CutGeneral(long double v, int decimals);
// "2010-05-01T09:00:00Z": the date-time's parts (the caller converts to UTC).
std::string Stamp(double t);

// Appending forms for the writers' loops (no temporary strings). The text
// is exactly that of FormatFixed, FormatCoord, Stamp and IntText; a value
// that a double holds exactly is formatted as a double, which gives the
// same digits much faster than the long double path.
void AppendFixed(std::string &out, long double v, int decimals);
inline void AppendCoord(std::string &out, long double v) {
  AppendFixed(out, v, 6);
}
void AppendStamp(std::string &out, double t);
void AppendInt(std::string &out, long double v);
// Text safe inside XML element content and attribute values.
std::string XmlEscape(std::string_view s);
// Nearest integer, half away from zero, as text; non-finite values give "0".
std::string IntText(long double v);

}  // namespace tachora
