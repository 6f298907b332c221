#include "telemetry/UnitGpsConverterBlackVue.h"

#include "app/UnitUtils.h"
#include "telemetry/UnitEmbeddedReaders.h"

namespace tachora {

namespace {

// Hands the records to the sink, fixes moved from UTC to local time.
bool Deliver(TEmbeddedTrack &t, TTrackSink &sink) {
  FilterFixes(t);
  sink.Expect(t.Fixes());
  for (TTrackRecord rec : t.Items) {
    rec.Time = rec.Kind == kRecordGps ? UtcToLocal(rec.Time) : 0;
    if (!sink.Add(rec)) break;
  }
  if (sink.Count() == 0 || sink.Overflowed()) {
    sink.Clear();
    return false;
  }
  return true;
}

}  // namespace

bool TGpsInfoConverterBlackVueGps::CanRead(std::string_view header) {
  if (header.empty() || header[0] != '[') return false;
  size_t i = 1;
  while (i < header.size() && header[i] >= '0' && header[i] <= '9') ++i;
  return i > 1 && i + 2 < header.size() && header[i] == ']' && header[i + 1] == '$';
}

bool TGpsInfoConverterBlackVueGps::Read(std::string_view text, TTrackSink &sink) {
  TEmbeddedTrack t;
  ReadBlackVue(text, {}, t);
  return Deliver(t, sink);
}

bool TGpsInfoConverterBlackVue3gf::Read(std::string_view data, TTrackSink &sink) {
  if (data.size() < 10) return false;
  TEmbeddedTrack t;
  ReadBlackVue({}, data, t);
  return Deliver(t, sink);
}

}  // namespace tachora
