// The telemetry of one recording: the GPS fixes and G-sensor samples that a
// recorder writes into a text file beside the video, repaired and completed
// on loading (duplicate GPS times, G-sensor timing, accelerometer bias,
// distance, course and speed), plus the queries that playback, the map, the
// graphs, the catalogue and the cutter make of it, and the track summary
// record (TTrackInfo) shared by all readers and writers.
//
// Units: times are TDateTime (days since 1899-12-30, local time, 0 =
// unknown); angles degrees (north/east positive, course clockwise from
// north, 0 <= course < 360); distances metres; speeds km/h; accelerations g.
// Unknown course or speed is -1, unknown altitude 0. Fractions are of the
// object's own [StartTime, EndTime] span.
//
// Ownership: LoadFromFile returns an object owned by the caller. Plain value
// records are passed and returned as copies.
//
// Threads: nothing here keeps global state. LoadFromFile creates its own
// reader objects per call, so it may run on several threads at once; a
// TMovingInfo itself is never shared between threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/UnitUtils.h"

namespace tachora {

// Record kinds of TTrackRecord.
constexpr uint8_t kRecordGps = 1;
constexpr uint8_t kRecordGsensor = 2;

// Bounds of what a vehicle's recorder can measure: a reading beyond them is
// a damaged file, not a drive, and is read as unknown (SaneReadings).
constexpr long double kMaxSaneG = 50;            // |G| of a sample, g
constexpr long double kMaxSaneSpeed = 1000;      // km/h
constexpr long double kMinSaneAltitude = -500;   // metres
constexpr long double kMaxSaneAltitude = 20000;  // metres

// One GPS fix.
struct TGpsPoint {
  double Time = 0;
  long double Lon = 0;
  long double Lat = 0;
  long double Altitude = 0;  // metres, 0 = unknown
  long double Course = 0;    // degrees, < 0 = unknown
  long double Speed = 0;     // km/h, < 0 = unknown
  long double Distance = 0;  // metres from the first point of the file
  int32_t Number = 0;        // running number (index unless renumbered)
};

// One accelerometer sample. The axes are single floats: recorders write
// them in thousandths of g, which a float holds to far better than the
// sensor's own noise, and a file of ten samples a second holds many more
// samples than fixes (32 bytes a sample instead of 80).
struct TGsensorPoint {
  double Time = 0;            // 0 until timed
  float X = 0, Y = 0, Z = 0;  // g, bias removed after loading
  float A = 0;                // sqrt(X^2 + Y^2 + Z^2)
  int32_t GpsIndex = 0;       // GPS point whose line came right before, -1 otherwise
  int32_t Number = 0;
};

// One parsed line of a telemetry file. Kind 1 uses Time and the GPS fields,
// kind 2 Time and X, Y, Z; any other kind is an empty slot. (The axes sit
// beside Kind, in what would be padding.)
struct TTrackRecord {
  uint8_t Kind = 0;
  float X = 0, Y = 0, Z = 0;  // kind 2
  double Time = 0;
  long double Lon = 0, Lat = 0, Altitude = 0, Course = -1, Speed = -1;  // kind 1
};

// Summary and export record of one or more TMovingInfo; the readers fill its
// Items, the writers write them (GPS records only).
struct TTrackInfo {
  std::string Name;
  std::string Description;
  std::vector<TTrackRecord> Items;
  long double MinLon = 1000;  // sentinels: no point appended yet
  long double MaxLat = -1000;
  long double MaxLon = -1000;
  long double MinLat = 1000;
  long double CenterLon = 0;
  long double CenterLat = 0;
  long double Width = 0;     // metres
  long double Height = 0;    // metres
  double StartTime = 0;      // parsing: the file's creation time
  double EndTime = 0;        // parsing: the file's last-write time
  long double Length = 0;    // metres
  long double AvgSpeed = 0;  // km/h

  // All fields zero, Items empty (what a parse starts from).
  void Clear();
};

// The thinned track for the map: continuous stretches of kept points.
struct TTrackItemPoint {
  long double Lon = 0;
  long double Lat = 0;
  long double Distance = 0;  // the point's cumulative distance, metres
  double Time = 0;
};
struct TTrackItem {
  std::vector<TTrackItemPoint> Points;
};
using TTrack = std::vector<TTrackItem>;

// How much loading derives beyond what the file holds. Each level adds to
// the one before it.
enum class TLoadDepth {
  Positions,  // times repaired and samples timed; no distance, course or speed derived
  Distances,  // each point's distance from the first (the catalogue's statistics)
  Complete,   // the missing course and speed as well
};
// Below Complete a point's course and speed may be unknown (-1) even where
// the file gives them: the writers that ask for less do not write them.

class TMovingInfo {
 public:
  std::vector<TGsensorPoint> GsensorPoints;  // ascending time after loading
  std::vector<TGpsPoint> GpsPoints;          // file order
  double StartTime = 0;                      // earliest point or sample; 0 = unknown
  double EndTime = 0;                        // latest point or sample
  double GsensorPeriod = 0;                  // days; set only when GPS points exist
  std::string ReaderName;                    // Name of the converter that read the file

