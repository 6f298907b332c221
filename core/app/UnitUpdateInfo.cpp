#include "app/UnitUpdateInfo.h"

#include <openssl/evp.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>

#include "app/UnitLang.h"

#ifndef TACHORA_UPDATE_PUBLIC_KEY
#error "TACHORA_UPDATE_PUBLIC_KEY (base64 of the release key's 32 public bytes) is not set"
#endif

namespace tachora {

namespace {

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerText(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), Lower);
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() &&
         (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n'))
    s.remove_prefix(1);
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && LowerText(s.substr(0, prefix.size())) == prefix;
}

// A decimal number of the text, or `fallback` when it is none.
int64_t ToInt(std::string_view s, int64_t fallback) {
  int64_t v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() ? v : fallback;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string BuildUpdateRequest(std::string_view host, uint16_t port, std::string_view path) {
  std::string r = "GET ";
  r.append(path).append(" HTTP/1.1\r\nHost: ").append(host).append(":");
  r += std::to_string(port);
  r += "\r\nUser-Agent: Tachora ";
  r += kUpdateVersion;
  r += " (Quorvex Production)\r\nConnection: close\r\n\r\n";
  return r;
}

// ---- THttpReply -------------------------------------------------------------

bool THttpReply::Feed(std::string_view data) {
  if (failed_) return false;
  if (headersDone_) return TakeBody(data);
  // The header block and its blank line: at most kUpdateMaxHeaderBytes + 4
  // bytes are ever kept; the search goes on where the last one ended.
  const size_t old = head_.size();
  const size_t take = std::min(data.size(), kUpdateMaxHeaderBytes + 4 - old);
  head_.append(data.substr(0, take));
  const size_t end = head_.find("\r\n\r\n", old >= 3 ? old - 3 : 0);
  if (end == std::string::npos || end > kUpdateMaxHeaderBytes) {
    failed_ = head_.size() >= kUpdateMaxHeaderBytes + 4;
    if (failed_) head_.clear();
    return !failed_;
  }
  std::string rest = head_.substr(end + 4);
  rest.append(data.substr(take));
  ReadHeaders(std::string_view(head_).substr(0, end));
  head_.clear();
  headersDone_ = true;
  return !failed_ && TakeBody(rest);
}

void THttpReply::ReadHeaders(std::string_view head) {
  length_ = 0;
  bool first = true;
  while (!head.empty()) {
    const size_t nl = head.find('\n');
    const std::string_view line = Trim(head.substr(0, nl));
    head.remove_prefix(nl == std::string_view::npos ? head.size() : nl + 1);
    if (first) {
      // "HTTP/1.1 200 OK"
      first = false;
      const size_t sp = line.find(' ');
      status_ =
          sp == std::string_view::npos ? 0 : static_cast<int>(ToInt(line.substr(sp + 1, 3), 0));
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    if (LowerText(Trim(line.substr(0, colon))) == "content-length")
      length_ = std::max<int64_t>(0, ToInt(Trim(line.substr(colon + 1)), 0));
  }
  // A body announced larger than allowed is not waited for.
  if (length_ > limit_) failed_ = true;
}

bool THttpReply::TakeBody(std::string_view data) {
  const int64_t room = (length_ > 0 ? length_ : limit_) - BodySize();
  if (static_cast<int64_t>(data.size()) > room) {
    // Past an announced length: the rest is not this reply's. Past the limit
    // without one: the reply is too large.
    if (length_ <= 0) {
      failed_ = true;
      body_.clear();
      return false;
    }
    data = data.substr(0, static_cast<size_t>(std::max<int64_t>(0, room)));
  }
  body_.append(data);
  return true;
}

int THttpReply::Percent() const {
  if (length_ <= 0) return 0;
  return static_cast<int>(std::lround(static_cast<double>(BodySize()) * 100.0 / length_));
}

std::string THttpReply::ProgressText() const {
  if (length_ <= 0) return {};
  return std::to_string(std::lround(BodySize() / 1024.0)) + " " + LangText("Kb") + " (" +
         std::to_string(Percent()) + "%)";
}

// ---- the version file -------------------------------------------------------

bool IsNewerVersion(std::string_view mine, std::string_view theirs) {
  return mine < theirs;
}

bool IsVersionText(std::string_view v) {
  if (v.empty() || v.size() > 32 || v.front() == '.' || v.back() == '.') return false;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '.' && i > 0 && v[i - 1] == '.') return false;
    if (v[i] != '.' && (v[i] < '0' || v[i] > '9')) return false;
  }
  return true;
}

bool IsCleanUrl(std::string_view url) {
  return std::none_of(url.begin(), url.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= 0x20 || u == 0x7f;
  });
}

bool DecodeBase64(std::string_view text, std::string &out) {
  out.clear();
  while (!text.empty() && text.back() == '=') text.remove_suffix(1);
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    const int v = Base64Value(c);
    if (v < 0) return false;
    bits = (bits << 6) | static_cast<uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xff));
    }
  }
  return count < 6;
}

