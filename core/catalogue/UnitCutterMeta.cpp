#include "catalogue/UnitCutterMeta.h"

#include <filesystem>
#include <system_error>

#include "telemetry/UnitGpsConverters.h"
#include "telemetry/UnitMovingInfo.h"

namespace tachora {

std::string TMovingInfoMetaSource::MetaText(const TCutRecording &recording, long double from,
                                            long double to) {
  const auto *mi = static_cast<const TMovingInfo *>(recording.telemetry);
  if (!mi) return {};
  TTrackInfo info;
  ExtractRange(*mi, from, to, info);
  if (info.Items.empty()) return {};
  return WriteTrackText(DefaultGpsWriter(), info);
}

namespace {
// A file in `dir` whose name equals `name` without regard to case.
std::string FindNoCase(const std::filesystem::path &dir, const std::string &name) {
  std::error_code ec;
  const std::filesystem::path exact = dir / name;
  if (std::filesystem::is_regular_file(exact, ec)) return exact.string();
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    if (EqualsNoCase(it->path().filename().string(), name) && it->is_regular_file(ec))
      return it->path().string();
  return {};
}
}  // namespace

std::string FindTelemetryBeside(const std::string &videoPath) {
  const std::filesystem::path video(videoPath);
  const std::filesystem::path dir = video.has_parent_path() ? video.parent_path() : ".";
  const std::string stem = video.stem().string();
  for (const char *ext : {".dat", ".log", ".gpx", ".plt"}) {
    std::string p = FindNoCase(dir, stem + ext);
    if (!p.empty()) return p;
  }
  std::error_code ec;
  const std::filesystem::path parent = std::filesystem::absolute(dir, ec).parent_path();
  for (std::filesystem::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec))
    if (EqualsNoCase(it->path().filename().string(), "INFO") && it->is_directory(ec)) {
      std::string p = FindNoCase(it->path(), stem + ".dat");
      if (!p.empty()) return p;
    }
  return {};
}

}  // namespace tachora
