#include "container/UnitCutter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "container/UnitMOV.h"

namespace tachora {

namespace {

std::string BaseName(const std::string &path) {
  size_t p = path.find_last_of('/');
  return p == std::string::npos ? path : path.substr(p + 1);
}

bool WriteWholeFile(const std::string &path, const std::string &text, std::string &error) {
  const std::string part = path + ".part";
  FILE *f = std::fopen(part.c_str(), "wb");
  if (!f) {
    error = part + ": " + std::strerror(errno);
    return false;
  }
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok || std::rename(part.c_str(), path.c_str()) != 0) {
    error = path + ": " + std::strerror(errno);
    std::remove(part.c_str());
    return false;
  }
  return true;
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

TCutResult CutFragment(const TCutTrip &trip, const TCutOptions &options, TCutMetaSource *meta,
                       const TCutProgressFn &progress) {
  TCutResult result;
  result.moviePath = options.output;
  if (options.output.empty()) {
    result.message = "No output file name";
    return result;
  }
  if (!(options.b > options.a)) {
    result.message = "The selection is empty: B must lie after A";
    return result;
  }
  // The cut is renamed over the output at the end: it must never take the
  // place of a recording it is cut from.
  for (const TCutRecording &rec : trip.recordings)
    if (SameFile(rec.path, options.output)) {
      result.message = "The output file is one of the recordings to cut: " + options.output;
      return result;
    }
  const std::string part = options.output + ".part";
  std::unique_ptr<TMOVWriter> writer;
  try {
    writer = std::make_unique<TMOVWriter>(part, options.mediaDataLimit);
  } catch (const std::exception &e) {
    result.message = std::string("Cannot create the output file: ") + e.what();
    return result;
  }

  TCutProgress info;
  info.recordings = trip.recordings.size();
  auto report = [&](const std::string &action, double fraction) {
    info.action = action;
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
    if (!report("Opening file", 0)) {
      result.cancelled = true;
      break;
    }
    auto reader = std::make_unique<TMOVReader>(rec.path, false);
    if (!report("Copying data", 0)) {
      result.cancelled = true;
      break;
    }
    if (reader->HasMovie()) {
      const int leftOut = writer->LeftOutTracks();
      try {
        auto cb = [&](double fraction, double seconds) {
          info.outputSeconds = seconds;
          return report("Copying data", fraction);
        };
        if (!writer->CopySamples(*reader, options.video, options.audio, cb, e, s))
          result.cancelled = true;
      } catch (const TMOVWriteError &ex) {
        // Disk full or the like: what the tables would describe is not in
        // the file, so there is nothing worth keeping.
        writer.reset();
        std::remove(part.c_str());
        result.message = std::string("Cannot write the output file: ") + ex.what();
        return result;
      } catch (const std::exception &ex) {
        result.errors.push_back(info.fileName + ": " + ex.what());
      }
      if (writer->LeftOutTracks() > leftOut)
        result.errors.push_back(info.fileName +
                                ": a track in another format than the first recording's (codec "
                                "or picture size) was left out");
      if (!templ) templ = std::move(reader);
      if (result.cancelled) break;
    } else {
      result.errors.push_back(info.fileName + ": " + reader->Error());
    }
    if (options.meta && meta && rec.hasTelemetry && rec.telemetryEnd > rec.telemetryStart) {
      long double ms = RecordingFraction(options.a, rec.telemetryStart, rec.telemetryEnd);
      long double me = RecordingFraction(options.b, rec.telemetryStart, rec.telemetryEnd);
      if (ms < 1 && me > 0) {
        if (!report("Generating meta info data", 1)) {
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
          result.errors.push_back(info.fileName + ": " + ex.what());
        }
      }
    }
  }

  // Headers are written after a cancel too: the file keeps what was copied.
  if (progress) {
    info.action = "Writing headers and indexes";
    info.fraction = 1;
    progress(info);
  }
  if (!templ) {
    writer.reset();
    std::remove(part.c_str());
    result.message = result.cancelled
                         ? "Cancelled before anything was copied"
                         : "None of the recordings of the selection could be read as a MOV file";
    return result;
  }
  try {
    writer->WriteMovie(*templ);
    result.mediaBytes = writer->MediaBytes();
    result.outputSeconds = static_cast<double>(writer->DurationMs()) / 1000.0;
    writer->Close();
  } catch (const std::exception &ex) {
    writer.reset();
    std::remove(part.c_str());
    result.message = std::string("Cannot write the output file: ") + ex.what();
    return result;
  }
  writer.reset();
  templ.reset();
  if (std::rename(part.c_str(), options.output.c_str()) != 0) {
    result.message = options.output + ": " + std::strerror(errno);
    std::remove(part.c_str());
    return result;
  }
  result.written = true;
  if (!metaText.empty()) {
    std::string error;
    const std::string metaPath = MetaFileName(options.output);
    if (WriteWholeFile(metaPath, metaText, error))
      result.metaPath = metaPath;
    else
      result.errors.push_back(error);
  }
  if (options.startDate > 0 && options.endDate > 0) {
    // Linux cannot set a file's birth time: access and modification = B.
    SetFileTimes(options.output, options.endDate);
    if (!result.metaPath.empty()) SetFileTimes(result.metaPath, options.endDate);
  }
  return result;
}

}  // namespace tachora
