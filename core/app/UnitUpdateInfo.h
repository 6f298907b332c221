// The update check's protocol without a socket: the hand-written HTTP/1.1
// request, the reply as it arrives (headers, then a body held to a limit),
// the version file ("key=value" lines, keys in any case), the byte-wise
// version comparison, the download address, the file names of an automatic
// update, and the release signature that decides whether a download may
// replace the program.
//
// The server is reached over plain HTTP, so nothing in its reply is trusted:
// headers stop at 16 KiB, the version file at 64 KiB, a download at its
// Content-Length and 512 MiB; a version goes into a file name only when it
// is digits and dots; an address with spaces or control characters is
// refused; and a download replaces the program only when it carries an
// Ed25519 signature made with the release key whose public half is built
// into the program (TACHORA_UPDATE_PUBLIC_KEY at configure time).
//
// Pure functions and a value type; any thread. Texts are UTF-8 bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tachora {

// The program's own version as the update server knows it.
inline constexpr const char *kUpdateVersion = "2.6";
inline constexpr const char *kUpdatePath = "/file/tachora.ini";
inline constexpr uint16_t kUpdatePort = 80;

// Limits on what the server may send.
inline constexpr size_t kUpdateMaxHeaderBytes = 16 * 1024;
inline constexpr int64_t kUpdateMaxVersionFileBytes = 64 * 1024;
inline constexpr int64_t kUpdateMaxSignatureFileBytes = 4 * 1024;
inline constexpr int64_t kUpdateMaxDownloadBytes = 512LL * 1024 * 1024;
// A connection that brings nothing for this long is given up.
inline constexpr int kUpdateStallMs = 30000;

// "GET <path> HTTP/1.1", Host with the port, the User-Agent, and
// "Connection: close" so that a reply without a length ends when the server
// closes instead of being cut after its first piece.
std::string BuildUpdateRequest(std::string_view host, uint16_t port, std::string_view path);

// The reply as it arrives: headers (at most kUpdateMaxHeaderBytes), then
// the body, which may not pass `bodyLimit` nor an announced Content-Length
// (bytes after it are dropped). A reply that breaks a limit is Failed and
// takes nothing more.
class THttpReply {
 public:
  explicit THttpReply(int64_t bodyLimit = kUpdateMaxVersionFileBytes) : limit_(bodyLimit) {}
  // False once the reply has failed.
  bool Feed(std::string_view data);
  bool HeadersDone() const { return headersDone_; }
  bool Failed() const { return failed_; }
  int Status() const { return status_; }
  // -1 until the headers are read; 0 when the reply names no usable length.
  int64_t ContentLength() const { return length_; }
  const std::string &Body() const { return body_; }
  // The announced length has arrived.
  bool Complete() const { return headersDone_ && length_ > 0 && BodySize() >= length_; }
  // "2 Kb (100%)"; empty while the length is unknown.
  std::string ProgressText() const;
  int Percent() const;

 private:
  int64_t BodySize() const { return static_cast<int64_t>(body_.size()); }
  void ReadHeaders(std::string_view head);
  bool TakeBody(std::string_view data);

  std::string head_;
  std::string body_;
  int64_t limit_;
  int64_t length_ = -1;
  int status_ = 0;
  bool headersDone_ = false;
  bool failed_ = false;
};

// An Ed25519 signature: 64 bytes.
inline constexpr size_t kSignatureBytes = 64;

// What the version file offers.
struct TUpdateInfo {
  std::string Version;
  std::string DownloadUrl;  // with "&version=2.6" appended when an offer exists
  // The signature beside the download: ".sig" after the path of the address
  // as the server wrote it, before its query ("http://h/a?x" ->
  // "http://h/a.sig?x").
  std::string SignatureUrl;
  std::string Signature;  // the download's signature (64 bytes), empty when absent or broken
  bool Offer = false;
};
// `mine` < `theirs` as plain byte strings ("2.10" is not newer than "2.6").
bool IsNewerVersion(std::string_view mine, std::string_view theirs);
// Digits and dots only, starting and ending with a digit, at most 32
// characters: safe to put into a file name.
bool IsVersionText(std::string_view version);
// An address fit to be asked for or opened: no spaces, no control characters.
bool IsCleanUrl(std::string_view url);
// Reads "version", "downloadurl" and "signature" (base64 of the 64 bytes).
// No offer for an address that is not clean.
TUpdateInfo ParseUpdateInfo(std::string_view body, std::string_view mine = kUpdateVersion);
// A ".sig" file: the 64 bytes themselves, their base64, or a "signature="
// line; empty when it is none of these.
std::string ParseSignatureFile(std::string_view text);
// Base64 (standard alphabet, "=" padding optional); false on any other
// character.
bool DecodeBase64(std::string_view text, std::string &out);

// "http://host:8080/a.exe?x" -> host, 8080, "/a.exe?x" (port 80 when absent
// or not a number). False when the address is not a clean http:// one.
struct TUrlParts {
  std::string Host;
  uint16_t Port = 80;
  std::string Path;
};
bool SplitDownloadUrl(std::string_view url, TUrlParts &out);

// "/opt/t/tachora" + "2.7" -> "/opt/t/tachora_v2.7"; with an extension the
// version goes before it ("Tachora.exe" -> "Tachora_v2.7.exe").
std::string VersionedFileName(std::string_view programPath, std::string_view version);
// The backup name of the running program, with "_" appended while `exists`
// says a file has that name.
std::string BackupFileName(std::string_view programPath, std::string_view version,
                           const std::function<bool(const std::string &)> &exists);

// The release key built into the program: 32 raw bytes of an Ed25519 public
// key (empty when the build was given a broken one).
std::string UpdatePublicKey();
// Whether `signature` is an Ed25519 signature of `data` under the raw
// 32-byte `publicKey` (libcrypto).
bool VerifyUpdateSignature(std::string_view data, std::string_view signature,
                           std::string_view publicKey);

// Whether "Yes, do it automatically" may be offered: a newer version that
// is a version, a signature to check the download against, and a program
// file that can be replaced.
bool CanUpdateAutomatically(const TUpdateInfo &info, bool programWritable);

// The update server "host" or "host:port" (port 80 by default).
void SplitServer(std::string_view server, std::string &host, uint16_t &port);

}  // namespace tachora
