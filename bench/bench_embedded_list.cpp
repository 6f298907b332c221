// Listing a card whose recordings carry their telemetry inside (freeGPS
// blocks indexed by the movie's `gps ` box, one a second, as most cameras
// since about 2018 write them) against the same card with the telemetry in
// a .DAT file beside each recording: scan, preview (telemetry statistics
// and header of every recording), matching and grouping, as
// `tachora-cli list` does. Goal: the embedded card takes at most twice the
// time of the sidecar card.
//
// The cards hold COUNT (default 500, TACHORA_BENCH_EMBEDDED_COUNT)
// one-minute MP4 recordings one after the other from 2024-05-01 08:00 UTC,
// with a fix a second; they are made once under
// /tmp/tachora-bench-embedded-COUNT/{sidecar,embedded,sidecar-same} from clips the
// tests' generator writes into the build tree. The counters tell how many
// recordings got a track, so a card whose telemetry went unread shows.
//
// The sidecar card's recordings are one clip linked COUNT times, whose
// headers stay in the processor's cache from one recording to the next; a
// third card (sidecar-same, argument 2) holds the embedded card's own
// recordings with the .DAT files beside them (a file beside the recording
// wins, so their blocks go unread): the same files to open and headers to
// read, only the telemetry's source differs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "TestEmbedded.h"
#include "app/UnitLang.h"
#include "catalogue/UnitFileManager.h"

using namespace tachora;
using namespace tachora::test;
namespace fs = std::filesystem;

namespace {

int CardCount() {
  const char *n = std::getenv("TACHORA_BENCH_EMBEDDED_COUNT");
  const int count = n && *n ? std::atoi(n) : 500;
  return count > 0 ? count : 500;
}

TEmbeddedClip OneMinuteClip() {
  TEmbeddedClip clip;
  clip.media.seconds = 60;
  return clip;
}

std::string Stamp(int seconds) {
  const TDateParts p = DecodeDateTime(EncodeDate(2024, 5, 1) + (8 * 3600 + seconds) / kSecPerDay);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                p.minute, p.second);
  return text;
}

void Place(const std::string &from, const std::string &to) {
  std::error_code error;
  fs::create_hard_link(from, to, error);
  if (error) fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

// The folder of one card ("sidecar" or "embedded"); made once.
std::string Card(const std::string &kind, int count) {
  const std::string dir = "/tmp/tachora-bench-embedded-" + std::to_string(count) + "/" + kind;
  if (fs::exists(dir + "/.complete")) return dir;
  fs::remove_all(dir);
  const std::string media = dir + "/DCIM/100MEDIA/";
  fs::create_directories(media);
  const TEmbeddedClip layout = OneMinuteClip();
  const std::string clip = GenerateMp4("embedded-clip", layout.media);
  const std::string embedded = kind == "sidecar-same" ? Card("embedded", count) : "";
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "FILE%05d", i + 1);
    // Recording i drives east from 55.75 N 37.6 E, a fix a second.
    const auto fixes = MakeDrive(Stamp(i * 60), 60, 55.75, 37.6 + i * 0.0096, 36, 90);
    if (kind == "embedded") {
      Place(GenerateEmbedded("bench-list-" + std::to_string(i), fixes, layout),
            media + name + ".MP4");
      continue;
    }
    Place(kind == "sidecar" ? clip : embedded + "/DCIM/100MEDIA/" + name + ".MP4",
          media + name + ".MP4");
    std::string text;
    for (const TEmbeddedFix &f : fixes) {
      char line[128];
      const TDateTime utc = EncodeDate(f.year, f.month, f.day) +
                            EncodeTime(f.hour, f.minute, static_cast<int>(f.second), 0);
      std::snprintf(line, sizeof line, "[G]\t%s\tN%.6f\tE%.6f\t%.0f\t%.0f\r\n",
                    FormatDateTime(UtcToLocal(utc)).c_str(), f.lat, f.lon, f.speedKmh, f.course);
      text += line;
    }
    std::ofstream(media + name + ".DAT", std::ios::binary) << text;
  }
  std::ofstream(dir + "/.complete");
  return dir;
}

std::string Kind(const benchmark::State &state) {
  return state.range(0) == 1 ? "embedded" : state.range(0) == 2 ? "sidecar-same" : "sidecar";
}

void BM_ListCardTelemetry(benchmark::State &state) {
  InitLanguages(1033);
  const int count = CardCount();
  std::string card;
  try {
    card = Card(Kind(state), count);
  } catch (const std::exception &e) {
    state.SkipWithError(e.what());
    return;
  }
  int rows = 0, tracks = 0;
  for (auto _ : state) {
    TFileManager fm(false, nullptr);
    fm.AddFolder(card);
    fm.MatchLogFiles();
    fm.AutoGroup();
    rows = fm.RowCount();
    tracks = 0;
    for (int r = 0; r < rows; ++r)
      for (const TFileItemSubitem &rec : fm.GetItem(r).Items) tracks += rec.HasTrack;
  }
  state.SetLabel(Kind(state));
  state.counters["recordings"] = count;
  state.counters["with_track"] = tracks;
  state.counters["rows"] = rows;
}
BENCHMARK(BM_ListCardTelemetry)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
