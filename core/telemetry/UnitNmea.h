// NMEA 0183 sentences, one at a time: the pieces every reader of NMEA text
// shares (plain .nmea/.log/.txt logs, sentences inside recordings' text
// tracks, the "[ms]$GPRMC,..." lines of cameras' gps boxes).
//
//  1. ParseNmeaSentence splits one line into talker, sentence type and
//     fields, checks the "*hh" checksum when there is one and takes the
//     "[milliseconds]" prefix some cameras put before each line.
//  2. DecodeNmeaFix reads what a fix sentence (RMC, GGA, VTG, GLL, ZDA)
//     tells: UTC time of day and date, position, speed, course, altitude,
//     fix quality, satellites, HDOP.
//  3. TNmeaTrackBuilder joins the sentences of one receiver epoch (RMC, GGA,
//     VTG, GLL with the same time) into one GPS record, carrying the date of
//     the last RMC/ZDA to sentences without one and over midnight.
//
// Units: degrees (north/east positive), km/h (knots x 1.852), metres above
// mean sea level, course degrees true. Times in TNmeaFix are UTC; the
// records the builder gives are local TDateTime (start-up offset added),
// like every reader's.
//
// Everything here is pure or per object: any thread, no global state. The
// views in TNmeaSentence point into the line given to ParseNmeaSentence.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "telemetry/UnitMovingInfo.h"

namespace tachora {

// The sentence types the readers use. Only GNSS talkers (GP, GN, GL, GA,
// GB, BD, GQ, GI, QZ) give these; any other talker's sentence is Other.
enum class TNmeaType : uint8_t { Other, RMC, GGA, VTG, GLL, ZDA };

// What one line holds.
enum class TNmeaLine : uint8_t {
  Sentence,     // a well-formed sentence, its checksum right or absent
  BadChecksum,  // a sentence whose checksum is wrong or malformed: drop it
  NotNmea,      // any other text
};

// Data fields kept per sentence; the fix sentences have at most 20.
constexpr size_t kMaxNmeaFields = 24;

struct TNmeaSentence {
  std::string_view Talker;     // "GP", "GN", ...; empty for a proprietary "$P..." sentence
  std::string_view Formatter;  // "RMC", "GGA", ... (the rest of the address)
  TNmeaType Type = TNmeaType::Other;
  bool HasChecksum = false;
  int64_t StampMs = -1;   // the "[12345]" before the "$", -1 when none
  size_t FieldCount = 0;  // data fields after the address (at most kMaxNmeaFields)
  std::array<std::string_view, kMaxNmeaFields> Fields{};

  // Data field i (0 = the first after the address), empty when missing.
  std::string_view Field(size_t i) const { return i < FieldCount ? Fields[i] : std::string_view(); }
};

// Splits one line (no line end needed; leading blanks, trailing blanks,
// CR, LF and NULs are ignored). A sentence is "$" + address of 2 to 6
// upper-case letters or digits + "," fields, optionally "*" + two hex
// digits of the XOR of the bytes between "$" and "*". `out` is filled for
// Sentence and BadChecksum.
TNmeaLine ParseNmeaSentence(std::string_view line, TNmeaSentence &out);

// The talker ids of satellite receivers.
bool IsGnssTalker(std::string_view talker);

// What one fix sentence tells. Fields the sentence lacks or leaves empty
// keep their "unknown" values.
struct TNmeaFix {
  TNmeaType Type = TNmeaType::Other;
  int32_t TimeMs = -1;  // UTC time of day in milliseconds (fractions kept), -1 unknown
  int32_t Date = 0;     // UTC date as whole TDateTime days, 0 unknown (RMC, ZDA)
  bool HasPosition = false;
  long double Lat = 0, Lon = 0;
  // A real fix: RMC/GLL status "A" (or "D") and a mode other than "N",
  // GGA quality above 0, VTG mode other than "N". A tunnel's sentences are
  // well-formed but not valid.
  bool Valid = false;
  long double Speed = -1;   // km/h
  long double Course = -1;  // degrees true
  bool HasAltitude = false;
  long double Altitude = 0;  // metres above mean sea level (GGA)
  int Quality = -1;          // GGA fix quality 0..8
  int Satellites = -1;       // GGA satellites in use
  long double Hdop = -1;     // GGA horizontal dilution of precision
};

// Reads a fix sentence; false for any type that is not RMC, GGA, VTG, GLL
// or ZDA (the fix is then untouched apart from Type).
bool DecodeNmeaFix(const TNmeaSentence &s, TNmeaFix &fix);

// "hhmmss[.sss]" to milliseconds of the day, -1 when not a time.
int32_t ParseNmeaTimeMs(std::string_view text);
// "ddmmyy" to whole TDateTime days (years 81..99 are 19xx, the rest 20xx),
// 0 when not a date.
int32_t ParseNmeaDate(std::string_view text);

// Joins the sentences of a receiver, in the order they came, into GPS
// records (kind 1, local time). Sentences of one epoch share its time of
// day: an epoch ends when a sentence with another time arrives (or at
// Finish). The record takes position, speed and course from RMC, else from
// GLL and VTG; altitude from GGA; the date from RMC or ZDA, else the date
// carried from the last one (a jump back of more than 12 hours in the time
// of day is the next day, forward the day before). An epoch without a
// valid position or without a date gives no record.
class TNmeaTrackBuilder {
 public:
  // Sets the carried date before any dated sentence: a UTC date (whole
  // days) and the time of day it belongs to (-1 when only the date is
  // known). A reader seeds it with the file's first RMC/ZDA, else with the
  // stamp in the file name or the file's time.
  void SeedDate(int32_t date, int32_t timeMs);

  // Takes a decoded fix; true when it closed an epoch that gave a record
  // (then in `out`).
  bool Add(const TNmeaFix &fix, TTrackRecord &out);
  // Closes the last epoch; true when it gave a record.
  bool Finish(TTrackRecord &out);

 private:
  bool Emit(TTrackRecord &out);
  void Carry(int32_t timeMs);

  // The carried date and the time of day it was last seen with.
  int32_t date_ = 0;
  int32_t dateTimeMs_ = -1;
  // The open epoch.
  bool open_ = false;
  int32_t timeMs_ = -1;
  int32_t epochDate_ = 0;  // its own date (RMC/ZDA) or the carried one
  bool fromRmc_ = false;   // position, speed and course came from a valid RMC
  bool hasPosition_ = false;
  long double lat_ = 0, lon_ = 0;
  long double speed_ = -1, course_ = -1;
  bool hasAltitude_ = false;
  long double altitude_ = 0;
};

}  // namespace tachora
