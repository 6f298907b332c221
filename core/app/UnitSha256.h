// SHA-256 digests (FIPS 180-4) for checking that a copied recording equals
// its original, and the "SHA256SUMS" text that `sha256sum -c` reads.
//
// TSha256 wraps libcrypto's implementation (it uses the processor's SHA
// instructions where there are any: a recording is hashed at disk speed).
// One object belongs to one thread. Digests are 32 bytes; texts are lower
// case hexadecimal.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace tachora {

using TSha256Digest = std::array<uint8_t, 32>;

class TSha256 {
 public:
  TSha256();
  ~TSha256();
  TSha256(const TSha256 &) = delete;
  TSha256 &operator=(const TSha256 &) = delete;

  void Update(const void *data, size_t size);
  void Update(std::string_view data) { Update(data.data(), data.size()); }
  // The digest of everything given since construction or the last Final;
  // the object starts over afterwards.
  TSha256Digest Final();

 private:
  void *ctx_;  // EVP_MD_CTX
};

std::string DigestHex(const TSha256Digest &digest);
TSha256Digest Sha256Of(std::string_view data);

// Hashes the file `fd` reads from its current offset to its end, in
// `bufferSize` blocks; false with `error` set on a read error.
bool Sha256OfFd(int fd, TSha256Digest &out, std::string *error = nullptr,
                size_t bufferSize = 1 << 20);

// "SHA256SUMS" texts: file name -> hexadecimal digest, one line each in the
// order of the names ("<hex>  <name>\n", binary-safe names escaped the way
// sha256sum writes them: a leading "\" and "\\" / "\n" inside).
std::string FormatSha256Sums(const std::map<std::string, std::string> &sums);
// Reads such a text (also lines with " *" binary markers and CR LF ends);
// lines it does not understand are dropped.
std::map<std::string, std::string> ParseSha256Sums(std::string_view text);

}  // namespace tachora
