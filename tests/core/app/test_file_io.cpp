#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/UnitFileIO.h"
#include "app/UnitFileSystem.h"

namespace fs = std::filesystem;
using tachora::TAtomicFile;

namespace {

struct TempDir {
  fs::path dir;
  TempDir() {
    char templ[] = "/tmp/tachora-fileio-XXXXXX";
    dir = mkdtemp(templ);
  }
  ~TempDir() { fs::remove_all(dir); }
};

std::string Read(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

size_t EntryCount(const fs::path &dir) {
  size_t n = 0;
  for ([[maybe_unused]] const auto &e : fs::directory_iterator(dir)) ++n;
  return n;
}

mode_t Mode(const fs::path &p) {
  struct stat st {};
  stat(p.c_str(), &st);
  return st.st_mode & 07777;
}

}  // namespace

// Both ways of writing (unnamed file, named temporary as on FAT) leave the
// target untouched until Commit, replace it whole, keep a replaced file's
// mode and leave nothing else in the folder.
TEST(AtomicFile, CommitDiscardAndReplaceOnBothPaths) {
  for (bool named : {false, true}) {
    SCOPED_TRACE(named ? "named temporary" : "unnamed file");
    TempDir t;
    const fs::path target = t.dir / "out.mov";
    { std::ofstream(target) << "old contents"; }
    chmod(target.c_str(), 0640);
    {
      TAtomicFile f(target.string());
      if (named) f.PreferNamedTemp();
      ASSERT_TRUE(f.Open());
      EXPECT_EQ(named, !f.TempPath().empty());
      ASSERT_TRUE(f.Write("new"));
      EXPECT_EQ(Read(target), "old contents");
      // Not committed: discarded by the destructor.
    }
    EXPECT_EQ(Read(target), "old contents");
    EXPECT_EQ(EntryCount(t.dir), 1u);

    TAtomicFile f(target.string());
    if (named) f.PreferNamedTemp();
    ASSERT_TRUE(f.Open());
    ASSERT_TRUE(f.Write("replacement"));
    std::string error;
    ASSERT_TRUE(f.Commit(TAtomicFile::TSync::Data, &error)) << error;
    EXPECT_EQ(Read(target), "replacement");
    EXPECT_EQ(Mode(target), 0640u);
    EXPECT_EQ(EntryCount(t.dir), 1u);

    const fs::path fresh = t.dir / "fresh.gpx";
    ASSERT_TRUE(tachora::WriteFileAtomic(fresh.string(), "x"));
    EXPECT_EQ(Read(fresh), "x");
    EXPECT_EQ(EntryCount(t.dir), 2u);
  }
}

TEST(AtomicFile, FailuresNameThePathAndLeaveNothing) {
  TempDir t;
  std::string error;
  EXPECT_FALSE(tachora::WriteFileAtomic((t.dir / "missing" / "a.kml").string(), "x", &error));
  EXPECT_NE(error.find("a.kml"), std::string::npos);
  TAtomicFile f((t.dir / "b.kml").string());
  EXPECT_FALSE(f.Write("x", &error));  // not open
  EXPECT_FALSE(f.Commit(TAtomicFile::TSync::None, &error));
  EXPECT_FALSE(fs::exists(t.dir / "b.kml"));
  EXPECT_EQ(EntryCount(t.dir), 0u);
}

// A write cut short on a card leaves ".<name>.XXXXXX.part": the next named
// temporary in that folder removes ours once they are an hour old, and
// nothing else (a fresh one may belong to a write still running).
TEST(AtomicFile, StaleTemporariesOfOurOwnAreRemovedOnTheNextWrite) {
  TempDir t;
  struct TCase {
    const char *name;
    int ageSeconds;
    bool removed;
  } cases[] = {
      {".clip.mov.a1B2c3.part", 2 * 3600, true},
      {".track.dat.ZZZZZZ.part", 25 * 3600, true},
      {".clip.mov.a1B2c3.part.keep", 2 * 3600, false},  // not our pattern
      {".clip.mov.a1-2c3.part", 2 * 3600, false},       // mkstemp never makes "-"
      {"clip.mov.a1B2c3.part", 2 * 3600, false},        // not hidden
      {"..a1B2c3.part", 2 * 3600, false},               // no name
      {".fresh.mov.q9W8e7.part", 60, false},            // may still be written
  };
  for (const auto &c : cases) {
    const fs::path p = t.dir / c.name;
    { std::ofstream(p) << "partial"; }
    const auto when = fs::file_time_type::clock::now() - std::chrono::seconds(c.ageSeconds);
    fs::last_write_time(p, when);
  }
  fs::create_directory(t.dir / ".old.mov.abcdef.part");  // a folder is never ours
  fs::last_write_time(t.dir / ".old.mov.abcdef.part",
                      fs::file_time_type::clock::now() - std::chrono::hours(5));

  TAtomicFile f((t.dir / "next.mov").string());
  f.PreferNamedTemp();
  ASSERT_TRUE(f.Open());
  ASSERT_TRUE(f.Commit());
  for (const auto &c : cases) EXPECT_EQ(fs::exists(t.dir / c.name), !c.removed) << c.name;
  EXPECT_TRUE(fs::is_directory(t.dir / ".old.mov.abcdef.part"));
  EXPECT_TRUE(fs::exists(t.dir / "next.mov"));
}

// Files on a card reach it before they take their name; elsewhere the
// page cache is trusted (a sync per file is what made copies slow).
TEST(AtomicFile, WritesToRemovableStorageAreFlushedBeforeTheyAreNamed) {
  TempDir t;
  EXPECT_FALSE(tachora::IsRemovableStorage(t.dir.string()));
  EXPECT_FALSE(tachora::IsRemovableStorage((t.dir / "no" / "such" / "file").string()));
  const uint64_t before = tachora::DataSyncCount();
  ASSERT_TRUE(tachora::WriteFileAtomic((t.dir / "a.kml").string(), "x"));
  EXPECT_EQ(tachora::DataSyncCount(), before);
  tachora::TreatAllStorageAsRemovable(true);
  ASSERT_TRUE(tachora::WriteFileAtomic((t.dir / "b.kml").string(), "x"));
  TAtomicFile f((t.dir / "c.mov").string());
  ASSERT_TRUE(f.Open() && f.Write("y"));
  ASSERT_TRUE(f.Commit(TAtomicFile::TSync::Removable));
  tachora::TreatAllStorageAsRemovable(false);
  EXPECT_EQ(tachora::DataSyncCount(), before + 2);
}
