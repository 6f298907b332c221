// Small recorder "cards" in a temporary folder for the catalogue tests:
// recordings (real clips generated with ffmpeg, or files that only carry a
// .MOV name), .dat telemetry written line by line, file times set with
// utimensat. The folder is removed when the card goes.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

#include "app/UnitUtils.h"
#include "catalogue/UnitFileManager.h"

namespace tachora::test {

class TTestCard {
 public:
  TTestCard() {
    char tmpl[] = "/tmp/tachora-card-XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
    Root = tmpl;
  }
  ~TTestCard() {
    // Locked files and folders are given back their write bits first.
    std::system(("chmod -R u+rwX '" + Root + "' 2>/dev/null; rm -rf '" + Root + "'").c_str());
  }
  TTestCard(const TTestCard &) = delete;
  TTestCard &operator=(const TTestCard &) = delete;

  std::string Path(const std::string &rel) const { return Root + "/" + rel; }

  void MakeDirs(const std::string &rel) const {
    std::system(("mkdir -p '" + Path(rel) + "'").c_str());
  }

  std::string Write(const std::string &rel, const std::string &content) const {
    const std::string p = Path(rel);
    const size_t slash = rel.find_last_of('/');
    if (slash != std::string::npos) MakeDirs(rel.substr(0, slash));
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }

  // A file named like a recording that holds no movie.
  std::string FakeMovie(const std::string &rel, size_t bytes = 1000) const {
    return Write(rel, std::string(bytes, 'x'));
  }

  // A copy of a generated clip.
  std::string CopyOf(const std::string &source, const std::string &rel) const {
    const size_t slash = rel.find_last_of('/');
    if (slash != std::string::npos) MakeDirs(rel.substr(0, slash));
    const std::string p = Path(rel);
    std::system(("cp '" + source + "' '" + p + "'").c_str());
    return p;
  }

  // Recorder telemetry: one GPS fix a second from `start` (local), driving
  // east at 36 km/h (10 m/s), with one G-sensor sample after each fix.
  static std::string DatText(TDateTime start, int seconds) {
    std::string text;
    const double degPerMetre = 1.0 / (111194.93 * std::cos(55.75 * M_PI / 180));
    for (int i = 0; i <= seconds; ++i) {
      char line[160];
      std::snprintf(line, sizeof line,
                    "[G]\t%s\tN55.750000\tE%.6f\t36\t90\r\n[S]\t12\t-40\t1010\r\n",
                    FormatDateTime(start + i / 86400.0).c_str(), 37.6 + i * 10 * degPerMetre);
      text += line;
    }
    return text;
  }

  std::string Dat(const std::string &rel, TDateTime start, int seconds) const {
    return Write(rel, DatText(start, seconds));
  }

  static void SetTimes(const std::string &path, TDateTime modified, TDateTime accessed = 0) {
    const timespec ts[2] = {TimespecFromDateTime(accessed > 0 ? accessed : modified),
                            TimespecFromDateTime(modified)};
    utimensat(AT_FDCWD, path.c_str(), ts, 0);
  }

  static unsigned Mode(const std::string &path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
  }

  static bool Exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

  static std::string Read(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string Root;
};

}  // namespace tachora::test

namespace tachora {
// Puts hand-made rows into a catalogue (grouping rules need exact times).
class TFileManagerTestAccess {
 public:
  static void AddRow(TFileManager &fm, std::vector<TFileItemSubitem> recs) {
    TFileItem row;
    row.Items = std::move(recs);
    std::lock_guard lock(fm.fMutex);
    for (size_t k = 0; k < row.Items.size(); ++k)
      fm.RememberPathLocked(row.Items[k].Path, fm.fRows.size(), k);
    RecomputeRow(row, fm.fUnit, NowDateTime());
    row.Id = fm.fNextId++;
    fm.fRows.push_back(std::move(row));
  }

  // The background preview's steps for the row holding `path`, so that a
  // test can act between taking the row and storing the result.
  using TWork = TFileManager::TWork;
  static TWork Take(TFileManager &fm, const std::string &path) {
    TWork work;
    fm.TakeRowOf(path, work);
    return work;
  }
  static void Preview(TFileManager &fm, TWork &work) {
    TNoCaseDirCache cache;
    fm.ComputeWork(work, true, true, cache);
    fm.StoreWork(work, TFileManager::TStoreRule::Computed);
  }
  // "Attach Track" in its steps: take, work out, store.
  static void Attach(TFileManager &fm, TWork &work, const std::string &telemetry) {
    fm.ComputeAttach(work, telemetry);
    fm.StoreWork(work, TFileManager::TStoreRule::Override);
  }
};
}  // namespace tachora
