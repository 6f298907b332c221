#include "container/UnitCutter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/UnitFileIO.h"
#include "container/UnitMOV.h"

namespace tachora {

namespace {

std::string BaseName(const std::string &path) {
  size_t p = path.find_last_of('/');
  return p == std::string::npos ? path : path.substr(p + 1);
}

// True when both names lead to one existing file (links, "./", case on
// case-insensitive file systems).
bool SameFile(const std::string &a, const std::string &b) {
  struct stat sa = {};
  struct stat sb = {};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

void SetFileTimes(const std::string &path, TDateTime when) {
  timespec ts[2];
  ts[0] = ts[1] = TimespecFromDateTime(when);
  utimensat(AT_FDCWD, path.c_str(), ts, 0);
}

}  // namespace

long double RecordingFraction(long double x, long double start, long double end) {
  if (end <= start) return x < start ? -1 : 2;
  return (x - start) / (end - start);
}

std::string MetaFileName(const std::string &moviePath) {
  const size_t slash = moviePath.find_last_of('/');
  const size_t dot = moviePath.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return moviePath + ".dat";
  // A movie named *.dat would be overwritten by its own telemetry.
  if (EqualsNoCase(std::string_view(moviePath).substr(dot + 1), "dat")) return moviePath + ".dat";
  return moviePath.substr(0, dot + 1) + "dat";
}

std::string DefaultFragmentName(const std::string &caption, TDateTime start, TDateTime end,
                                const std::string &folder) {
  std::string name =
      "Fragment of " + caption + " (" + FormatTime(start) + " - " + FormatTime(end) + ").mov";
  for (char &c : name) {
    if (c == ':')
      c = '-';
    else if (c == '"' || c == '*' || c == '<' || c == '>' || c == '?' || c == '|' || c == '/' ||
             c == '\\')
      c = '_';
  }
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

const char *CutStageText(TCutStage stage) {
  switch (stage) {
    case TCutStage::Opening:
      return "Opening file";
    case TCutStage::Copying:
      return "Copying data";
    case TCutStage::Meta:
      return "Generating meta info data";
    case TCutStage::WritingHeaders:
      return "Writing headers and indexes";
  }
  return "";
}

std::string CutErrorText(const TCutResult &r) {
  const std::string detail = r.errorDetail.empty() ? "" : ": " + r.errorDetail;
  switch (r.error) {
    case TCutError::None:
      return {};
    case TCutError::NoOutput:
      return "No output file name";
    case TCutError::EmptySelection:
      return "The selection is empty: B must lie after A";
    case TCutError::NoTrackChosen:
      return "Neither video nor audio is chosen: the fragment would hold nothing";
    case TCutError::ReplacesSource:
      return r.errorPath + " would replace " + r.errorDetail + ", which the fragment is cut from";
    case TCutError::NothingReadable:
      return "None of the recordings of the selection could be read as a MOV file";
    case TCutError::NoTrackToCopy:
      return "The recordings hold no video or audio in a known format: nothing to copy";
    case TCutError::Cancelled:
      return "Cancelled: no file was written";
    case TCutError::CannotCreate:
      return "Cannot create the output file " + r.errorPath + detail;
    case TCutError::CannotWrite:
      return "Cannot write the output file " + r.errorPath + detail;
    case TCutError::SourceChanged:
      return r.errorPath + " changed or was truncated while it was copied" + detail +
             ": no file was written";
    case TCutError::WouldReplace:
      return r.errorPath + " exists and would be replaced (--overwrite replaces it)";
  }
  return {};
}

std::string CutNoteText(const TCutNote &n) {
  const std::string detail = n.detail.empty() ? "" : ": " + n.detail;
  switch (n.kind) {
    case TCutNoteKind::Unreadable:
      return n.path + ": cannot be read as a MOV file" + detail;
    case TCutNoteKind::VideoLeftOut:
      return n.path +
             ": the picture is in another format than the first recording's (codec or "
             "picture size) and was left out";
    case TCutNoteKind::SoundLeftOut:
      return n.path +
             ": the sound is in another format than the first recording's (codec, "
             "sample rate, channels or sample size) and was left out";
    case TCutNoteKind::SoundAfterGap:
      return n.path +
             ": the sound was left out: an earlier recording's sound is missing from the "
             "fragment, so it would play ahead of its picture";
    case TCutNoteKind::CopyFailed:
      return n.path + ": not copied completely" + detail;
    case TCutNoteKind::MetaFailed:
      return n.path + ": no telemetry for the fragment" + detail;
    case TCutNoteKind::MetaNotWritten:
      return "Cannot write " + n.path + detail;
  }
  return {};
}

std::vector<std::string> CutWouldReplace(const TCutTrip &trip, const TCutOptions &options) {
  std::vector<std::string> out;
  struct stat st {};
  if (!options.output.empty() && lstat(options.output.c_str(), &st) == 0)
    out.push_back(options.output);
  bool telemetry = false;
  for (const TCutRecording &rec : trip.recordings) telemetry = telemetry || rec.hasTelemetry;
  const std::string meta = MetaFileName(options.output);
  if (options.meta && telemetry && !options.output.empty() && lstat(meta.c_str(), &st) == 0)
    out.push_back(meta);
  return out;
}

namespace {

// One cut, in its steps: check, copy each recording (with its telemetry
// text), finish the movie, write the telemetry file.
class TCutJob {
 public:
  TCutJob(const TCutTrip &trip, const TCutOptions &options, TCutMetaSource *meta,
          const TCutProgressFn &progress)
      : fTrip(trip),
        fOptions(options),
        fMeta(options.meta ? meta : nullptr),
        fProgress(progress),
        fMetaPath(MetaFileName(options.output)),
        fFile(options.output) {
    fResult.moviePath = options.output;
    fInfo.recordings = trip.recordings.size();
  }

  TCutResult Run() {
    Cut();
    return fResult;
  }

 private:
  bool Cut() {
    if (!Check()) return false;
    std::string error;
    if (!fFile.Open(&error)) return Fail(TCutError::CannotCreate, fOptions.output, error);
    fWriter = std::make_unique<TMOVWriter>(fFile.Fd(), fOptions.mediaDataLimit);
    for (size_t i = 0; i < fTrip.recordings.size() && !fResult.cancelled; ++i)
      if (!CutRecording(i)) return false;
    if (fResult.cancelled && !fOptions.keepOnCancel) return Fail(TCutError::Cancelled);
    if (!fTemplate)
      return Fail(fResult.cancelled ? TCutError::Cancelled : TCutError::NothingReadable);
    if (!FinishMovie()) return false;
    WriteMetaFile();
    if (fOptions.startDate > 0 && fOptions.endDate > 0) {
      // Linux cannot set a file's birth time: access and modification = B.
      SetFileTimes(fOptions.output, fOptions.endDate);
      if (!fResult.metaPath.empty()) SetFileTimes(fResult.metaPath, fOptions.endDate);
    }
    return true;
  }

  bool Fail(TCutError error, std::string path = {}, std::string detail = {}) {
    fResult.error = error;
    fResult.errorPath = std::move(path);
    fResult.errorDetail = std::move(detail);
    fResult.written = false;
    return false;
  }

  bool Report(TCutStage stage, double fraction) {
    fInfo.stage = stage;
    fInfo.fraction = fraction;
    if (!fProgress || fProgress(fInfo)) return true;
    fResult.cancelled = true;
    return false;
  }

  bool Check() {
    if (fOptions.output.empty()) return Fail(TCutError::NoOutput);
    if (!(fOptions.b > fOptions.a)) return Fail(TCutError::EmptySelection);
    if (!fOptions.video && !fOptions.audio) return Fail(TCutError::NoTrackChosen);
    // Neither the movie nor its telemetry may take the place of a file the
    // fragment is cut from (by any spelling: links, "./", case on
    // case-insensitive file systems).
    for (const TCutRecording &rec : fTrip.recordings) {
      std::vector<const std::string *> sources = {&rec.path};
      for (const std::string &c : rec.companions) sources.push_back(&c);
      for (const std::string *source : sources)
        for (const std::string *target : {&fOptions.output, &fMetaPath}) {
          if (source->empty() || (target == &fMetaPath && !fMeta)) continue;
          if (SameFile(*source, *target)) return Fail(TCutError::ReplacesSource, *target, *source);
        }
    }
    if (!fOptions.overwrite) {
      const std::vector<std::string> existing = CutWouldReplace(fTrip, fOptions);
      if (!existing.empty()) return Fail(TCutError::WouldReplace, existing.front());
    }
    return true;
  }

  // False when the cut must stop with an error.
  bool CutRecording(size_t i) {
    const TCutRecording &rec = fTrip.recordings[i];
    if (rec.end <= rec.start) return true;
    long double s = RecordingFraction(fOptions.a, rec.start, rec.end);
    long double e = RecordingFraction(fOptions.b, rec.start, rec.end);
    if (!(s < 1 && e > 0)) return true;
    fInfo.recording = i;
    fInfo.fileName = BaseName(rec.path);
    if (!Report(TCutStage::Opening, 0)) return true;
    auto reader = std::make_unique<TMOVReader>(rec.path, false);
    if (!Report(TCutStage::Copying, 0)) return true;
    if (!reader->HasMovie()) {
      fResult.notes.push_back({TCutNoteKind::Unreadable, rec.path, reader->Error()});
    } else {
      const int64_t before = fWriter->DurationMs();
      if (!CopyRecording(*reader, rec.path, std::clamp<long double>(s, 0, 1),
                         std::clamp<long double>(e, 0, 1)))
        return false;
      AddCaptions(rec, before, fWriter->DurationMs());
      if (!fTemplate) {
        // Tracks come from the first readable recording only.
        if (fWriter->TrackCount() == 0) return Fail(TCutError::NoTrackToCopy);
        fTemplate = std::move(reader);
      }
      if (fResult.cancelled) return true;
    }
    AddMetaText(rec);
    return true;
  }

  // False when the output cannot be written.
  bool CopyRecording(const TMOVReader &reader, const std::string &path, long double s,
                     long double e) {
    const int videoOut = fWriter->LeftOutTracks(kKindVideo);
    const int soundOut = fWriter->LeftOutTracks(kKindAudio);
    const int soundGap = fWriter->LeftOutAfterGap(kKindAudio);
    try {
      auto step = [&](double fraction, double seconds) {
        fInfo.outputSeconds = seconds;
        return Report(TCutStage::Copying, fraction);
      };
      fWriter->CopySamples(reader, s, e, {fOptions.video, fOptions.audio}, step);
    } catch (const TMOVWriteError &ex) {
      // Disk full or the like: what the tables would describe is not in
      // the file, so there is nothing worth keeping.
      return Fail(TCutError::CannotWrite, fOptions.output, ex.what());
    } catch (const TMOVSourceError &ex) {
      // A recording truncated or rewritten under the copy: the fragment
      // would play zeros where its pictures should be.
      return Fail(TCutError::SourceChanged, path, ex.what());
    } catch (const std::exception &ex) {
      fResult.notes.push_back({TCutNoteKind::CopyFailed, path, ex.what()});
    }
    if (fWriter->LeftOutTracks(kKindVideo) > videoOut)
      fResult.notes.push_back({TCutNoteKind::VideoLeftOut, path, {}});
    if (fWriter->LeftOutTracks(kKindAudio) > soundOut)
      fResult.notes.push_back({TCutNoteKind::SoundLeftOut, path, {}});
    if (fWriter->LeftOutAfterGap(kKindAudio) > soundGap)
      fResult.notes.push_back({TCutNoteKind::SoundAfterGap, path, {}});
    return true;
  }

  void AddMetaText(const TCutRecording &rec) {
    if (!fMeta || !rec.hasTelemetry || rec.telemetryEnd <= rec.telemetryStart) return;
    const long double ms = RecordingFraction(fOptions.a, rec.telemetryStart, rec.telemetryEnd);
    const long double me = RecordingFraction(fOptions.b, rec.telemetryStart, rec.telemetryEnd);
    if (!(ms < 1 && me > 0) || !Report(TCutStage::Meta, 1)) return;
    try {
      std::string text = fMeta->MetaText(rec, std::clamp<long double>(ms, 0, 1),
                                         std::clamp<long double>(me, 0, 1));
      if (text.empty()) return;
      if (!fMetaText.empty()) fMetaText += "[B]\r\n";
      fMetaText += text;
    } catch (const std::exception &ex) {
      fResult.notes.push_back({TCutNoteKind::MetaFailed, rec.path, ex.what()});
    }
  }

  // The subtitles of a recording's part that plays in the movie from
  // `from` to `to` (ms), after an empty one over any stretch before it.
  void AddCaptions(const TCutRecording &rec, int64_t from, int64_t to) {
    if (!fMeta || !rec.hasTelemetry || rec.telemetryEnd <= rec.telemetryStart || to <= from) return;
    const long double ms = RecordingFraction(fOptions.a, rec.telemetryStart, rec.telemetryEnd);
    const long double me = RecordingFraction(fOptions.b, rec.telemetryStart, rec.telemetryEnd);
    if (!(ms < 1 && me > 0)) return;
    const size_t count = static_cast<size_t>((to - from + 999) / 1000);
    std::vector<std::string> texts;
    try {
      texts = fMeta->Captions(rec, std::clamp<long double>(ms, 0, 1),
                              std::clamp<long double>(me, 0, 1), count);
    } catch (const std::exception &) {
      return;  // the movie and its ".dat" do without
    }
    if (texts.empty()) return;
    if (from > fCaptionsEnd) fCaptions.push_back({{}, static_cast<uint32_t>(from - fCaptionsEnd)});
    for (size_t k = 0; k < texts.size() && k < count; ++k) {
      const int64_t at = from + static_cast<int64_t>(k) * 1000;
      fCaptions.push_back({texts[k], static_cast<uint32_t>(std::min<int64_t>(1000, to - at))});
    }
    fCaptionsEnd = to;
  }

  bool FinishMovie() {
    if (fProgress) {
      fInfo.stage = TCutStage::WritingHeaders;
      fInfo.fraction = 1;
      fProgress(fInfo);
    }
    try {
      fWriter->SetSubtitles(std::move(fCaptions));
      fWriter->WriteMovie(*fTemplate);
      fResult.mediaBytes = fWriter->MediaBytes();
      fResult.copyCalls = fWriter->CopyCalls();
      fResult.outputSeconds = static_cast<double>(fWriter->DurationMs()) / 1000.0;
      fWriter->Close();
    } catch (const std::exception &ex) {
      return Fail(TCutError::CannotWrite, fOptions.output, ex.what());
    }
    std::string error;
    // On a card the data is on it before the cut is reported done.
    if (!fFile.Commit(TAtomicFile::TSync::Removable, &error))
      return Fail(TCutError::CannotWrite, fOptions.output, error);
    fResult.written = true;
    return true;
  }

  void WriteMetaFile() {
    if (fMetaText.empty()) return;
    std::string error;
    if (WriteFileAtomic(fMetaPath, fMetaText, &error))
      fResult.metaPath = fMetaPath;
    else
      fResult.notes.push_back({TCutNoteKind::MetaNotWritten, fMetaPath, error});
  }

  const TCutTrip &fTrip;
  const TCutOptions &fOptions;
  TCutMetaSource *fMeta;
  const TCutProgressFn &fProgress;
  const std::string fMetaPath;
  TAtomicFile fFile;  // before the writer, which writes into it
  std::unique_ptr<TMOVWriter> fWriter;
  std::unique_ptr<TMOVReader> fTemplate;
  std::string fMetaText;
  std::vector<TMOVTextSample> fCaptions;
  int64_t fCaptionsEnd = 0;  // ms of the movie the captions cover
  TCutProgress fInfo;
  TCutResult fResult;
};

}  // namespace

TCutResult CutFragment(const TCutTrip &trip, const TCutOptions &options, TCutMetaSource *meta,
                       const TCutProgressFn &progress) {
  return TCutJob(trip, options, meta, progress).Run();
}

}  // namespace tachora
