// tachora-cli telemetry commands: telemetry (statistics and points of a
// file), convert (the GPS log converter), export (a trip's joined track) and
// state (the interpolated state at a position). Output on stdout is stable
// and machine-readable; messages go to stderr.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>

#include "CliCommands.h"
#include "CliConventions.h"
#include "app/UnitDisplayUnits.h"
#include "app/UnitUtils.h"
#include "telemetry/UnitEmbeddedTelemetry.h"
#include "telemetry/UnitGEvents.h"
#include "telemetry/UnitGpsConverters.h"
#include "telemetry/UnitMovingInfo.h"
#include "telemetry/UnitRecordingTelemetry.h"

namespace tachora::cli {

namespace {

std::string TimeText(double t) {
  return FormatDateTimeMsOrEmpty(t);
}

void PrintPoint(std::ostream &out, const TGpsPoint &p) {
  out << "G\t" << TimeText(p.Time) << '\t' << FormatCoord(p.Lat) << '\t' << FormatCoord(p.Lon)
      << '\t' << FormatFixed(p.Altitude, 3) << '\t' << FormatFixed(p.Course, 3) << '\t'
      << FormatFixed(p.Speed, 3) << '\t' << FormatFixed(p.Distance, 3) << '\t' << p.Number << '\n';
}

void PrintSample(std::ostream &out, const TGsensorPoint &s) {
  out << "S\t" << TimeText(s.Time) << '\t' << FormatFixed(s.X, 4) << '\t' << FormatFixed(s.Y, 4)
      << '\t' << FormatFixed(s.Z, 4) << '\t' << FormatFixed(s.A, 4) << '\t' << s.GpsIndex << '\t'
      << s.Number << '\n';
}

// Loads a file's telemetry, explaining on stderr why there is none. A
// recording gives the telemetry file beside it, else what its camera
// embedded in it.
std::unique_ptr<TMovingInfo> Load(const std::string &file,
                                  TLoadDepth depth = TLoadDepth::Complete) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) {
    std::cerr << "tachora-cli: " << file << ": " << std::strerror(errno) << "\n";
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    std::cerr << "tachora-cli: " << file << ": not a regular file\n";
    return nullptr;
  }
  std::string path = file;
  if (IsRecordingFile(file)) {
    TEmbeddedReport report;
    path = TelemetrySourceFor(file, nullptr, &report);
    if (path.empty()) {
      if (report.Presence == TEmbeddedPresence::Unreadable)
        std::cerr << "tachora-cli: " << file << ": telemetry present but not readable"
                  << (report.Format.empty() ? "" : " (" + report.Format + ")") << "\n";
      else
        std::cerr << "tachora-cli: " << file << ": no telemetry beside or inside the recording\n";
      return nullptr;
    }
  } else if (st.st_size > kMaxTrackFileSize) {
    std::cerr << "tachora-cli: " << file << ": too large for a telemetry file\n";
    return nullptr;
  }
  auto mi = TMovingInfo::LoadFromFile(path, depth);
  if (!mi) std::cerr << "tachora-cli: " << path << ": no telemetry (no reader accepts the file)\n";
  return mi;
}

bool SameFile(const std::string &a, const std::string &b) {
  struct stat sa {
  }, sb{};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// The input path with the part after its last "." (in the file name)
// replaced by the extension.
std::string ReplaceExtension(const std::string &path, const std::string &ext) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return path + "." + ext;
  return path.substr(0, dot + 1) + ext;
}

int Usage(const char *usage) {
  std::cerr << "Usage: tachora-cli " << usage << "\n";
  return 2;
}

// Checks a comma list of writer extensions; empty on error (reported).
std::vector<TGpsInfoConverter *> Writers(const std::string &list) {
  std::vector<TGpsInfoConverter *> out;
  for (const std::string &e : SplitString(list, ',')) {
    const std::string ext(Trim(e));
    if (ext.empty()) continue;
    TGpsInfoConverter *w = FindGpsWriter(ext);
    if (!w) {
      std::cerr << "tachora-cli: unknown format '" << ext
                << "' (known: kml, plt, gpx, dat, nmea)\n";
      return {};
    }
    out.push_back(w);
  }
  if (out.empty()) std::cerr << "tachora-cli: no output format given\n";
  return out;
}

