#include "app/UnitSha256.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace tachora {

namespace {

EVP_MD_CTX *Ctx(void *p) {
  return static_cast<EVP_MD_CTX *>(p);
}

bool IsHex(std::string_view s) {
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

}  // namespace

TSha256::TSha256() : ctx_(EVP_MD_CTX_new()) {
  if (!ctx_ || EVP_DigestInit_ex(Ctx(ctx_), EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(Ctx(ctx_));
    throw std::runtime_error("SHA-256 is not available");
  }
}

TSha256::~TSha256() {
  EVP_MD_CTX_free(Ctx(ctx_));
}

void TSha256::Update(const void *data, size_t size) {
  if (size > 0) EVP_DigestUpdate(Ctx(ctx_), data, size);
}

TSha256Digest TSha256::Final() {
  TSha256Digest d{};
  unsigned int len = 0;
  EVP_DigestFinal_ex(Ctx(ctx_), d.data(), &len);
  EVP_DigestInit_ex(Ctx(ctx_), EVP_sha256(), nullptr);
  return d;
}

std::string DigestHex(const TSha256Digest &digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  s.reserve(64);
  for (uint8_t b : digest) {
    s += kHex[b >> 4];
    s += kHex[b & 15];
  }
  return s;
}

TSha256Digest Sha256Of(std::string_view data) {
  TSha256 h;
  h.Update(data);
  return h.Final();
}

bool Sha256OfFd(int fd, TSha256Digest &out, std::string *error, size_t bufferSize) {
  std::vector<char> buf(bufferSize);
  TSha256 h;
  for (;;) {
    const ssize_t n = read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (error) *error = std::strerror(errno);
      return false;
    }
    if (n == 0) break;
    h.Update(buf.data(), static_cast<size_t>(n));
  }
  out = h.Final();
  return true;
}

std::string FormatSha256Sums(const std::map<std::string, std::string> &sums) {
  std::string out;
  for (const auto &[name, hex] : sums) {
    const bool escape = name.find_first_of("\\\n\r") != std::string::npos;
    std::string n;
    for (char c : name) {
      if (escape && c == '\\')
        n += "\\\\";
      else if (escape && c == '\n')
        n += "\\n";
      else if (escape && c == '\r')
        n += "\\r";
      else
        n += c;
    }
    out += (escape ? "\\" : "") + hex + "  " + n + "\n";
  }
  return out;
}

std::map<std::string, std::string> ParseSha256Sums(std::string_view text) {
  std::map<std::string, std::string> sums;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const bool escaped = !line.empty() && line.front() == '\\';
    if (escaped) line.remove_prefix(1);
    if (line.size() < 66 || !IsHex(line.substr(0, 64)) || line[64] != ' ' ||
        (line[65] != ' ' && line[65] != '*'))
      continue;
    std::string name;
    const std::string_view raw = line.substr(66);
    for (size_t i = 0; i < raw.size(); ++i) {
      if (escaped && raw[i] == '\\' && i + 1 < raw.size()) {
        const char c = raw[++i];
        name += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
      } else {
        name += raw[i];
      }
    }
    if (name.empty()) continue;
    std::string hex(line.substr(0, 64));
    for (char &c : hex)
      if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    sums[name] = hex;
  }
  return sums;
}

}  // namespace tachora
