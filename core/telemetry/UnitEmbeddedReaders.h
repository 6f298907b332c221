// The readers behind UnitEmbeddedTelemetry: each turns one carrier's bytes
// into fixes and samples (TEmbeddedTrack) that the front then checks,
// filters and hands to the sink. Internal to the telemetry library.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "telemetry/UnitMovingInfo.h"

namespace tachora {

class TMOVStream;
struct TBox;
struct TBlockRef;

// What a reader collected: records in file order (a fix, then the samples
// taken after it), times as TDateTime in UTC unless LocalClock.
struct TEmbeddedTrack {
  std::vector<TTrackRecord> Items;
  bool LocalClock = false;  // the fixes carry the camera's clock, not UTC
  int64_t Bytes = 0;        // telemetry bytes read (the records' budget)
  std::string Format;       // the layout read
  bool Unreadable = false;  // a layout recognised but not readable (encrypted, unknown)
  std::string UnreadableFormat;
  size_t Fixes() const;
};

// ---- checks shared by the readers ----

// DDMM.MMMM (degrees x 100 + minutes) to degrees; false when the minutes
// reach 60 or the value is not finite.
bool DdmmToDegrees(double ddmm, double &degrees);
// A UTC date and time from its fields, with the ranges recorders keep
// (year 2000..2200); 0 when any field is out of range.
double FixTime(int year, int month, int day, int hour, int minute, double second);
// Appends a fix when its position lies on the globe and is not 0/0; false
// otherwise.
bool AddFix(TEmbeddedTrack &t, double time, double lat, double lon, double altitude,
            double speedKmh, double course);
void AddSample(TEmbeddedTrack &t, double x, double y, double z);

constexpr double kKnotsToKmh = 1.852;
constexpr double kMpsToKmh = 3.6;
constexpr double kMphToKmh = 1.609344;

// ---- NMEA sentences (RMC, GGA) for the carriers that hold them ----

// The state of a run of sentences: the last RMC date serves a GGA without one.
struct TNmeaState {
  int Year = 0, Month = 0, Day = 0;
  double LastRmcTime = -1;  // UTC TDateTime of the last RMC taken
};
// Parses one sentence (with or without the leading '$', checksum optional)
// and appends its fix: RMC with status A, or GGA with a fix quality above
// 0 when `takeGga` (its time on the last RMC date). `stamp`, when not 0,
// replaces the sentence's own time. True when a fix was appended.
bool AddNmeaSentence(std::string_view sentence, TNmeaState &state, TEmbeddedTrack &t, bool takeGga);

// ---- freeGPS blocks ----

// Per-file state of the block decoder.
struct TFreeGpsState {
  int Anchor = -1;          // the anchor offset of the last block found by the anchor scan
  int AnchorVotes = 0;      // consecutive blocks that agreed on it
  double ClipStartUtc = 0;  // for layouts without time: the movie's creation time
  int BlockIndex = 0;       // blocks decoded so far (time of the layouts without one)
  std::string Layout;       // the last layout recognised
  bool Unreadable = false;  // a block of a layout we cannot read was met
  std::string UnreadableLayout;
};
// Decodes one block (starting at its size field) into the track; false when
// the block is no freeGPS block at all.
bool DecodeFreeGpsBlock(const uint8_t *block, size_t size, TFreeGpsState &state, TEmbeddedTrack &t);
// Reads the blocks of a `gps ` index (entries whose target holds no block
// are skipped); true when any block was found.
bool ReadFreeGpsIndexed(const TMOVStream &stream, const std::vector<TBlockRef> &entries,
                        TFreeGpsState &state, TEmbeddedTrack &t);
// Scans [from, to) for blocks in large sequential reads.
bool ScanFreeGps(const TMOVStream &stream, int64_t from, int64_t to, TFreeGpsState &state,
                 TEmbeddedTrack &t);

// ---- BlackVue records (box children and sidecar files) ----

// `[ms]$GPRMC,...` lines; the bracketed camera clock is only used to order
// lines, the fixes take their NMEA times.
void ReadBlackVueGps(std::string_view text, TEmbeddedTrack &t);
// 10-byte big-endian records: ms, then three int16 axes (1/128 g); ends at
// a time of 0xFFFFFFFF.
void ReadBlackVue3gf(std::string_view data, TEmbeddedTrack &t);

// ---- final filter ----

// Drops fixes that cannot be right: a jump faster than 85 m/s from the
// last fix kept, and the stale fix a receiver repeats after power-on
// before its first real one. Samples stay.
void FilterFixes(TEmbeddedTrack &t);

}  // namespace tachora
