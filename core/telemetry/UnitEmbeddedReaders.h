// The readers behind UnitEmbeddedTelemetry: each turns one carrier's bytes
// into fixes and samples (TEmbeddedTrack) that the front then checks,
// filters and hands to the sink. Internal to the telemetry library.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "telemetry/UnitMovingInfo.h"
#include "telemetry/UnitNmea.h"

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
  bool HasFix() const;  // Fixes() > 0, without counting them all
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

// ---- NMEA sentences for the carriers that hold them ----

// A run of sentences (one track, one box): the shared NMEA epoch builder,
// and the camera stamp of the epoch it has open.
struct TNmeaState {
  TNmeaTrackBuilder Builder;
  int32_t EpochTimeMs = -1;
  int64_t EpochStampMs = -1;
  std::string Line;  // room to put back the '$' of the dialect without it
};
// Takes one sentence (with or without its '$' and "[ms]" stamp); true when
// it closed an epoch that gave a fix (appended, UTC). `stampMs`, when
// given, receives the camera stamp of that epoch (-1 when none).
bool AddNmeaSentence(std::string_view sentence, TNmeaState &state, TEmbeddedTrack &t,
                     int64_t *stampMs = nullptr);
// Closes the last epoch; true when it gave a fix.
bool FinishNmea(TNmeaState &state, TEmbeddedTrack &t, int64_t *stampMs = nullptr);

// ---- freeGPS blocks ----

// Per-file state of the block decoder.
struct TFreeGpsState {
  int Anchor = -1;          // the anchor offset of the last block found by the anchor scan
  int AnchorVotes = 0;      // consecutive blocks that agreed on it
  double ClipStartUtc = 0;  // for layouts without time: the movie's creation time
  int BlockIndex = 0;       // blocks decoded so far (time of the layouts without one)
  int64_t ScanNext = 0;     // the scan's next offset outside the blocks it read
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
// Scans for blocks whose magic lies in [from + 4, to), in large sequential
// reads (a block found may reach past `to`); a scan of [a, b) followed by
// one of [b - 11, c) finds each block once.
bool ScanFreeGps(const TMOVStream &stream, int64_t from, int64_t to, TFreeGpsState &state,
                 TEmbeddedTrack &t);

// ---- BlackVue records (box children and sidecar files) ----

// The `gps ` text (`[ms]$GPRMC,...` lines: the bracketed camera clock only
// places the lines, the fixes take their NMEA times) and the `3gf ` records
// (10 bytes, big-endian: ms from the start, three int16 axes of 1/128 g,
// ended by a time of 0xFFFFFFFF); either may be empty.
void ReadBlackVue(std::string_view gps, std::string_view accel, TEmbeddedTrack &t);

// ---- text tracks ----

// NMEA sentences with or without '$' between separators, and Thinkware's
// "gsensori" records.
void ReadNmeaText(std::string_view text, TNmeaState &state, TEmbeddedTrack &t);
// One sample of a text or subtitle track (length prefix stripped here);
// `sampleUtc` times the layouts without a time of their own (PNDM).
void ReadTextSample(std::string_view sample, double sampleUtc, TNmeaState &state,
                    TEmbeddedTrack &t);

// ---- GoPro GPMF ----

// One `gpmd` sample of `seconds` from `sampleUtc` (the clip's start plus
// the sample's time; 0 = unknown): GPS5/GPS9 fixes with GPSU/GPSF/GPSP,
// ACCL with its SCAL, laid in time order.
void ReadGpmfSample(std::string_view sample, double sampleUtc, double seconds, TEmbeddedTrack &t);

// ---- top-level boxes ----

// 70mai `GPS `: 36-byte records counting seconds from the clip's start.
void Read70maiBox(std::string_view data, double clipStartUtc, TEmbeddedTrack &t);
// `gps0`: 32-byte records; `gsen`: 3-byte samples.
void ReadGps0(std::string_view gps0, std::string_view gsen, TEmbeddedTrack &t);

// ---- final filter ----

// Drops fixes that cannot be right: a jump faster than 85 m/s from the
// last fix kept, and the stale fix a receiver repeats after power-on
// before its first real one. Samples stay.
void FilterFixes(TEmbeddedTrack &t);

}  // namespace tachora
