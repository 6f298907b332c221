// TMOVWriter: tracks whose tables were built outside the writer (a
// recording rebuilt from its media data).
#include "container/UnitMOV.h"

namespace tachora {

void TMOVWriter::AddRebuiltTrack(TMOVTrack track, int64_t firstShown) {
  TOutState state;
  // The track starts with its first shown picture, together with the others.
  state.firstShown = firstShown;
  if (track.timeScale > 0) state.startAt = -static_cast<long double>(firstShown) / track.timeScale;
  for (const TMOVTimeRun &r : track.timeToSample) state.samples += r.count;
  state.hasComposition = !track.compositionOffsets.empty();
  track.duration = 0;
  for (const TMOVTimeRun &r : track.timeToSample) track.duration += int64_t(r.count) * r.duration;
  fTracks.push_back(std::move(track));
  fOut.push_back(state);
  SetMovieDuration();
}

}  // namespace tachora
