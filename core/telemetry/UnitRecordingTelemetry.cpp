#include "telemetry/UnitRecordingTelemetry.h"

#include <cctype>
#include <cmath>
#include <vector>

#include "app/UnitFileSystem.h"
#include "telemetry/UnitEmbeddedTelemetry.h"
#include "telemetry/UnitMovingInfo.h"

namespace tachora {

namespace {

bool IsDigit(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

bool IsSeparator(char c) {
  return c == '_' || c == '-';
}

int Number(const std::string &digits, size_t at, size_t count) {
  int v = 0;
  for (size_t i = 0; i < count; ++i) v = v * 10 + (digits[at + i] - '0');
  return v;
}

// The digits of a stamp starting at `at`: groups of digits joined by single
// separators, up to the first other character. False when a group runs on
// past `limit` digits (a longer number is no stamp).
bool CollectDigits(const std::string &name, size_t at, size_t limit, std::string &digits,
                   std::vector<size_t> &groups) {
  digits.clear();
  groups.clear();
  size_t i = at;
  while (i < name.size()) {
    size_t n = 0;
    while (i < name.size() && IsDigit(name[i])) {
      digits += name[i++];
      ++n;
    }
    if (n == 0) break;
    groups.push_back(n);
    if (digits.size() >= limit) return digits.size() == limit;
    if (i + 1 < name.size() && IsSeparator(name[i]) && IsDigit(name[i + 1]))
      ++i;
    else
      break;
  }
  return true;
}

TDateTime StampFrom(int year, int month, int day, int hour, int minute, int second) {
  if (year < 1990 || year > 2099) return 0;
  if (!IsValidDate(year, month, day) || !IsValidTime(hour, minute, second, 0)) return 0;
  return EncodeDate(year, month, day) + EncodeTime(hour, minute, second, 0);
}

}  // namespace

TDateTime NameStampTime(const std::string &path) {
  const size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string digits;
  std::vector<size_t> groups;
  for (size_t at = 0; at < name.size(); ++at) {
    if (!IsDigit(name[at]) || (at > 0 && IsDigit(name[at - 1]))) continue;
    if (CollectDigits(name, at, 14, digits, groups) && digits.size() == 14) {
      const TDateTime t =
          StampFrom(Number(digits, 0, 4), Number(digits, 4, 2), Number(digits, 6, 2),
                    Number(digits, 8, 2), Number(digits, 10, 2), Number(digits, 12, 2));
      if (t > 0) return t;
    }
    // Two-digit years only in the plain form YYMMDD_hhmmss.
    if (CollectDigits(name, at, 12, digits, groups) && groups.size() == 2 && groups[0] == 6 &&
        groups[1] == 6) {
      const TDateTime t =
          StampFrom(2000 + Number(digits, 0, 2), Number(digits, 2, 2), Number(digits, 4, 2),
                    Number(digits, 6, 2), Number(digits, 8, 2), Number(digits, 10, 2));
      if (t > 0) return t;
    }
  }
  return 0;
}

double LocalClockCorrection(TDateTime nameStamp, TDateTime firstFix) {
  const double offset = LocalTimeOffset();
  if (!(nameStamp > 0) || !(firstFix > 0) || offset == 0) return 0;
  constexpr double kQuarter = 15.0 / 1440.0;
  // The first fix may come up to about 13 minutes after the recording
  // began and a little before its stamp (clocks drift apart).
  constexpr double kEarly = 2.0 / 1440.0;
  const double quarters = std::floor((firstFix - nameStamp + kEarly) / kQuarter);
  const double snapped = quarters * kQuarter;
  if (quarters == 0 || std::fabs(snapped - offset) > kQuarter / 2) return 0;
  return -offset;
}

bool CorrectLocalClock(TMovingInfo &mi, const std::string &path) {
  const TDateTime stamp = NameStampTime(path);
  if (!(stamp > 0) || mi.GpsPoints.empty() || !IsRecordingFile(path)) return false;
  double first = 0;
  for (const TGpsPoint &p : mi.GpsPoints)
    if (p.Time > 0 && (first == 0 || p.Time < first)) first = p.Time;
  const double shift = LocalClockCorrection(stamp, first);
  if (shift == 0) return false;
  for (TGpsPoint &p : mi.GpsPoints)
    if (p.Time > 0) p.Time += shift;
  for (TGsensorPoint &s : mi.GsensorPoints)
    if (s.Time > 0) s.Time += shift;
  if (mi.StartTime > 0) mi.StartTime += shift;
  if (mi.EndTime > 0) mi.EndTime += shift;
  return true;
}

std::string TelemetrySourceFor(const std::string &videoPath, TNoCaseDirCache *cache,
                               TEmbeddedReport *report) {
  if (report) *report = TEmbeddedReport{};
  std::string sidecar = FindTelemetryFor(videoPath, cache);
  if (!sidecar.empty()) return sidecar;
  return ProbeEmbeddedTelemetry(videoPath, report) == TEmbeddedPresence::Readable ? videoPath
                                                                                  : std::string();
}

}  // namespace tachora
