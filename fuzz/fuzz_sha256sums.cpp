// libFuzzer target: a "SHA256SUMS" text as a copy's target folder may hold
// it (from us, from sha256sum, or anything else). Whatever is read must
// come back the same after being written out and read again, so merging new
// sums into a folder never changes or loses the old ones.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/UnitSha256.h"

using namespace tachora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  const auto sums = ParseSha256Sums(text);
  for (const auto &[name, hex] : sums)
    if (name.empty() || hex.size() != 64) __builtin_trap();
  if (ParseSha256Sums(FormatSha256Sums(sums)) != sums) __builtin_trap();
  return 0;
}
