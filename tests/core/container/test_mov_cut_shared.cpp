// Cuts on file systems that share blocks between files (XFS with reflink,
// Btrfs), each made in a loop image for the test: the fragment's whole
// blocks must be the recording's own, shared, not copies; and a cut from
// another file system into one (where the kernel cannot copy) is still
// complete. Needs root, loop devices and the mkfs programs; where any is
// missing (a container that refuses to mount) each case skips, saying so.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "TestMedia.h"
#include "container/UnitCutter.h"
#include "container/UnitMOV.h"

using namespace tachora;
using namespace tachora::test;
namespace fs = std::filesystem;

namespace {

// A file system of `kind` in a sparse image under `dir`, mounted at
// dir/mnt while the object lives.
class TLoopMount {
 public:
  TLoopMount(const std::string &dir, const std::string &kind) : fImage(dir + "/fs.img") {
    const std::string mnt = dir + "/mnt";
    fs::create_directories(mnt);
    const std::string mkfs = kind == "xfs" ? "mkfs.xfs -q -f -m reflink=1 " : "mkfs.btrfs -q -f ";
    if (geteuid() != 0 || RunCommand("truncate -s 512M " + ShellQuote(fImage)) != 0 ||
        RunCommand(mkfs + ShellQuote(fImage) + " >/dev/null 2>&1") != 0 ||
        RunCommand("mount -o loop " + ShellQuote(fImage) + " " + ShellQuote(mnt) +
                   " >/dev/null 2>&1") != 0)
      return;
    fPath = mnt;
  }
  ~TLoopMount() {
    if (!fPath.empty()) RunCommand("umount " + ShellQuote(fPath));
    fs::remove(fImage);
  }
  // Empty when it could not be mounted.
  const std::string &Path() const { return fPath; }

 private:
  std::string fImage, fPath;
};

// Bytes of the file in extents that the file system shares with another file.
int64_t SharedBytes(const std::string &path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  constexpr unsigned kExtents = 512;
  std::vector<uint8_t> buf(sizeof(fiemap) + kExtents * sizeof(fiemap_extent));
  auto *map = reinterpret_cast<fiemap *>(buf.data());
  int64_t shared = 0;
  uint64_t start = 0;
  for (bool last = false; !last;) {
    std::fill(buf.begin(), buf.end(), 0);
    map->fm_start = start;
    map->fm_length = FIEMAP_MAX_OFFSET - start;
    map->fm_flags = FIEMAP_FLAG_SYNC;
    map->fm_extent_count = kExtents;
    if (::ioctl(fd, FS_IOC_FIEMAP, map) != 0 || map->fm_mapped_extents == 0) break;
    for (unsigned i = 0; i < map->fm_mapped_extents; ++i) {
      const fiemap_extent &e = map->fm_extents[i];
      if (e.fe_flags & FIEMAP_EXTENT_SHARED) shared += static_cast<int64_t>(e.fe_length);
      last = last || (e.fe_flags & FIEMAP_EXTENT_LAST);
      start = e.fe_logical + e.fe_length;
    }
  }
  ::close(fd);
  return shared;
}

TCutResult Cut(const std::string &source, const std::string &out) {
  TCutTrip trip;
  trip.recordings.push_back({source, 0, 1});
  TCutOptions o;
  o.a = 0.1L;
  o.b = 0.9L;
  o.output = out;
  return CutFragment(trip, o, nullptr, {});
}

}  // namespace

TEST(MOVCutShared, FragmentSharesTheRecordingsBlocks) {
  TMediaRecipe media;
  media.width = 640;
  media.height = 480;
  media.seconds = 4;
  media.extraArgs = "-b:v 8M";
  const std::string generated = GenerateMovie("shared-src", media);
  int mounted = 0;
  for (const std::string kind : {"xfs", "btrfs"}) {
    SCOPED_TRACE(kind);
    TLoopMount mount(MakeTempDir("cut-shared-" + kind), kind);
    if (mount.Path().empty()) {
      std::printf("%s: skipped: cannot mount\n", kind.c_str());
      continue;
    }
    ++mounted;
    const std::string src = mount.Path() + "/REC0001.MOV";
    fs::copy_file(generated, src);

    const std::string out = mount.Path() + "/fragment.mov";
    const TCutResult res = Cut(src, out);
    ASSERT_TRUE(res.written) << CutErrorText(res);
    // All but the partial blocks at the ends of the copied ranges.
    EXPECT_GE(SharedBytes(out), res.mediaBytes - 4 * 65536) << res.mediaBytes;
    std::string errors;
    EXPECT_TRUE(DecodesCleanly(out, &errors)) << errors;

    // From another file system: copied through a buffer, the same movie.
    const std::string across = mount.Path() + "/across.mov";
    const TCutResult res2 = Cut(generated, across);
    ASSERT_TRUE(res2.written) << CutErrorText(res2);
    EXPECT_EQ(res2.mediaBytes, res.mediaBytes);
    EXPECT_EQ(fs::file_size(across), fs::file_size(out));
    EXPECT_TRUE(DecodesCleanly(across, &errors)) << errors;
  }
  if (mounted == 0) GTEST_SKIP() << "skipped: cannot mount";
}
