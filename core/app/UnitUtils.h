// Shared helpers of the whole program: the date-time type, number texts that
// never depend on the locale, distances on the earth and small string tools.
//
// Date-times (TDateTime) are days since 1899-12-30 00:00 in the machine's
// local time, the fraction being the time of day; 0 means "unknown". The
// local-time offset is taken once (InitLocalTimeOffset, called at start-up
// and by tests after they change TZ) and used for every UTC <-> local
// conversion, so one run of the program never mixes two offsets.
//
// Distances are metres on a sphere of radius 6 371 000 m, angles degrees
// (bearings clockwise from north). Every function here is pure apart from
// the local-time offset, and may be called from any thread once the offset
// is set.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

using TArrayString = std::vector<std::string>;
using TArrayInteger = std::vector<int>;
using TDateTime = double;

namespace tachora {

constexpr double kEarthRadius = 6371000.0;     // metres
constexpr TDateTime kUnixEpochDate = 25569.0;  // 1970-01-01 as a TDateTime
constexpr TDateTime kMacEpochDate = 1462.0;    // 1904-01-01 as a TDateTime
constexpr double kMsPerDay = 86400000.0;
constexpr double kSecPerDay = 86400.0;

// ---- local time -----------------------------------------------------------

// Reads the current local-time offset from the C library (tm_gmtoff after
// tzset). Called once at start-up; tests call it again after setting TZ.
void InitLocalTimeOffset();
// The offset in days (local minus UTC, +3 h in Moscow = 0.125).
double LocalTimeOffset();
// The offset in seconds.
long LocalTimeOffsetSeconds();

// ---- date-time ------------------------------------------------------------

struct TDateParts {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0, msec = 0;
};

// Date (proleptic Gregorian) and time of day to a TDateTime; no validation
// beyond what the arithmetic needs (use IsValidDate first for file input).
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
TDateTime EncodeDateTime(const TDateParts &p);
bool IsValidDate(int year, int month, int day);
bool IsValidTime(int hour, int minute, int second, int msec);
// Splits a TDateTime into its parts, rounded to the nearest millisecond;
// all parts 0 for a time that is not a number or lies beyond a million years.
TDateParts DecodeDateTime(TDateTime dt);

// UTC seconds since 1970 <-> local TDateTime (through the start-up offset).
TDateTime DateTimeFromUnix(double unixSeconds);
TDateTime DateTimeFromTimespec(const timespec &ts);
double UnixFromDateTime(TDateTime dt);
timespec TimespecFromDateTime(TDateTime dt);
// Shift between local and UTC TDateTimes.
TDateTime LocalToUtc(TDateTime local);
TDateTime UtcToLocal(TDateTime utc);
// Now, in local time.
TDateTime NowDateTime();

// Fixed text formats (the program's "system formats"): "YYYY-MM-DD",
// "hh:mm:ss", "YYYY-MM-DD hh:mm:ss" and with ".zzz" milliseconds.
// 0 (unknown) gives an empty text in the *OrEmpty forms.
std::string FormatDate(TDateTime dt);
std::string FormatTime(TDateTime dt);
std::string FormatDateTime(TDateTime dt);
std::string FormatDateTimeMs(TDateTime dt);
std::string FormatDateTimeOrEmpty(TDateTime dt);
std::string FormatDateTimeMsOrEmpty(TDateTime dt);
// Reads "YYYY-MM-DD[ hh:mm[:ss[.zzz]]]" (also "T" between); false on error.
bool ParseDateTime(std::string_view text, TDateTime &out);

// Duration text of a millisecond count: "0:45", "3:07", "1:02:03",
// "1d02:00:00"; without seconds "3", "1:02", "1d02:00". Negative counts
// are treated as 0.
std::string DurationText(int64_t ms, bool withSeconds = true);

// ---- numbers --------------------------------------------------------------

// Fixed-point text with exactly `decimals` decimals and "." as separator,
// correctly rounded from the binary value, whatever the locale.
std::string FormatFixed(long double v, int decimals);
// Coordinates: exactly 6 decimals ("59.939000").
std::string FormatCoord(long double v);
// Reads a real number written with "," or "." as decimal separator
// (surrounding blanks allowed). Anything else gives `def`.
long double ParseFloatDot(std::string_view text, long double def = 0);
// Strict decimal integer (optional sign, surrounding blanks allowed);
// anything else gives `def`.
int64_t ParseInt(std::string_view text, int64_t def = 0);
// Rounds half away from zero (the way the program rounds for display);
// held at the int64_t limits, 0 for a value that is not a number.
int64_t RoundHalfAway(long double v);
// The whole part of a small number read from a file (a fix quality, a
// satellite count) as an int; `def` when it is not a number or lies beyond
// what an int holds.
int TruncToInt(long double v, int def = -1);

// ---- geometry -------------------------------------------------------------

// Great-circle distance in metres between two points (degrees).
long double Distance(long double lat1, long double lon1, long double lat2, long double lon2);
// Initial bearing in degrees 0..360 from point 1 to point 2.
long double Bearing(long double lat1, long double lon1, long double lat2, long double lon2);
// Distance from the centre to the edge of an ellipse with horizontal
// semi-axis a and vertical semi-axis b in direction theta (degrees
// clockwise from up). A non-positive axis counts as 1.
long double EllipseRadius(long double a, long double b, long double theta);
struct TLonLat {
  long double lon = 0, lat = 0;
};
// The point reached from (lon, lat) after `distance` metres along the great
// circle with initial `bearing`; longitude brought into -180..180.
TLonLat DestinationPoint(long double lon, long double lat, long double bearing,
                         long double distance);

// ---- strings --------------------------------------------------------------

// Returns the part of s before the first sep and removes it and the
// separator from s; without sep the whole s is returned and s becomes empty.
std::string SplitFirst(std::string &s, std::string_view sep);
// False when query is empty; else takes the next "key=value" pair of an
// "&"-separated query.
bool NextParam(std::string &query, std::string &key, std::string &value);

std::string ToLowerAscii(std::string_view s);
std::string ToUpperAscii(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view s, std::string_view prefix);
bool EndsWithNoCase(std::string_view s, std::string_view suffix);
// Removes leading and trailing blanks and control characters (<= ' ').
std::string_view Trim(std::string_view s);
// Splits at every occurrence of sep (empty pieces kept).
std::vector<std::string> SplitString(std::string_view s, char sep);

}  // namespace tachora
