// libFuzzer target: the GPX reader that scans a large file piece by piece
// (1 MiB pieces) against the same reader over the whole text. The text is
// the input when it is larger than a piece; a smaller input is repeated
// until the text passes the first piece by as many bytes as its first two
// bytes say, so that every run crosses piece boundaries at a place the
// fuzzer chooses. Both scans must accept the same records.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "telemetry/UnitGpsConverterGPX.h"

using namespace tachora;

namespace {

constexpr size_t kPiece = 1u << 20;

class TRecords : public TTrackSink {
 public:
  using TTrackSink::TTrackSink;
  std::vector<TTrackRecord> Items;

 protected:
  void Store(const TTrackRecord &rec) override { Items.push_back(rec); }
  void Forget() override { Items.clear(); }
};

bool Same(const TTrackRecord &a, const TTrackRecord &b) {
  auto same = [](auto x, auto y) { return x == y || (x != x && y != y); };
  return a.Kind == b.Kind && same(a.Time, b.Time) && same(a.Lon, b.Lon) && same(a.Lat, b.Lat) &&
         same(a.Altitude, b.Altitude) && same(a.Course, b.Course) && same(a.Speed, b.Speed) &&
         same(a.X, b.X) && same(a.Y, b.Y) && same(a.Z, b.Z);
}

std::string TextOf(const uint8_t *data, size_t size) {
  if (size > kPiece) return std::string(reinterpret_cast<const char *>(data), size);
  if (size < 3) return {};
  const size_t total = kPiece + (size_t{data[0]} << 8 | data[1]);
  const std::string_view unit(reinterpret_cast<const char *>(data + 2), size - 2);
  std::string text;
  text.reserve(total + unit.size());
  while (text.size() < total) text.append(unit);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text = TextOf(data, size);
  if (text.empty()) return 0;
  static const int fd = memfd_create("fuzz_gpx_stream", 0);
  if (fd < 0 || ftruncate(fd, 0) != 0 ||
      pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()) ||
      lseek(fd, 0, SEEK_SET) != 0)
    __builtin_trap();

  TGpsInfoConverterGPX whole, pieces;
  TRecords a(text.size()), b(text.size());
  const bool okWhole = whole.Read(text, a);
  const bool okPieces = pieces.ReadFile(fd, text.size(), b);
  if (okWhole != okPieces || a.Items.size() != b.Items.size()) __builtin_trap();
  for (size_t i = 0; i < a.Items.size(); ++i)
    if (!Same(a.Items[i], b.Items[i])) __builtin_trap();
  return 0;
}
