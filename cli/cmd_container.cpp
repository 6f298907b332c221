// tachora-cli info / cut: the MOV reader's view of a file, and cutting an
// A-B fragment of a trip made of the given files.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "CliCommands.h"
#include "CliConventions.h"
#include "catalogue/UnitCatalogueTrip.h"
#include "catalogue/UnitCutterMeta.h"
#include "catalogue/UnitFileManager.h"
#include "container/UnitCutter.h"
#include "container/UnitMOV.h"

namespace tachora::cli {
namespace {

std::string CodecText(const std::string &codec) {
  std::string out;
  for (char c : codec) {
    if (c == '\0')
      out += "\\0";
    else
      out += c;
  }
  return out;
}

// The same facts as the text lines, under the keys the manual page lists.
std::string InfoJson(const std::string &file, TMOVReader &r, bool samples) {
  int32_t w, h;
  r.VideoSize(w, h);
  TJsonObject o;
  o.Text("file", file)
      .Bool("has_movie", r.HasMovie())
      .Int("duration_ms", r.DurationMs())
      .Int("time_scale", r.TimeScale())
      .Text("creation_time", FormatDateTimeOrEmpty(r.CreationTime()))
      .Int("width", w)
      .Int("height", h)
      .Int("movie_atom_offset", r.MovieAtomOffset())
      .Int("movie_atom_size", r.MovieAtomSize());
  std::vector<std::string> tracks;
  for (const TMOVTrack &t : r.Tracks()) {
    TJsonObject j;
    j.Int("id", t.trackId)
        .Int("kind", t.kind)
        .Text("codec", CodecText(t.codec))
        .Int("timescale", t.timeScale)
        .Int("duration_units", t.duration)
        .Int("duration_ms", t.durationMs)
        .Int("width", t.width)
        .Int("height", t.height)
        .Int("samples", t.SampleCount())
        .Int("keyframes", static_cast<int64_t>(t.KeySamples().size()));
    if (samples) {
      std::vector<std::string> list;
      for (uint32_t k = 0; k < t.SampleCount(); ++k) {
        const TMOVSample s = t.Sample(k);
        list.push_back(TJsonObject()
                           .Int("offset", s.offset)
                           .Int("size", s.size)
                           .Int("time", s.time)
                           .Int("duration", s.duration)
                           .Bool("key", s.key)
                           .Str());
      }
      j.Raw("samples_list", JsonArray(list));
    }
    tracks.push_back(j.Str());
  }
  o.Raw("tracks", JsonArray(tracks));
  return o.Str();
}

int RunInfo(const std::vector<std::string> &args) {
  bool headersOnly = false, samples = false, json = false;
  std::string file;
  for (const std::string &a : args) {
    if (a == "--headers-only")
      headersOnly = true;
    else if (a == "--samples")
      samples = true;
    else if (a == "--json")
      json = true;
    else if (!a.empty() && a[0] == '-') {
      std::cerr << "info: unknown option " << a << "\n";
      return 2;
    } else if (file.empty())
      file = a;
    else {
      std::cerr << "info: one file only\n";
      return 2;
    }
  }
  if (file.empty()) {
    std::cerr << "usage: tachora-cli info [--headers-only] [--samples] [--json] FILE\n";
    return 2;
  }
  TMOVReader r(file, headersOnly);
  if (!r.Stream()) {
    std::cerr << "info: cannot open " << r.Error() << "\n";
    return 1;
  }
  if (json) {
    std::cout << InfoJson(file, r, samples) << "\n" << std::flush;
    return std::cout ? 0 : 1;
  }
  int32_t w, h;
  r.VideoSize(w, h);
  std::string out;
  out += "has_movie: " + std::string(r.HasMovie() ? "true" : "false") + "\n";
  out += "duration_ms: " + std::to_string(r.DurationMs()) + "\n";
  out += "time_scale: " + std::to_string(r.TimeScale()) + "\n";
  out += "creation_time: " + FormatDateTimeOrEmpty(r.CreationTime()) + "\n";
  out += "video_size: " + std::to_string(w) + "x" + std::to_string(h) + "\n";
  out += "movie_atom_offset: " + std::to_string(r.MovieAtomOffset()) + "\n";
  out += "movie_atom_size: " + std::to_string(r.MovieAtomSize()) + "\n";
  out += "tracks: " + std::to_string(r.Tracks().size()) + "\n";
  for (size_t i = 0; i < r.Tracks().size(); ++i) {
    const TMOVTrack &t = r.Tracks()[i];
    out += "track " + std::to_string(i) + ": id=" + std::to_string(t.trackId) +
           " kind=" + std::to_string(t.kind) + " codec=" + CodecText(t.codec) +
           " timescale=" + std::to_string(t.timeScale) +
           " duration_units=" + std::to_string(t.duration) +
           " duration_ms=" + std::to_string(t.durationMs) + " width=" + std::to_string(t.width) +
           " height=" + std::to_string(t.height) + " samples=" + std::to_string(t.SampleCount()) +
           " keyframes=" + std::to_string(t.KeySamples().size()) + "\n";
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  if (samples) {
    for (size_t i = 0; i < r.Tracks().size(); ++i) {
      const TMOVTrack &t = r.Tracks()[i];
      for (uint32_t k = 0; k < t.SampleCount(); ++k) {
        const TMOVSample s = t.Sample(k);
        std::printf("sample %zu %u offset=%lld size=%u time=%lld duration=%u key=%d\n", i, k,
                    static_cast<long long>(s.offset), s.size, static_cast<long long>(s.time),
                    s.duration, s.key ? 1 : 0);
      }
    }
  }
  return 0;
}

int RunCut(const std::vector<std::string> &args) {
  TCutOptions options;
  bool haveFrom = false, haveTo = false;
  std::vector<std::string> files;
  const char *usage =
      "usage: tachora-cli cut --from A --to B [--no-video] [--no-audio] [--no-meta] [--overwrite] "
      "-o OUT FILE...\n";
  // The movie or its .dat of the chosen name is replaced only when asked for.
  options.overwrite = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    auto value = [&](std::string &out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    if (a == "--from" || a == "--to") {
      if (!value(v)) {
        std::cerr << "cut: " << a << " needs a value\n" << usage;
        return 2;
      }
      long double x = ParseFloatDot(v, -1);
      if (x < 0 || x > 1) {
        std::cerr << "cut: " << a << " must be a trip fraction from 0 to 1, not '" << v << "'\n";
        return 2;
      }
      (a == "--from" ? options.a : options.b) = x;
      (a == "--from" ? haveFrom : haveTo) = true;
    } else if (a == "--no-video")
      options.video = false;
    else if (a == "--no-audio")
      options.audio = false;
    else if (a == "--no-meta")
      options.meta = false;
    else if (a == "--overwrite")
      options.overwrite = true;
    else if (a == "-o" || a == "--output") {
      if (!value(options.output)) {
        std::cerr << "cut: -o needs a file name\n" << usage;
        return 2;
      }
    } else if (!a.empty() && a[0] == '-') {
      std::cerr << "cut: unknown option " << a << "\n" << usage;
      return 2;
    } else
      files.push_back(a);
  }
  if (!haveFrom || !haveTo || options.output.empty() || files.empty()) {
    std::cerr << usage;
    return 2;
  }
  if (options.b <= options.a) {
    std::cerr << "cut: the end (--to) must lie after the start (--from)\n";
    return 1;
  }

  // The trip as the catalogue times it: file times, container header and
  // the telemetry beside each file, all files joined into one row whose
  // time line (gaps included) the fractions refer to.
  TFileManager catalogue(false, nullptr);
  for (const std::string &f : files) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(f, ec)) {
      std::cerr << "cut: " << f << ": no such file\n";
      continue;
    }
    TMOVReader probe(f, true);
    if (!probe.HasMovie()) {
      std::cerr << "cut: " << f << ": " << probe.Error() << "\n";
      continue;
    }
    if (catalogue.OpenRecording(f).Items.empty()) std::cerr << "cut: " << f << ": cannot be read\n";
  }
  if (catalogue.RowCount() == 0) {
    std::cerr << "cut: none of the files has a readable movie\n";
    return 1;
  }
  std::vector<int> rows(static_cast<size_t>(catalogue.RowCount()));
  std::iota(rows.begin(), rows.end(), 0);
  catalogue.MergeItems(rows, false);
  const TFileItem row = catalogue.GetItem(0);
  TRowTelemetry loaded;
  if (options.meta)
    loaded = LoadRowTelemetry(catalogue, row);
  else
    loaded.Row = row;
  TCutTrip trip = MakeCutTrip(loaded.Row, loaded.Tracks);
  SetCutDates(loaded.Row, options);
  TMovingInfoMetaSource metaSource;
  TCutMetaSource *meta = options.meta ? &metaSource : nullptr;

