// TMOVWriter, second half: the movie atom after the media data, modelled on
// the first recording's (its atoms copied with the tables, durations, time
// scales and edit lists of the new movie), and the file type at the start.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "container/UnitMOV.h"

namespace tachora {

namespace {
void PutU32(uint8_t *p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

void PutU64(uint8_t *p, uint64_t v) {
  PutU32(p, uint32_t(v >> 32));
  PutU32(p + 4, uint32_t(v));
}

uint32_t GetU32(const uint8_t *p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
}  // namespace

void TMOVWriter::OpenAtom(uint32_t type) {
  fOpenAtoms.emplace_back(fStream->Position(), type);
  fStream->WriteU32(0);
  fStream->WriteU32(type);
}

void TMOVWriter::CloseAtom() {
  const auto [start, type] = fOpenAtoms.back();
  fOpenAtoms.pop_back();
  const int64_t end = fStream->Position();
  const int64_t size = end - start;
  if (size > int64_t(std::numeric_limits<uint32_t>::max())) throw TMOVWriteError("atom too large");
  uint8_t b[4];
  PutU32(b, static_cast<uint32_t>(size));
  fStream->WriteAt(start, b, 4);
  fStream->Seek(end);
}

void TMOVWriter::WriteTableAtom(uint32_t type) {
  static const TMOVTrack kEmpty;
  const TMOVTrack &t = fCurrentTrack ? *fCurrentTrack : kEmpty;
  const uint32_t samples = fCurrentTrack ? fOut[fCurrentTrack - fTracks.data()].samples : 0;
  TMOVStream &w = *fStream;
  if (type == FourCC("stco") || type == FourCC("co64")) {
    const bool wide = !t.chunkOffsets.empty() && w.Position() > fLimit;
    OpenAtom(wide ? FourCC("co64") : FourCC("stco"));
    WriteZero32();
    w.WriteU32(static_cast<uint32_t>(t.chunkOffsets.size()));
    for (int64_t o : t.chunkOffsets) {
      if (wide)
        w.WriteU64(static_cast<uint64_t>(o));
      else
        w.WriteU32(static_cast<uint32_t>(o));
    }
  } else if (type == FourCC("stsc")) {
    OpenAtom(type);
    WriteZero32();
    w.WriteU32(static_cast<uint32_t>(t.sampleToChunk.size()));
    for (const TMOVChunkRun &r : t.sampleToChunk) {
      w.WriteU32(r.firstChunk + 1);
      w.WriteU32(r.samplesPerChunk);
      w.WriteU32(1);
    }
  } else if (type == FourCC("stss")) {
    OpenAtom(type);
    WriteZero32();
    w.WriteU32(static_cast<uint32_t>(t.syncSamples.size()));
    for (uint32_t i : t.syncSamples) w.WriteU32(i + 1);
  } else if (type == FourCC("stsz")) {
    OpenAtom(type);
    WriteZero32();
    if (t.constantSize && !t.sampleSizes.empty()) {
      w.WriteU32(t.sampleSizes[0]);
      w.WriteU32(samples);
    } else {
      w.WriteU32(0);
      w.WriteU32(static_cast<uint32_t>(t.sampleSizes.size()));
      for (uint32_t z : t.sampleSizes) w.WriteU32(z);
    }
  } else {  // stts, ctts
    const auto &runs = type == FourCC("stts") ? t.timeToSample : t.compositionOffsets;
    OpenAtom(type);
    WriteZero32();
    w.WriteU32(static_cast<uint32_t>(runs.size()));
    for (const TMOVTimeRun &r : runs) {
      w.WriteU32(r.count);
      w.WriteU32(r.duration);
    }
  }
  CloseAtom();
}

void TMOVWriter::WriteMovie(const TMOVReader &templ) {
  if (!fStream) throw TMOVError("writer is closed");
  if (!templ.HasMovie() || !templ.Stream()) throw TMOVError("no movie to model the new one on");
  fStream->Flush();
  WriteFileType(templ);
  PlanEdits();
  WriteSubtitleSamples();
  // The movie atom itself is written here: its children are copied up to
  // the end of the last one the reader could walk, which may lie before the
  // end the atom's header claims in a damaged file.
  TMOVStream &in = *templ.Stream();
  TAtomHeader movie;
  if (!ReadAtomHeader(in, templ.MovieAtomOffset(), in.Size(), true, movie))
    throw TMOVError("the movie atom cannot be read again");
  fCurrentTrack = nullptr;
  fOpenAtoms.clear();
  OpenAtom(FourCC("moov"));
  CopyAtoms(templ, templ.MovieAtomOffset() + templ.MovieAtomSize());
  fOpenAtoms.resize(1);
  WriteSubtitleTrack();
  CloseAtom();
  fStream->Flush();
  if (fStream->Size() != fStream->Position()) fStream->SetSize(fStream->Position());
}

void TMOVWriter::WriteSubtitleSamples() {
  fSubtitleSizes.clear();
  fSubtitleOffset = -1;
  if (fSubtitles.empty() || fDurationMs <= 0) return;
  // Only what the movie shows: the last sample ends with the movie.
  std::vector<TMOVTextSample> shown;
  int64_t at = 0;
  for (TMOVTextSample &s : fSubtitles) {
    if (at >= fDurationMs || s.durationMs == 0) continue;
    s.durationMs = static_cast<uint32_t>(std::min<int64_t>(s.durationMs, fDurationMs - at));
    at += s.durationMs;
    if (s.text.size() > 0xFFFF) s.text.resize(0xFFFF);
    shown.push_back(std::move(s));
  }
  fSubtitles = std::move(shown);
  if (fSubtitles.empty()) return;
  StartMediaData();
  fSubtitleOffset = fStream->Position();
  for (const TMOVTextSample &s : fSubtitles) {
    // A timed-text sample: the text's length (16 bits) and the text.
    const uint8_t length[2] = {uint8_t(s.text.size() >> 8), uint8_t(s.text.size())};
    fStream->Write(length, 2);
    fStream->Write(s.text.data(), s.text.size());
    fSubtitleSizes.push_back(static_cast<uint32_t>(s.text.size() + 2));
  }
  EndMediaData();
}

void TMOVWriter::WriteSubtitleTrack() {
  if (fSubtitleSizes.empty() || fTimeScale <= 0) return;
  TMOVStream &w = *fStream;
  uint32_t id = 1, width = 0, height = 0;
  for (const TMOVTrack &t : fTracks) {
    id = std::max(id, t.trackId + 1);
    if (t.kind == kKindVideo && width == 0) {
      width = static_cast<uint32_t>(std::max(t.width, 0));
      height = static_cast<uint32_t>(std::max(t.height, 0));
    }
  }
  int64_t mediaDuration = 0;
  for (const TMOVTextSample &s : fSubtitles) mediaDuration += s.durationMs;
  const int64_t movieDuration = mediaDuration * fTimeScale / 1000;
  auto zeros = [&w](int n) {
    for (int i = 0; i < n; ++i) w.WriteU32(0);
  };
  auto u16 = [&w](uint16_t v) {
    const uint8_t b[2] = {uint8_t(v >> 8), uint8_t(v)};
    w.Write(b, 2);
  };
  OpenAtom(FourCC("trak"));
  OpenAtom(FourCC("tkhd"));
  w.WriteU32(0x00000002);  // in the movie, not enabled: off until chosen
  zeros(2);                // creation and modification time
  w.WriteU32(id);
  zeros(1);
  w.WriteU32(static_cast<uint32_t>(movieDuration));
  zeros(2);
  w.WriteU32(0);  // layer, alternate group
  w.WriteU32(0);  // volume, reserved
  static const uint32_t kMatrix[9] = {0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};
  for (uint32_t m : kMatrix) w.WriteU32(m);
  w.WriteU32(width << 16);
  w.WriteU32((height / 8) << 16);
  CloseAtom();
  OpenAtom(FourCC("mdia"));
  OpenAtom(FourCC("mdhd"));
  zeros(3);
  w.WriteU32(1000);
  w.WriteU32(static_cast<uint32_t>(mediaDuration));
  w.WriteU32(0x55C40000);  // language "und"
  CloseAtom();
  OpenAtom(FourCC("hdlr"));
  zeros(1);
  w.WriteU32(0);
  w.WriteU32(FourCC("sbtl"));
  zeros(3);
  w.Write("Telemetry\0", 10);
  CloseAtom();
  OpenAtom(FourCC("minf"));
  OpenAtom(FourCC("nmhd"));
  zeros(1);
  CloseAtom();
  OpenAtom(FourCC("dinf"));
  OpenAtom(FourCC("dref"));
  zeros(1);
  w.WriteU32(1);
  OpenAtom(FourCC("url "));
  w.WriteU32(1);  // the data is in this file
  CloseAtom();
  CloseAtom();
  CloseAtom();
  OpenAtom(FourCC("stbl"));
  OpenAtom(FourCC("stsd"));
  zeros(1);
  w.WriteU32(1);
  OpenAtom(FourCC("tx3g"));
  w.WriteU32(0);
  u16(0);
  u16(1);                                // data reference
  w.WriteU32(0);                         // display flags
  const uint8_t justify[2] = {1, 0xFF};  // centred, at the bottom
  w.Write(justify, 2);
  w.WriteU32(0);  // background: transparent
  zeros(2);       // text box: the whole track
  u16(0);         // style: characters 0 ... 0, font 1, plain, 18 px, white
  u16(0);
  u16(1);
  const uint8_t style[6] = {0, 18, 0xFF, 0xFF, 0xFF, 0xFF};
  w.Write(style, 6);
  OpenAtom(FourCC("ftab"));
  u16(1);
  u16(1);
  const char kFont[] = "Sans-Serif";
  const uint8_t fontLength = sizeof kFont - 1;
  w.Write(&fontLength, 1);
  w.Write(kFont, fontLength);
  CloseAtom();
  CloseAtom();
  CloseAtom();
  OpenAtom(FourCC("stts"));
  zeros(1);
  std::vector<TMOVTimeRun> runs;
  for (const TMOVTextSample &s : fSubtitles) {
    if (runs.empty() || runs.back().duration != s.durationMs) runs.push_back({0, s.durationMs});
    ++runs.back().count;
  }
  w.WriteU32(static_cast<uint32_t>(runs.size()));
  for (const TMOVTimeRun &r : runs) {
    w.WriteU32(r.count);
    w.WriteU32(r.duration);
  }
  CloseAtom();
  const uint32_t count = static_cast<uint32_t>(fSubtitleSizes.size());
  OpenAtom(FourCC("stsc"));
  zeros(1);
  w.WriteU32(1);
  w.WriteU32(1);
  w.WriteU32(count);
  w.WriteU32(1);
  CloseAtom();
  OpenAtom(FourCC("stsz"));
  zeros(2);
  w.WriteU32(count);
  for (uint32_t z : fSubtitleSizes) w.WriteU32(z);
  CloseAtom();
  const bool wide = fSubtitleOffset > int64_t(std::numeric_limits<uint32_t>::max());
  OpenAtom(wide ? FourCC("co64") : FourCC("stco"));
  zeros(1);
  w.WriteU32(1);
  if (wide)
    w.WriteU64(static_cast<uint64_t>(fSubtitleOffset));
  else
    w.WriteU32(static_cast<uint32_t>(fSubtitleOffset));
  CloseAtom();
  CloseAtom();  // stbl
  CloseAtom();  // minf
  CloseAtom();  // mdia
  CloseAtom();  // trak
}

void TMOVWriter::WriteFileType(const TMOVReader &templ) {
  // An ISO file (.mp4) stays one: its sound descriptions are read by the
  // ISO rules, not QuickTime's.
  uint8_t head[16];
  if (templ.Stream()->ReadAt(0, head, 16) != 16 || std::memcmp(head + 4, "ftyp", 4) != 0) return;
  if (std::memcmp(head + 8, "qt  ", 4) == 0) return;
  uint8_t brands[16];
  std::memcpy(brands, head + 8, 8);
  std::memcpy(brands + 8, head + 8, 4);
  std::memcpy(brands + 12, "isom", 4);
  fStream->WriteAt(8, brands, sizeof brands);
}

void TMOVWriter::PlanEdits() {
  // Every track starts where the picture starts on the first recording's
  // presentation time line (or, without picture, where the earliest track
  // starts), never before that recording's own start: its hidden parts (AAC
  // priming, the delay of B-frames) stay hidden.
  const TMOVTrack *video = nullptr;
  long double start = std::numeric_limits<long double>::max();
  for (size_t i = 0; i < fTracks.size(); ++i) {
    const TMOVTrack &t = fTracks[i];
    if (t.timeScale <= 0) continue;
    const long double shown =
        fOut[i].startAt + static_cast<long double>(fOut[i].firstShown) / t.timeScale;
    if (t.kind == kKindVideo && !video) {
      video = &t;
      start = shown;
    } else if (!video) {
      start = std::min(start, shown);
    }
  }
  start = std::max<long double>(start, 0);
  for (size_t i = 0; i < fTracks.size(); ++i) {
    const TMOVTrack &t = fTracks[i];
    TOutState &state = fOut[i];
    state.editEmpty = state.editMedia = 0;
    if (t.timeScale <= 0 || fTimeScale <= 0 || start == std::numeric_limits<long double>::max())
      continue;
    const long double media = (start - state.startAt) * t.timeScale;
    if (!(std::fabs(media) < 1e15L)) continue;
    const int64_t m = std::llround(media);
    if (m >= t.duration) continue;  // nothing of it would show: leave it as it is
    if (m >= 0)
      state.editMedia = m;
    else
      state.editEmpty = std::llround(-media / t.timeScale * fTimeScale);
  }
  // The movie lasts as long as its longest track is shown.
  int64_t longest = 0;
  for (const TMOVTrack &t : fTracks) longest = std::max(longest, EditDuration(t));
  if (fTimeScale > 0) {
    fDuration = longest;
    fDurationMs = longest * 1000 / fTimeScale;
  }
}

int64_t TMOVWriter::EditDuration(const TMOVTrack &t) const {
  if (t.timeScale <= 0 || fTimeScale <= 0) return t.duration;
  const TOutState &state = fOut[&t - fTracks.data()];
  // Composition offsets shift every picture by about the delay of the
  // first one: the last is shown that much after the end of decoding.
  const int64_t end =
      t.duration + (state.hasComposition ? std::max<int64_t>(state.firstShown, 0) : 0);
  const int64_t shown = std::max<int64_t>(0, end - state.editMedia);
  return state.editEmpty + std::llround(static_cast<long double>(shown) * fTimeScale / t.timeScale);
}

void TMOVWriter::WriteEdits(const TMOVTrack &t) {
  const TOutState &state = fOut[&t - fTracks.data()];
  if (state.editEmpty == 0 && state.editMedia == 0) return;
  const int64_t segment = EditDuration(t) - state.editEmpty;
  const bool wide = segment > int64_t(std::numeric_limits<uint32_t>::max()) ||
                    state.editEmpty > int64_t(std::numeric_limits<uint32_t>::max()) ||
                    state.editMedia > int64_t(std::numeric_limits<int32_t>::max());
  TMOVStream &w = *fStream;
  auto entry = [&](int64_t duration, int64_t media) {
    if (wide) {
      w.WriteU64(static_cast<uint64_t>(duration));
      w.WriteU64(static_cast<uint64_t>(media));
    } else {
      w.WriteU32(static_cast<uint32_t>(duration));
      w.WriteU32(static_cast<uint32_t>(media));
    }
    w.WriteU32(0x00010000);  // rate 1.0
  };
  OpenAtom(FourCC("edts"));
  OpenAtom(FourCC("elst"));
  w.WriteU32(wide ? 0x01000000 : 0);
  w.WriteU32(state.editEmpty > 0 ? 2 : 1);
  if (state.editEmpty > 0) entry(state.editEmpty, -1);
  entry(segment, state.editMedia);
  CloseAtom();
  CloseAtom();
}

void TMOVWriter::CopyAtoms(const TMOVReader &templ, int64_t end) {
  TMOVStream &in = *templ.Stream();
  if (fOpenAtoms.size() > 16) return;
  try {
    int64_t p = in.Position();
    TAtomHeader atom;
    while (ReadAtomHeader(in, p, end, false, atom)) {
      const int64_t size = atom.size, header = atom.headerSize;
      const uint32_t type = atom.type;
      const int64_t next = p + size;
      const int64_t payload = size - header;
      switch (type) {
        case FourCC("trak"):
        case FourCC("mdia"):
        case FourCC("minf"):
        case FourCC("stbl"): {
          if (type == FourCC("trak")) {
            if (fOpenAtoms.empty() || fOpenAtoms.back().second != FourCC("moov")) break;
            fCurrentTrack = nullptr;
          }
          const int64_t outStart = fStream->Position();
          OpenAtom(type);
          const size_t depth = fOpenAtoms.size();
          fCompositionWritten = fCompositionWritten && type != FourCC("stbl");
          CopyAtoms(templ, next);
          while (fOpenAtoms.size() > depth) fOpenAtoms.pop_back();  // a level that failed
          if (type == FourCC("trak") && !fCurrentTrack) {
            // Not a track of the new movie: no trak atom for it.
            fOpenAtoms.pop_back();
            fStream->Seek(outStart);
            break;
          }
          if (type == FourCC("stbl") && fCurrentTrack && !fCompositionWritten &&
              fOut[fCurrentTrack - fTracks.data()].hasComposition) {
            WriteTableAtom(FourCC("ctts"));
            fCompositionWritten = true;
          }
          CloseAtom();
          if (type == FourCC("trak")) fCurrentTrack = nullptr;
          break;
        }
        case FourCC("stco"):
        case FourCC("co64"):
        case FourCC("stsc"):
        case FourCC("stss"):
        case FourCC("stsz"):
        case FourCC("stts"):
          WriteTableAtom(type);
          break;
        case FourCC("ctts"):
          if (fCurrentTrack && fOut[fCurrentTrack - fTracks.data()].hasComposition &&
              !fCompositionWritten) {
            WriteTableAtom(type);
            fCompositionWritten = true;
          }
          break;
        case FourCC("tkhd"):
        case FourCC("mdhd"):
        case FourCC("mvhd"):
        case FourCC("tapt"):
        case FourCC("hdlr"):
        case FourCC("vmhd"):
        case FourCC("smhd"):
        case FourCC("stsd"):
        case FourCC("dinf"): {
          fBuffer.resize(static_cast<size_t>(payload));
          in.Read(fBuffer.data(), fBuffer.size());
          uint8_t *b = fBuffer.data();
          const size_t len = fBuffer.size();
          if (type == FourCC("tkhd")) {
            if (len < 4) break;
            const bool v1 = b[0] == 1;
            const size_t idAt = v1 ? 20 : 12;
            if (len < idAt + 4) break;
            fCurrentTrack = FindOutput(GetU32(b + idAt));
            if (!fCurrentTrack) {
              // The whole trak goes: stop walking its children.
              return;
            }
            const int64_t d = EditDuration(*fCurrentTrack);
            if (!v1 && len >= 24)
              PutU32(b + 20, static_cast<uint32_t>(d));
            else if (v1 && len >= 36)
              PutU64(b + 28, static_cast<uint64_t>(d));
          } else if (type == FourCC("mdhd") && fCurrentTrack) {
            const TMOVTrack &t = *fCurrentTrack;
            if (len >= 20 && GetU32(b) == 0) {
              PutU32(b + 12, static_cast<uint32_t>(t.timeScale));
              PutU32(b + 16, static_cast<uint32_t>(t.duration));
            } else if (len >= 32 && GetU32(b) == 0x01000000) {
              PutU32(b + 20, static_cast<uint32_t>(t.timeScale));
              PutU64(b + 24, static_cast<uint64_t>(t.duration));
            }
          } else if (type == FourCC("mvhd")) {
            // Always the new movie's length, also when it is 0: never the
            // source's.
            if (len >= 20 && b[0] == 0) {
              if (fTimeScale > 0) PutU32(b + 12, static_cast<uint32_t>(fTimeScale));
              PutU32(b + 16, static_cast<uint32_t>(fDuration));
            } else if (len >= 32 && b[0] == 1) {
              if (fTimeScale > 0) PutU32(b + 20, static_cast<uint32_t>(fTimeScale));
              PutU64(b + 24, static_cast<uint64_t>(fDuration));
            }
          }
          OpenAtom(type);
          fStream->Write(b, len);
          CloseAtom();
          if (type == FourCC("tkhd")) WriteEdits(*fCurrentTrack);
          break;
        }
        default:
          break;  // edit lists, user data and the rest are left out
      }
      p = next;
    }
  } catch (const TMOVWriteError &) {
    throw;  // the new file is incomplete: the caller must know
  } catch (const TMOVError &) {
    // A damaged template ends this level; what was written stays.
  }
}

}  // namespace tachora
