#include "catalogue/UnitCutterMeta.h"

#include "app/UnitFileSystem.h"
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

std::string FindTelemetryBeside(const std::string &videoPath) {
  return FindTelemetryFor(videoPath);
}

}  // namespace tachora