namespace {

std::string SignatureUrlOf(std::string_view downloadUrl) {
  const size_t query = downloadUrl.find('?');
  std::string url(downloadUrl.substr(0, query));
  url += ".sig";
  if (query != std::string_view::npos) url += downloadUrl.substr(query);
  return url;
}

std::string SignatureOf(std::string_view base64) {
  std::string raw;
  return DecodeBase64(Trim(base64), raw) && raw.size() == kSignatureBytes ? raw : std::string();
}

}  // namespace

TUpdateInfo ParseUpdateInfo(std::string_view body, std::string_view mine) {
  TUpdateInfo info;
  while (!body.empty()) {
    const size_t nl = body.find('\n');
    std::string_view line = body.substr(0, nl);
    body.remove_prefix(nl == std::string_view::npos ? body.size() : nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t eq = line.find('=');
    const std::string key = LowerText(line.substr(0, eq));
    const std::string_view value =
        eq == std::string_view::npos ? std::string_view() : line.substr(eq + 1);
    if (key == "version") info.Version = value;
    if (key == "downloadurl") info.DownloadUrl = value;
    if (key == "signature") info.Signature = SignatureOf(value);
  }
  info.Offer = !info.DownloadUrl.empty() && IsCleanUrl(info.DownloadUrl) &&
               IsNewerVersion(mine, info.Version);
  if (!info.Offer) return info;
  info.SignatureUrl = SignatureUrlOf(info.DownloadUrl);
  info.DownloadUrl.append("&version=").append(mine);
  return info;
}

std::string ParseSignatureFile(std::string_view text) {
  if (text.size() == kSignatureBytes) {
    // Raw bytes, unless they happen to be text of another form.
    const std::string asText = SignatureOf(text);
    if (asText.empty()) return std::string(text);
  }
  text = Trim(text);
  if (StartsWithNoCase(text, "signature=")) text.remove_prefix(10);
  return SignatureOf(text);
}

// ---- addresses and file names -----------------------------------------------

bool SplitDownloadUrl(std::string_view url, TUrlParts &out) {
  if (!IsCleanUrl(url) || !StartsWithNoCase(url, "http://")) return false;
  std::string_view rest = url.substr(7);
  const size_t slash = rest.find('/');
  std::string_view host = rest.substr(0, slash);
  rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
  out.Port = 80;
  const size_t colon = host.find(':');
  if (colon != std::string_view::npos) {
    const int64_t port = ToInt(host.substr(colon + 1), 0);
    if (port > 0 && port < 65536) out.Port = static_cast<uint16_t>(port);
    host = host.substr(0, colon);
  }
  out.Host = host;
  out.Path = "/";
  out.Path += rest;
  return !host.empty();
}

std::string VersionedFileName(std::string_view programPath, std::string_view version) {
  const size_t slash = programPath.rfind('/');
  const size_t nameFrom = slash == std::string_view::npos ? 0 : slash + 1;
  const size_t dot = programPath.rfind('.');
  const size_t split = dot != std::string_view::npos && dot > nameFrom ? dot : programPath.size();
  std::string out(programPath.substr(0, split));
  out.append("_v").append(version).append(programPath.substr(split));
  return out;
}

std::string BackupFileName(std::string_view programPath, std::string_view version,
                           const std::function<bool(const std::string &)> &exists) {
  std::string backup = VersionedFileName(programPath, version);
  while (exists(backup)) backup += "_";
  return backup;
}

// ---- the signature ----------------------------------------------------------

std::string UpdatePublicKey() {
  std::string raw;
  return DecodeBase64(TACHORA_UPDATE_PUBLIC_KEY, raw) && raw.size() == 32 ? raw : std::string();
}

bool VerifyUpdateSignature(std::string_view data, std::string_view signature,
                           std::string_view publicKey) {
  if (signature.size() != kSignatureBytes || publicKey.size() != 32) return false;
  const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                  reinterpret_cast<const unsigned char *>(publicKey.data()), 32),
      &EVP_PKEY_free);
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
  if (!key || !ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1)
    return false;
  return EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char *>(signature.data()),
                          signature.size(), reinterpret_cast<const unsigned char *>(data.data()),
                          data.size()) == 1;
}

bool CanUpdateAutomatically(const TUpdateInfo &info, bool programWritable) {
  return info.Offer && programWritable && IsVersionText(info.Version) &&
         info.Signature.size() == kSignatureBytes;
}

void SplitServer(std::string_view server, std::string &host, uint16_t &port) {
  const std::string_view s = Trim(server);
  const size_t colon = s.rfind(':');
  host = s.substr(0, colon);
  port = kUpdatePort;
  if (colon != std::string_view::npos) {
    const int64_t p = ToInt(s.substr(colon + 1), 0);
    if (p > 0 && p < 65536) port = static_cast<uint16_t>(p);
  }
}

}  // namespace tachora
