// libFuzzer target: an update server's reply. The first byte chooses which
// request it answers (version file, signature, download) and the size of the
// pieces it arrives in; the rest is what the server sends. The reply must
// keep to its limits, and what an offer turns into (the address asked for,
// the file names) must stay clean whatever the server wrote.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/UnitUpdateInfo.h"

using namespace tachora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  static const int64_t kLimits[] = {kUpdateMaxVersionFileBytes, kUpdateMaxSignatureFileBytes, 100};
  const int64_t limit = kLimits[data[0] % 3];
  const size_t piece = 1 + data[0] / 3 * 97;
  std::string_view rest(reinterpret_cast<const char *>(data + 1), size - 1);

  THttpReply reply(limit);
  while (!rest.empty()) {
    const bool ok = reply.Feed(rest.substr(0, piece));
    if (ok == reply.Failed()) __builtin_trap();
    rest.remove_prefix(std::min(piece, rest.size()));
  }
  const int64_t body = static_cast<int64_t>(reply.Body().size());
  if (body > limit || (reply.ContentLength() > 0 && body > reply.ContentLength())) __builtin_trap();
  if (reply.Failed() && body != 0) __builtin_trap();
  reply.ProgressText();

  const TUpdateInfo info = ParseUpdateInfo(reply.Body());
  if (info.Offer && (!IsCleanUrl(info.DownloadUrl) || !IsCleanUrl(info.SignatureUrl)))
    __builtin_trap();
  if (!info.Signature.empty() && info.Signature.size() != kSignatureBytes) __builtin_trap();
  TUrlParts url;
  if (SplitDownloadUrl(info.DownloadUrl, url)) {
    const std::string request = BuildUpdateRequest(url.Host, url.Port, url.Path);
    // The request is exactly its four lines and the blank one.
    if (std::count(request.begin(), request.end(), '\n') != 5 ||
        std::count(request.begin(), request.end(), '\r') != 5 ||
        request.find("\r\n\r\n") + 4 != request.size())
      __builtin_trap();
  }
  if (IsVersionText(info.Version)) {
    const std::string name = VersionedFileName("/opt/t/tachora", info.Version);
    if (name.rfind("/opt/t/tachora_v", 0) != 0 || name.find('/', 7) != std::string::npos)
      __builtin_trap();
  }
  const std::string sig = ParseSignatureFile(reply.Body());
  if (!sig.empty() && sig.size() != kSignatureBytes) __builtin_trap();
  // Nothing a server sends verifies against the release key.
  if (VerifyUpdateSignature(reply.Body(), sig.empty() ? info.Signature : sig, UpdatePublicKey()))
    __builtin_trap();
  return 0;
}
