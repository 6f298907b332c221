#include "catalogue/UnitCutterMeta.h"

#include <cmath>

#include "app/UnitFileSystem.h"
#include "app/UnitLang.h"
#include "telemetry/UnitGpsConverters.h"
#include "telemetry/UnitMovingInfo.h"

namespace tachora {

std::string TMovingInfoMetaSource::MetaText(const TCutRecording &recording, long double from,
                                            long double to) {
  const auto *mi = static_cast<const TMovingInfo *>(recording.telemetry);
  if (!mi) return {};
  TTrackInfo info;
  ExtractRange(*mi, from, to, info);
  if (info.Items.empty()) return {};
  return WriteTrackText(DefaultGpsWriter(), info);
}

std::vector<std::string> TMovingInfoMetaSource::Captions(const TCutRecording &recording,
                                                         long double from, long double to,
                                                         size_t count) {
  const auto *mi = static_cast<const TMovingInfo *>(recording.telemetry);
  if (!mi || count == 0 || !(mi->StartTime > 0) || !(mi->EndTime >= mi->StartTime)) return {};
  const std::string unit = LangText("KmetersPerH");
  std::vector<std::string> out;
  out.reserve(count);
  for (size_t k = 0; k < count; ++k) {
    // The state at the middle of each second of the part.
    const long double f =
        from + (to - from) * (static_cast<long double>(k) + 0.5L) / static_cast<long double>(count);
    const TMovingState s = StateAt(*mi, f);
    const double when =
        s.Gps.Time > 0 ? s.Gps.Time
                       : mi->StartTime + static_cast<double>(f) * (mi->EndTime - mi->StartTime);
    std::string text = FormatTime(when);
    if (s.FixValid && s.Gps.Speed >= 0)
      text += "  " + std::to_string(std::lround(static_cast<double>(s.Gps.Speed))) + " " + unit;
    out.push_back(std::move(text));
  }
  return out;
}

std::string FindTelemetryBeside(const std::string &videoPath) {
  return FindTelemetryFor(videoPath);
}

}  // namespace tachora