// ---- telemetry ---------------------------------------------------------------

constexpr const char *kTelemetryUsage =
    "telemetry [--points] [--events] [--threshold G] [--units metric|imperial] [--json] FILE";

// The G-force events as JSON objects.
std::vector<std::string> EventsJson(const std::vector<TGEvent> &events) {
  std::vector<std::string> out;
  for (const TGEvent &e : events)
    out.push_back(TJsonObject()
                      .Text("start", TimeText(e.Start))
                      .Text("end", TimeText(e.End))
                      .Text("peak_time", TimeText(e.PeakTime))
                      .Number("peak_g", FormatFixed(e.PeakG, 3))
                      .Str());
  return out;
}

// The statistics (and points) under the keys the manual page lists.
std::string TelemetryJson(const std::string &file, const TMovingInfo &mi, bool points) {
  const long double avg = mi.AverageSpeed();
  TJsonObject o;
  o.Text("file", file)
      .Text("reader", mi.ReaderName)
      .Int("gps_points", mi.GpsPointCount())
      .Int("gsensor_points", mi.GsensorPointCount())
      .Text("start", TimeText(mi.StartTime))
      .Text("end", TimeText(mi.EndTime))
      .Number("track_length_m", FormatFixed(mi.TrackLength(), 3))
      .Number("average_speed_kmh", avg < 0 ? std::string("-1") : FormatFixed(avg, 3))
      .Number("gsensor_period_s", FormatFixed(mi.GsensorPeriod * kSecPerDay, 6));
  if (points) {
    std::vector<std::string> gps, gsensor;
    for (const auto &p : mi.GpsPoints)
      gps.push_back(TJsonObject()
                        .Text("time", TimeText(p.Time))
                        .Number("lat", FormatCoord(p.Lat))
                        .Number("lon", FormatCoord(p.Lon))
                        .Number("altitude", FormatFixed(p.Altitude, 3))
                        .Number("course", FormatFixed(p.Course, 3))
                        .Number("speed", FormatFixed(p.Speed, 3))
                        .Number("distance", FormatFixed(p.Distance, 3))
                        .Int("number", p.Number)
                        .Str());
    for (const auto &g : mi.GsensorPoints)
      gsensor.push_back(TJsonObject()
                            .Text("time", TimeText(g.Time))
                            .Number("x", FormatFixed(g.X, 4))
                            .Number("y", FormatFixed(g.Y, 4))
                            .Number("z", FormatFixed(g.Z, 4))
                            .Number("a", FormatFixed(g.A, 4))
                            .Int("gps_index", g.GpsIndex)
                            .Int("number", g.Number)
                            .Str());
    o.Raw("gps", JsonArray(gps)).Raw("gsensor", JsonArray(gsensor));
  }
  return o.Str();
}

