// Helpers of the telemetry tests: time zones, temporary folders, hand-built
// tracks and running outside programs.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/UnitUtils.h"
#include "telemetry/UnitMovingInfo.h"

namespace tachora::test {

constexpr double kSec = 1.0 / 86400.0;

// Sets TZ for the rest of the test program and retakes the offset.
inline void SetTimeZone(const char *tz) {
  setenv("TZ", tz, 1);
  InitLocalTimeOffset();
}

// A fresh folder under the build tree, removed with the object.
class TTempDir {
 public:
  TTempDir() {
    std::string tmpl = std::string(TACHORA_BUILD_DIR) + "/tmp-telemetry-XXXXXX";
    Path = mkdtemp(tmpl.data()) ? tmpl : std::string();
  }
  ~TTempDir() {
    std::error_code ec;
    if (!Path.empty()) std::filesystem::remove_all(Path, ec);
  }
  std::string File(const std::string &name) const { return Path + "/" + name; }
  std::string Path;
};

inline void WriteFile(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline bool HaveProgram(const char *name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command and returns its exit status; stdout into `out`.
inline int RunCommand(const std::string &cmd, std::string *out = nullptr) {
  FILE *p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  const int st = pclose(p);
  if (out) *out = text;
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// A GPS point at `sec` seconds after 2010-05-01 12:00:00 local.
inline TGpsPoint Point(double sec, long double lat, long double lon, long double course = -1,
                       long double speed = -1, long double alt = 0) {
  TGpsPoint p;
  p.Time = EncodeDate(2010, 5, 1) + EncodeTime(12, 0, 0, 0) + sec * kSec;
  p.Lat = lat;
  p.Lon = lon;
  p.Course = course;
  p.Speed = speed;
  p.Altitude = alt;
  return p;
}

inline double At(double sec) {
  return EncodeDate(2010, 5, 1) + EncodeTime(12, 0, 0, 0) + sec * kSec;
}
// Seconds of a date-time after 2010-05-01 12:00:00 local.
inline double Seconds(double t) {
  return (t - At(0)) * 86400;
}

// An object holding `points` with distances, numbers and the span filled as
// loading does it.
inline TMovingInfo Track(std::vector<TGpsPoint> points) {
  TMovingInfo mi;
  for (size_t i = 0; i < points.size(); ++i) {
    points[i].Number = static_cast<int32_t>(i);
    points[i].Distance =
        i == 0 ? 0
               : points[i - 1].Distance +
                     Distance(points[i - 1].Lat, points[i - 1].Lon, points[i].Lat, points[i].Lon);
  }
  mi.GpsPoints = std::move(points);
  if (!mi.GpsPoints.empty()) {
    mi.StartTime = mi.GpsPoints.front().Time;
    mi.EndTime = mi.GpsPoints.back().Time;
  }
  return mi;
}

}  // namespace tachora::test