  int lastPercent = -1;
  std::string lastLine;
  const bool showProgress = ShowProgress();
  auto progress = [&](const TCutProgress &p) {
    if (!showProgress) return true;
    int percent = static_cast<int>(p.fraction * 100 + 0.5);
    std::string line = "[" + std::to_string(p.recording + 1) + "/" + std::to_string(p.recordings) +
                       "] " + p.fileName + ": " + CutStageText(p.stage);
    if (percent != lastPercent || line != lastLine) {
      std::cerr << "\r" << line << " " << percent << "%   " << std::flush;
      lastPercent = percent;
      lastLine = line;
    }
    return true;
  };
  TCutResult res = CutFragment(trip, options, meta, progress);
  if (lastPercent >= 0) std::cerr << "\n";
  for (const TCutNote &n : res.notes) std::cerr << "cut: " << CutNoteText(n) << "\n";
  if (!res.written) {
    std::cerr << "cut: " << CutErrorText(res) << "\n";
    return 1;
  }
  std::cout << res.moviePath << "\n";
  if (!res.metaPath.empty()) std::cout << res.metaPath << "\n";
  return 0;
}

TCliCommandRegistrar gInfo({"info", "info [--headers-only] [--samples] [--json] FILE", RunInfo});
TCliCommandRegistrar gCut(
    {"cut",
     "cut --from A --to B [--no-video] [--no-audio] [--no-meta] [--overwrite] -o OUT FILE...",
     RunCut});

}  // namespace
}  // namespace tachora::cli