int RunTelemetry(const std::vector<std::string> &args) {
  bool points = false, json = false, events = false;
  float threshold = kEventThresholds[kDefaultEventLevel];
  TUnits units = TUnits::Metric;
  std::string file;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    if (a == "--points") {
      points = true;
    } else if (a == "--json") {
      json = true;
    } else if (a == "--events") {
      events = true;
    } else if (a == "--threshold") {
      const long double g = i + 1 < args.size() ? ParseFloatDot(args[++i], -1) : -1;
      if (!(g > 0 && g <= kMaxSaneG)) {
        std::cerr << "tachora-cli telemetry: --threshold needs an acceleration in g above 0\n";
        return 2;
      }
      threshold = static_cast<float>(g);
      events = true;
    } else if (a == "--units") {
      if (i + 1 >= args.size() || !ParseUnits(args[++i], units)) {
        std::cerr << "tachora-cli telemetry: --units must be 'metric' or 'imperial'\n";
        return 2;
      }
    } else if (!a.empty() && a[0] == '-' && a != "-")
      return Usage(kTelemetryUsage);
    else if (file.empty())
      file = a;
    else
      return Usage(kTelemetryUsage);
  }
  if (file.empty()) return Usage(kTelemetryUsage);
  auto mi = Load(file);
  if (!mi) return 1;
  const std::vector<TGEvent> found =
      events ? DetectTripGEvents({mi.get()}, threshold) : std::vector<TGEvent>{};
  const long double avg = mi->AverageSpeed();
  const bool imperial = units == TUnits::Imperial;
  if (json) {
    std::string text = TelemetryJson(file, *mi, points);
    TJsonObject extra;
    if (imperial)
      extra.Number("track_length_mi", FormatFixed(DisplayDistance(mi->TrackLength(), units), 3))
          .Number("average_speed_mph",
                  avg < 0 ? std::string("-1") : FormatFixed(DisplaySpeed(avg, units), 3));
    if (events) extra.Raw("events", JsonArray(EventsJson(found)));
    const std::string more = extra.Str();
    if (more.size() > 2) text = text.substr(0, text.size() - 1) + "," + more.substr(1);
    std::cout << text << "\n" << std::flush;
    return std::cout ? 0 : 1;
  }
  std::cout << "reader: " << mi->ReaderName << "\n"
            << "gps_points: " << mi->GpsPointCount() << "\n"
            << "gsensor_points: " << mi->GsensorPointCount() << "\n"
            << "start: " << TimeText(mi->StartTime) << "\n"
            << "end: " << TimeText(mi->EndTime) << "\n";
  if (imperial)
    std::cout << "track_length_mi: " << FormatFixed(DisplayDistance(mi->TrackLength(), units), 3)
              << "\n"
              << "average_speed_mph: "
              << (avg < 0 ? std::string("-1") : FormatFixed(DisplaySpeed(avg, units), 3)) << "\n";
  else
    std::cout << "track_length_m: " << FormatFixed(mi->TrackLength(), 3) << "\n"
              << "average_speed_kmh: " << (avg < 0 ? std::string("-1") : FormatFixed(avg, 3))
              << "\n";
  std::cout << "gsensor_period_s: " << FormatFixed(mi->GsensorPeriod * kSecPerDay, 6) << "\n";
  if (events) {
    std::cout << "events: " << found.size() << "\n";
    for (const TGEvent &e : found)
      std::cout << "E\t" << TimeText(e.Start) << '\t' << TimeText(e.PeakTime) << '\t'
                << FormatFixed(e.PeakG, 3) << '\n';
  }
  if (points) {
    for (const auto &p : mi->GpsPoints) PrintPoint(std::cout, p);
    for (const auto &s : mi->GsensorPoints) PrintSample(std::cout, s);
  }
  std::cout.flush();
  return std::cout ? 0 : 1;
}

// ---- convert -------------------------------------------------------------------

constexpr const char *kConvertUsage =
    "convert --to FORMATS [--overwrite] FILE...  (FORMATS: kml,plt,gpx,dat,nmea)";

int RunConvert(const std::vector<std::string> &args) {
  std::string formats;
  std::vector<std::string> files;
  bool overwrite = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--to" && i + 1 < args.size())
      formats = args[++i];
    else if (args[i] == "--overwrite")
      overwrite = true;
    else if (args[i].rfind("--to=", 0) == 0)
      formats = args[i].substr(5);
    else if (!args[i].empty() && args[i][0] == '-')
      return Usage(kConvertUsage);
    else
      files.push_back(args[i]);
  }
  if (formats.empty() || files.empty()) return Usage(kConvertUsage);
  const auto writers = Writers(formats);
  if (writers.empty()) return 2;
  // Only what the writers put in their text is derived (a PLT needs no distances).
  const TLoadDepth depth = DepthFor(writers);
  int status = 0;
  for (const auto &file : files) {
    auto mi = Load(file, depth);
    if (!mi) {
      std::cerr << "tachora-cli: " << file << ": skipped\n";
      status = 1;
      continue;
    }
    if (mi->GpsPoints.empty()) {
      std::cerr << "tachora-cli: " << file << ": no GPS points, skipped\n";
      status = 1;
      continue;
    }
    for (TGpsInfoConverter *w : writers) {
      const std::string out = ReplaceExtension(file, w->Extension());
      // Converting a .dat to .dat would otherwise replace the source itself.
      if (out == file || SameFile(out, file)) {
        std::cerr << "tachora-cli: " << out << ": is the input file, not overwritten\n";
        status = 1;
        continue;
      }
      // A file of that name may be the recorder's own (a .dat with G-sensor
      // data beside a .gpx): replaced only when asked for.
      std::error_code ec;
      if (!overwrite && std::filesystem::exists(std::filesystem::symlink_status(out, ec))) {
        std::cerr << "tachora-cli: " << out << ": exists, not replaced (--overwrite replaces it)\n";
        status = 1;
        continue;
      }
      std::string error;
      if (!WriteTextFile(out, WriteTrackText(*w, *mi), &error)) {
        std::cerr << "tachora-cli: " << error << "\n";  // the error names the file
        status = 1;
        continue;
      }
      std::cout << out << "\n";
    }
  }
  std::cout.flush();
  return status;
}

