// The plain box access the readers of cameras' telemetry use: the search
// for a pattern across read boundaries and the `gps ` index's bounds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "container/UnitMOV.h"
#include "container/UnitMOVBoxes.h"

namespace tachora {
namespace {

TEST(MovBoxes, PatternSearchFindsEveryOccurrenceWhateverTheReadSize) {
  std::string data(1000, 'x');
  const std::vector<int64_t> at = {0, 15, 16, 17, 31, 100, 511, 992};
  for (int64_t p : at) data.replace(static_cast<size_t>(p), 8, "freeGPS ");
  auto stream = TMOVStream::FromMemory(reinterpret_cast<const uint8_t *>(data.data()), data.size());
  // Occurrences overlap here (15/16/17): each one counts, in order.
  std::vector<int64_t> expected;
  for (size_t i = data.find("freeGPS "); i != std::string::npos; i = data.find("freeGPS ", i + 1))
    expected.push_back(static_cast<int64_t>(i));
  for (size_t chunk : {16u, 17u, 23u, 64u, 4096u}) {
    std::vector<int64_t> found;
    ScanForPattern(
        *stream, 0, static_cast<int64_t>(data.size()), "freeGPS ",
        [&](int64_t p) {
          found.push_back(p);
          return true;
        },
        chunk);
    EXPECT_EQ(found, expected) << "chunk " << chunk;
  }
  // A range ends the search: a pattern must lie wholly inside it.
  std::vector<int64_t> found;
  ScanForPattern(*stream, 100, 519, "freeGPS ", [&](int64_t p) {
    found.push_back(p);
    return true;
  });
  EXPECT_EQ(found, (std::vector<int64_t>{100, 511}));
}

TEST(MovBoxes, GpsIndexCountIsBoundedByItsBox) {
  auto be32 = [](uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 8), static_cast<char>(v)};
  };
  // moov { gps { version, count 1000000, two entries } }
  const std::string gps = be32(8 + 8 + 16) + "gps " + be32(0x101) + be32(1000000) + be32(4096) +
                          be32(0x8000) + be32(40960) + be32(0x8000);
  const std::string file = be32(static_cast<uint32_t>(8 + gps.size())) + "moov" + gps;
  auto stream = TMOVStream::FromMemory(reinterpret_cast<const uint8_t *>(file.data()), file.size());
  const std::vector<TBox> top = TopLevelBoxes(*stream);
  ASSERT_EQ(top.size(), 1u);
  std::vector<TBlockRef> entries;
  ASSERT_TRUE(ReadGpsIndex(*stream, top[0], entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].offset, 40960);
  EXPECT_EQ(entries[1].size, 0x8000u);
}

}  // namespace
}  // namespace tachora
