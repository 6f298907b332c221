// A card with a trip of two 4-second clips and a 4-second stop between them
// (12 seconds from the first start to the second end), each clip with its
// .dat telemetry beside it: one fix a second over the clip. The clips'
// pictures and sounds differ, so a sample copied from either can be told
// apart byte for byte. Also the comparison of a cut's samples with their
// sources.
#pragma once

#include <fstream>
#include <string>

#include "CatalogueTestCard.h"
#include "TestMedia.h"
#include "container/UnitMOV.h"

namespace tachora::test {

struct TGapTrip {
  static constexpr double kClip = 4, kGap = 4;  // seconds
  TDateTime Start = EncodeDate(2024, 5, 1) + EncodeTime(10, 0, 0, 0);
  std::string First, Second;  // paths on the card

  TDateTime At(double seconds) const { return Start + seconds / kSecPerDay; }

  explicit TGapTrip(const TTestCard &card) {
    TMediaRecipe s;
    s.seconds = kClip;
    const std::string a = GenerateMovie("gap-trip-a", s);
    s.extraArgs = "-vf negate -af volume=0.5";
    const std::string b = GenerateMovie("gap-trip-b", s);
    First = card.CopyOf(a, "DCIM/100MEDIA/FILE0001.MOV");
    Second = card.CopyOf(b, "DCIM/100MEDIA/FILE0002.MOV");
    // Recorders close a clip when it ends: the modification time is its end.
    TTestCard::SetTimes(First, At(kClip));
    TTestCard::SetTimes(Second, At(kClip + kGap + kClip));
    card.Dat("DCIM/100MEDIA/FILE0001.dat", At(0), static_cast<int>(kClip));
    card.Dat("DCIM/100MEDIA/FILE0002.dat", At(kClip + kGap), static_cast<int>(kClip));
  }
};

inline std::string WholeFile(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// How many samples of `outTrack` in `out`, from its sample `outFrom` on, are
// the samples of `srcTrack` in `source` from `srcFrom` on, byte for byte.
inline uint32_t SameSamples(const std::string &out, int outTrack, uint32_t outFrom,
                            const std::string &source, int srcTrack, uint32_t srcFrom) {
  const TMOVReader o(out, false), s(source, false);
  if (outTrack >= static_cast<int>(o.Tracks().size()) ||
      srcTrack >= static_cast<int>(s.Tracks().size()))
    return 0;
  const TMOVTrack &ot = o.Tracks()[static_cast<size_t>(outTrack)];
  const TMOVTrack &st = s.Tracks()[static_cast<size_t>(srcTrack)];
  const std::string ob = WholeFile(out), sb = WholeFile(source);
  uint32_t n = 0;
  for (; outFrom + n < ot.SampleCount() && srcFrom + n < st.SampleCount(); ++n) {
    const TMOVSample a = ot.Sample(outFrom + n), b = st.Sample(srcFrom + n);
    if (a.size != b.size || a.offset + a.size > static_cast<int64_t>(ob.size()) ||
        b.offset + b.size > static_cast<int64_t>(sb.size()) ||
        ob.compare(static_cast<size_t>(a.offset), a.size, sb, static_cast<size_t>(b.offset),
                   b.size) != 0)
      break;
  }
  return n;
}

inline uint32_t SampleCount(const std::string &path, int track) {
  const TMOVReader r(path, false);
  return track < static_cast<int>(r.Tracks().size())
             ? r.Tracks()[static_cast<size_t>(track)].SampleCount()
             : 0;
}

}  // namespace tachora::test