  // Reads and completes the telemetry of a file. quick skips deriving the
  // missing course and speed (enough for the catalogue's statistics).
  // Nothing when the file cannot be read, no reader accepts it or it holds
  // no record. Memory: the text (a large GPX file only a piece at a time,
  // see ReadTrackFileInto), then the records straight into the point
  // arrays; the peak stays below 4 times the file's size plus about 35 MB,
  // since a file whose records would need more is refused (TTrackSink).
  // `quick` stands for TLoadDepth::Distances, otherwise Complete.
  static std::unique_ptr<TMovingInfo> LoadFromFile(const std::string &path, bool quick);
  static std::unique_ptr<TMovingInfo> LoadFromFile(const std::string &path, TLoadDepth depth);
  // The same on text already in memory; `created` and `modified` stand for
  // the file's creation and last-write times (local, 0 = unknown) and `path`
  // only serves the extension rule of the reader selection.
  static std::unique_ptr<TMovingInfo> LoadFromText(std::string_view text, const std::string &path,
                                                   double created, double modified, bool quick);
  static std::unique_ptr<TMovingInfo> LoadFromText(std::string_view text, const std::string &path,
                                                   double created, double modified,
                                                   TLoadDepth depth);
  // Builds the object from records already parsed (steps after parsing).
  // `info` gives the records and the file's times (StartTime/EndTime).
  static std::unique_ptr<TMovingInfo> FromTrackInfo(const TTrackInfo &info, bool quick);

  // Distance of the last GPS point minus that of the first; 0 without points.
  long double TrackLength() const;
  // km/h; -1 with fewer than two points or no positive duration.
  long double AverageSpeed() const;
  // Counts that survive trimming and merging (from the running numbers).
  int GpsPointCount() const;
  int GsensorPointCount() const;

  // Fits the telemetry to a recording's span: an object without times takes
  // the recording's; one reaching outside [start, end] is trimmed to it.
  // True when anything changed.
  bool FitTo(double start, double end);
};

// The parse records of a GPS point (kind 1) and a G-sensor sample (kind 2).
TTrackRecord RecordOf(const TGpsPoint &p);
TTrackRecord RecordOf(const TGsensorPoint &p);

// Track summary: Begin clears `info` and appends; Append adds the GPS points
// of one more object and recomputes the bounds, length, speed, name and
// description. An object without GPS points leaves `info` unchanged.
void BeginTrackInfo(const TMovingInfo &mi, TTrackInfo &info);
void AppendToTrackInfo(const TMovingInfo &mi, TTrackInfo &info);
// The summary alone (Items left empty): what a writer needs beside the
// points themselves when it takes them straight from the object. Length,
// average speed and description need the distances (TLoadDepth::Distances
// or more); with positions alone they read 0.
void SummarizeTrack(const TMovingInfo &mi, TTrackInfo &info);

// ---- queries ---------------------------------------------------------------

// Drops GPS points and samples outside [start, end], renumbering the rest and
// making distances start at 0 again when anything was removed.
void Trim(TMovingInfo &mi, double start, double end);

// Makes Number and Distance continuous over the recordings of a trip, in
// order; objects without points or samples pass the last values on.
void MergeNumbering(std::vector<TMovingInfo> &infos);
void MergeNumbering(const std::vector<TMovingInfo *> &infos);
void MergeNumbering(std::vector<std::unique_ptr<TMovingInfo>> &infos);

// Takes the altitudes of `source` (for example a GPS logger's track) into
// `target`, interpolating by index between matched points.
void CopyAltitude(TMovingInfo &target, const TMovingInfo &source);

// The interpolated state at `fraction` (0..1) of the object's span. All
// outputs start zeroed; fixValid tells whether the GPS point is a real fix
// (the GPS ran on both sides of the place, or a point lies close to it).
void StateAt(const TMovingInfo &mi, long double fraction, TGpsPoint &gps, TGsensorPoint &gsensor,
             bool &fixValid);
struct TMovingState {
  TGpsPoint Gps;
  TGsensorPoint Gsensor;
  bool FixValid = false;
};
TMovingState StateAt(const TMovingInfo &mi, long double fraction);

// The fraction of the point nearest to (lat, lon) in plain squared degrees,
// when it beats `best` (which is then lowered); else -1.
long double NearestPoint(const TMovingInfo &mi, long double lat, long double lon,
                         long double &best);

// The map's track: stretches split at gaps over 6 s, keeping each stretch's
// ends and points at least `minDistance` metres apart (< 0: automatic,
// min(points / 500, 20) m).
TTrack Thin(const TMovingInfo &mi, long double minDistance);

// Appends the records between two fractions of the span to info.Items in time
// order (GPS as kind 1, samples as kind 2), for the telemetry of a cut
// fragment.
void ExtractRange(const TMovingInfo &mi, long double fromFraction, long double toFraction,
                  TTrackInfo &info);

// One recording of a trip for LoadGroupTelemetry.
struct TGroupTelemetrySource {
  std::string TelemetryPath;  // the recording's telemetry file, may be empty
  std::string ExternalPath;   // a GPS logger track assigned to it, may be empty
  double Start = 0;           // the recording's start and end (local)
  double End = 0;
};

// Loads the telemetry of a trip's recordings in order: each recording's own
// file, else its external track, else an empty object (the result stays
// parallel to `sources`); fits each to its recording, copies altitudes from
// an external track, and merges the numbering. An external track shared by
// several recordings is loaded once.
std::vector<std::unique_ptr<TMovingInfo>> LoadGroupTelemetry(
    const std::vector<TGroupTelemetrySource> &sources);

}  // namespace tachora
