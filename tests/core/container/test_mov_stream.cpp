// Copies between file streams, which the kernel makes: whatever the ranges
// (unaligned, longer than one trip through the kernel's pipe, continuing
// each other, running past the source's end) and whether the new file lies
// on the recording's own file system or on another one (tmpfs), the new
// file holds the source's bytes where the ranges went and zeros in gaps
// and where the source ended.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "TestMedia.h"
#include "container/UnitMOVStream.h"

using namespace tachora;
using namespace tachora::test;
namespace fs = std::filesystem;

namespace {

struct TRange {
  int64_t from, n;
  bool aligned;  // CopyAligned rather than CopyFrom
};

}  // namespace

TEST(MOVStream, KernelCopiesHoldTheSourcesBytes) {
  const std::string dir = MakeTempDir("mov-stream");
  const std::string src = dir + "/src.bin";
  constexpr int64_t kSize = 5 * 1024 * 1024 + 123;
  std::string bytes(kSize, '\0');
  std::mt19937 rng(7);
  for (char &c : bytes) c = static_cast<char>(rng());
  std::ofstream(src, std::ios::binary) << bytes;

  std::vector<std::string> outDirs = {dir};
  if (::access("/dev/shm", W_OK) == 0) outDirs.push_back("/dev/shm");
  const struct {
    const char *what;
    std::vector<TRange> ranges;
  } cases[] = {
      {"one unaligned range longer than a pipe", {{4097 + 11, 3 * 1024 * 1024 + 5, false}}},
      {"aligned ranges, the second continuing the first",
       {{12345, 2 * 1024 * 1024, true}, {12345 + 2 * 1024 * 1024, 1024 * 1024 + 1, true}}},
      {"ranges in another order, with gaps", {{4 * 1024 * 1024, 70000, true}, {1, 999, true}}},
      {"the source ends inside the range", {{kSize - 100000, 250000, false}}},
  };
  for (const std::string &outDir : outDirs) {
    for (const auto &c : cases) {
      SCOPED_TRACE(outDir + ": " + c.what);
      const std::string out = outDir + "/tachora-test-stream.bin";
      std::string expected = "head";
      int64_t missing = 0;
      {
        auto in = TMOVStream::OpenRead(src);
        auto w = TMOVStream::CreateWrite(out);
        ASSERT_TRUE(in && w);
        w->Write("head", 4);
        for (const TRange &r : c.ranges) {
          const int64_t at = r.aligned ? w->CopyAligned(*in, r.from, r.n)
                                       : (w->CopyFrom(*in, r.from, r.n), w->Position() - r.n);
          if (r.aligned) {
            EXPECT_EQ(at % 4096, r.from % 4096);
          }
          expected.resize(static_cast<size_t>(at), '\0');
          const int64_t have = std::max<int64_t>(0, std::min(r.n, kSize - r.from));
          expected += bytes.substr(static_cast<size_t>(r.from), static_cast<size_t>(have));
          expected.resize(static_cast<size_t>(at + r.n), '\0');
          missing += r.n - have;
        }
        w->Flush();
        EXPECT_EQ(w->MissingBytes(), missing);
        EXPECT_LE(w->CopyCalls(), 3 * static_cast<int64_t>(c.ranges.size()));
      }
      const std::string got = ReadFileBytes(out);
      fs::remove(out);
      ASSERT_EQ(got.size(), expected.size());
      EXPECT_TRUE(got == expected);
    }
  }
}
