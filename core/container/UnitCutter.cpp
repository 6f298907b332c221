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
    case TCutNoteKind::CopyFailed:
      return n.path + ": not copied completely" + detail;
    case TCutNoteKind::MetaFailed:
      return n.path + ": no telemetry for the fragment" + detail;
    case TCutNoteKind::MetaNotWritten:
      return "Cannot write " + n.path + detail;
  }
  return {};
}

TCutResult CutFragment(const TCutTrip &trip, const TCutOptions &options, TCutMetaSource *meta,
                       const TCutProgressFn &progress) {
  TCutResult result;
  result.moviePath = options.output;
  auto fail = [&](TCutError error, std::string path = {}, std::string detail = {}) {
    result.error = error;
    result.errorPath = std::move(path);
    result.errorDetail = std::move(detail);
    result.written = false;
    return result;
  };
  if (options.output.empty()) return fail(TCutError::NoOutput);
  if (!(options.b > options.a)) return fail(TCutError::EmptySelection);
  if (!options.video && !options.audio) return fail(TCutError::NoTrackChosen);
  // Neither the movie nor its telemetry may take the place of a file the
  // fragment is cut from (by any spelling: links, "./", case on
  // case-insensitive file systems).
  const bool wantMeta = options.meta && meta;
  const std::string metaPath = MetaFileName(options.output);
  for (const TCutRecording &rec : trip.recordings) {
    std::vector<const std::string *> sources = {&rec.path};
    for (const std::string &c : rec.companions) sources.push_back(&c);
    for (const std::string *source : sources)
      for (const std::string *target : {&options.output, &metaPath}) {
        if (source->empty() || (target == &metaPath && !wantMeta)) continue;
        if (SameFile(*source, *target)) return fail(TCutError::ReplacesSource, *target, *source);
      }
  }

  TAtomicFile file(options.output);
  std::string error;
  if (!file.Open(&error)) return fail(TCutError::CannotCreate, options.output, error);
  std::unique_ptr<TMOVWriter> writer =
      std::make_unique<TMOVWriter>(file.Fd(), options.mediaDataLimit);

  TCutProgress info;
  info.recordings = trip.recordings.size();
  auto report = [&](TCutStage stage, double fraction) {
    info.stage = stage;
    info.fraction = fraction;
    return !progress || progress(info);
  };

  std::unique_ptr<TMOVReader> templ;
  std::string metaText;
  for (size_t i = 0; i < trip.recordings.size() && !result.cancelled; ++i) {
    const TCutRecording &rec = trip.recordings[i];
    if (rec.end <= rec.start) continue;
    long double s = RecordingFraction(options.a, rec.start, rec.end);
    long double e = RecordingFraction(options.b, rec.start, rec.end);
    if (!(s < 1 && e > 0)) continue;
    s = std::clamp<long double>(s, 0, 1);
    e = std::clamp<long double>(e, 0, 1);
    info.recording = i;
    info.fileName = BaseName(rec.path);
    if (!report(TCutStage::Opening, 0)) {
      result.cancelled = true;
      break;
    }
    auto reader = std::make_unique<TMOVReader>(rec.path, false);
    if (!report(TCutStage::Copying, 0)) {
      result.cancelled = true;
      break;
    }
    if (reader->HasMovie()) {
      const int videoOut = writer->LeftOutTracks(kKindVideo);
      const int soundOut = writer->LeftOutTracks(kKindAudio);
      try {
        auto cb = [&](double fraction, double seconds) {
          info.outputSeconds = seconds;
          return report(TCutStage::Copying, fraction);
        };
        if (!writer->CopySamples(*reader, s, e, {options.video, options.audio}, cb))
          result.cancelled = true;
      } catch (const TMOVWriteError &ex) {
        // Disk full or the like: what the tables would describe is not in
        // the file, so there is nothing worth keeping.
        return fail(TCutError::CannotWrite, options.output, ex.what());
      } catch (const std::exception &ex) {
        result.notes.push_back({TCutNoteKind::CopyFailed, rec.path, ex.what()});
      }
      if (writer->LeftOutTracks(kKindVideo) > videoOut)
        result.notes.push_back({TCutNoteKind::VideoLeftOut, rec.path, {}});
      if (writer->LeftOutTracks(kKindAudio) > soundOut)
        result.notes.push_back({TCutNoteKind::SoundLeftOut, rec.path, {}});
      if (!templ) {
        // Tracks come from the first readable recording only.
        if (writer->TrackCount() == 0) return fail(TCutError::NoTrackToCopy);
        templ = std::move(reader);
      }
      if (result.cancelled) break;
    } else {
      result.notes.push_back({TCutNoteKind::Unreadable, rec.path, reader->Error()});
    }
    if (wantMeta && rec.hasTelemetry && rec.telemetryEnd > rec.telemetryStart) {
      long double ms = RecordingFraction(options.a, rec.telemetryStart, rec.telemetryEnd);
      long double me = RecordingFraction(options.b, rec.telemetryStart, rec.telemetryEnd);
      if (ms < 1 && me > 0) {
        if (!report(TCutStage::Meta, 1)) {
          result.cancelled = true;
          break;
        }
        try {
          std::string text = meta->MetaText(rec, std::clamp<long double>(ms, 0, 1),
                                            std::clamp<long double>(me, 0, 1));
          if (!text.empty()) {
            if (!metaText.empty()) metaText += "[B]\r\n";
            metaText += text;
          }
        } catch (const std::exception &ex) {
          result.notes.push_back({TCutNoteKind::MetaFailed, rec.path, ex.what()});
        }
      }
    }
  }

  if (result.cancelled && !options.keepOnCancel) return fail(TCutError::Cancelled);
  if (!templ) return fail(result.cancelled ? TCutError::Cancelled : TCutError::NothingReadable);
  if (progress) {
    info.stage = TCutStage::WritingHeaders;
    info.fraction = 1;
    progress(info);
  }
  try {
    writer->WriteMovie(*templ);
    result.mediaBytes = writer->MediaBytes();
    result.copyCalls = writer->CopyCalls();
    result.outputSeconds = static_cast<double>(writer->DurationMs()) / 1000.0;
    writer->Close();
  } catch (const std::exception &ex) {
    return fail(TCutError::CannotWrite, options.output, ex.what());
  }
  writer.reset();
  templ.reset();
  if (!file.Commit(TAtomicFile::TSync::None, &error))
    return fail(TCutError::CannotWrite, options.output, error);
  result.written = true;
  if (!metaText.empty()) {
    if (WriteFileAtomic(metaPath, metaText, &error))
      result.metaPath = metaPath;
    else
      result.notes.push_back({TCutNoteKind::MetaNotWritten, metaPath, error});
  }
  if (options.startDate > 0 && options.endDate > 0) {
    // Linux cannot set a file's birth time: access and modification = B.
    SetFileTimes(options.output, options.endDate);
    if (!result.metaPath.empty()) SetFileTimes(result.metaPath, options.endDate);
  }
  return result;
}

}  // namespace tachora