// ---- export --------------------------------------------------------------------

constexpr const char *kExportUsage =
    "export --format gpx|kml|plt|dat -o OUT FILE...  (FILE: a telemetry file or a recording)";

int RunExport(const std::vector<std::string> &args) {
  std::string format, out;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--format" && i + 1 < args.size())
      format = args[++i];
    else if (args[i] == "-o" && i + 1 < args.size())
      out = args[++i];
    else if (!args[i].empty() && args[i][0] == '-')
      return Usage(kExportUsage);
    else
      files.push_back(args[i]);
  }
  if (format.empty() || out.empty() || files.empty()) return Usage(kExportUsage);
  const auto writers = Writers(format);
  if (writers.size() != 1) {
    if (writers.size() > 1) std::cerr << "tachora-cli: export takes one format\n";
    return 2;
  }
  TGpsInfoConverter &w = *writers[0];
  TTrackInfo info;
  bool first = true;
  int status = 0;
  for (const auto &file : files) {
    auto mi = Load(file);
    if (!mi) {
      status = 1;
      continue;
    }
    if (first)
      BeginTrackInfo(*mi, info);
    else
      AppendToTrackInfo(*mi, info);
    first = false;
  }
  // A single fix is no track.
  if (info.Items.size() <= 1) {
    std::cerr << "tachora-cli: no GPS info to export\n";
    return 1;
  }
  if (!EndsWithNoCase(out, "." + w.Extension())) out += "." + w.Extension();
  for (const auto &file : files)
    if (SameFile(out, file)) {
      std::cerr << "tachora-cli: " << out << ": is an input file, not overwritten\n";
      return 1;
    }
  std::string error;
  if (!WriteTextFile(out, WriteTrackText(w, info), &error)) {
    std::cerr << "tachora-cli: " << error << "\n";  // the error names the file
    return 1;
  }
  std::cout << out << "\n";
  return status;
}

// ---- state -----------------------------------------------------------------------

constexpr const char *kStateUsage = "state FILE FRACTION";

int RunState(const std::vector<std::string> &args) {
  if (args.size() != 2) return Usage(kStateUsage);
  const long double bad = -1e30L;
  const long double fraction = ParseFloatDot(args[1], bad);
  if (fraction == bad) {
    std::cerr << "tachora-cli: '" << args[1] << "' is not a number\n";
    return 2;
  }
  auto mi = Load(args[0]);
  if (!mi) return 1;
  const TMovingState s = StateAt(*mi, fraction);
  std::cout << "fix_valid: " << (s.FixValid ? "true" : "false") << "\n";
  PrintPoint(std::cout, s.Gps);
  PrintSample(std::cout, s.Gsensor);
  return 0;
}

const TCliCommandRegistrar kTelemetry({"telemetry", kTelemetryUsage, RunTelemetry});
const TCliCommandRegistrar kConvert({"convert", kConvertUsage, RunConvert});
const TCliCommandRegistrar kExport({"export", kExportUsage, RunExport});
const TCliCommandRegistrar kState({"state", kStateUsage, RunState});

}  // namespace

}  // namespace tachora::cli
