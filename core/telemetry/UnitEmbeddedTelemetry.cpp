#include "telemetry/UnitEmbeddedTelemetry.h"

namespace tachora {

// The readers come in their own change; until then no recording holds any.
bool IsRecordingFile(const std::string &) {
  return false;
}

TEmbeddedPresence ProbeEmbeddedTelemetry(const std::string &, TEmbeddedReport *report) {
  if (report) *report = TEmbeddedReport{};
  return TEmbeddedPresence::None;
}

bool ReadEmbeddedTelemetryInto(const std::string &, TTrackSink &sink, TEmbeddedReport *report) {
  sink.Clear();
  if (report) *report = TEmbeddedReport{};
  return false;
}

}  // namespace tachora
