// The update protocol without a socket: the limits on what a server may
// send, the offer, the addresses and names an offer turns into, and the
// release signature (with a key pair made here, and with the signing
// script the release is made with).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "TestSigning.h"
#include "app/UnitUpdateInfo.h"

using namespace tachora;

namespace {

THttpReply FeedAll(const std::vector<std::string> &pieces, int64_t limit) {
  THttpReply r(limit);
  for (const std::string &p : pieces) r.Feed(p);
  return r;
}

std::string Headers(const std::string &extra) {
  return "HTTP/1.1 200 OK\r\nServer: t\r\n" + extra + "\r\n";
}

}  // namespace

TEST(UpdateReply, LimitsOnHeadersAndBody) {
  const std::string endlessHeader = "X-Filler: " + std::string(990, 'h') + "\r\n";
  struct TCase {
    const char *name;
    std::vector<std::string> pieces;
    int64_t limit;
    bool failed;
    std::string body;
  };
  const TCase cases[] = {
      {"blank line split over pieces",
       {"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r", "\nabc"},
       100,
       false,
       "abc"},
      {"bytes past the length are dropped",
       {Headers("Content-Length: 3\r\n") + "abcdef"},
       100,
       false,
       "abc"},
      {"no length: up to the limit",
       {Headers(""), std::string(100, 'b')},
       100,
       false,
       std::string(100, 'b')},
      {"no length: past the limit",
       {Headers(""), std::string(60, 'b'), std::string(41, 'b')},
       100,
       true,
       ""},
      {"announced length past the limit", {Headers("Content-Length: 101\r\n")}, 100, true, ""},
      {"length that is no number", {Headers("Content-Length: 1e9\r\n") + "ab"}, 100, false, "ab"},
      {"headers of 16 KiB",
       {Headers(std::string(16 * 1024 - 40, 'h') + "\r\n") + "x"},
       100,
       false,
       "x"},
      {"endless headers", std::vector<std::string>(40, endlessHeader), 100, true, ""},
      {"endless headers in one piece", {std::string(1 << 20, 'h')}, 100, true, ""},
  };
  for (const TCase &c : cases) {
    const THttpReply r = FeedAll(c.pieces, c.limit);
    EXPECT_EQ(r.Failed(), c.failed) << c.name;
    EXPECT_EQ(r.Body(), c.body) << c.name;
  }
  // A failed reply takes nothing more.
  THttpReply failed = FeedAll({Headers(""), std::string(101, 'b')}, 100);
  EXPECT_FALSE(failed.Feed("more"));
  EXPECT_TRUE(failed.Body().empty());

  THttpReply r(kUpdateMaxDownloadBytes);
  r.Feed("HTTP/1.1 200 OK\r\ncontent-length: 2048\r\n");
  EXPECT_EQ(r.ContentLength(), -1);
  r.Feed("\r\n" + std::string(1000, 'a'));
  EXPECT_EQ(r.Status(), 200);
  EXPECT_EQ(r.ProgressText(), "1 Kb (49%)");
  r.Feed(std::string(1048, 'a'));
  EXPECT_TRUE(r.Complete());
  EXPECT_EQ(r.ProgressText(), "2 Kb (100%)");
}

TEST(UpdateInfo, OffersVersionsAndAddresses) {
  const TUpdateInfo ok =
      ParseUpdateInfo("Version=2.7\r\ndownloadurl=http://h.example/d?i=5\r\nx\r\n");
  EXPECT_TRUE(ok.Offer);
  EXPECT_EQ(ok.DownloadUrl, "http://h.example/d?i=5&version=2.6");
  EXPECT_EQ(ok.SignatureUrl, "http://h.example/d.sig?i=5");
  EXPECT_TRUE(ok.Signature.empty());
  for (const char *body :
       {"version=2.6\ndownloadurl=http://a/b", "version=2.10\ndownloadurl=http://a/b",
        "version=3.0", "version=3.0\ndownloadurl=http://a/b c",
        "version=3.0\ndownloadurl=http://a/b\rHost: evil\r\n",
        "version=3.0\ndownloadurl=http://a/\tb"})
    EXPECT_FALSE(ParseUpdateInfo(body).Offer) << body;
  EXPECT_TRUE(IsNewerVersion("2.6", "2.6.1"));

  for (const char *v : {"2.7", "10.0.1", "3"}) EXPECT_TRUE(IsVersionText(v)) << v;
  for (const char *v : {"", ".", "2.", ".2", "2..7", "2.7/../../x", "2.7 ", "2,7", "v3",
                        "111111111111111111111111111111111"})
    EXPECT_FALSE(IsVersionText(v)) << v;

  TUrlParts u;
  ASSERT_TRUE(SplitDownloadUrl("http://host:8080/a.exe", u));
  EXPECT_EQ(u.Host, "host");
  EXPECT_EQ(u.Port, 8080);
  EXPECT_EQ(u.Path, "/a.exe");
  ASSERT_TRUE(SplitDownloadUrl("HTTP://host:x", u));
  EXPECT_EQ(u.Port, 80);
  EXPECT_EQ(u.Path, "/");
  for (const char *bad : {"ftp://host/a", "http://", "http://h/a b", "http://h/a\r\nX: y"})
    EXPECT_FALSE(SplitDownloadUrl(bad, u)) << bad;
  EXPECT_EQ(ParseUpdateInfo("version=3\ndownloadurl=http://h/a").SignatureUrl, "http://h/a.sig");

  std::string host;
  uint16_t port = 0;
  SplitServer(" updates.local ", host, port);
  EXPECT_EQ(host, "updates.local");
  EXPECT_EQ(port, 80);
  SplitServer("127.0.0.1:8081", host, port);
  EXPECT_EQ(port, 8081);

  EXPECT_EQ(VersionedFileName("C:/p/Tachora.exe", "2.7"), "C:/p/Tachora_v2.7.exe");
  EXPECT_EQ(VersionedFileName("/opt/t.d/tachora", "2.7"), "/opt/t.d/tachora_v2.7");
  const std::vector<std::string> taken{"/b/tachora_v2.6", "/b/tachora_v2.6_"};
  EXPECT_EQ(BackupFileName("/b/tachora", "2.6",
                           [&](const std::string &p) {
                             return std::find(taken.begin(), taken.end(), p) != taken.end();
                           }),
            "/b/tachora_v2.6__");
}

TEST(UpdateInfo, SignatureDecidesAutomaticUpdate) {
  const test::TTestSigningKey key, other;
  const std::string download(3000, 'n');
  const std::string sig = key.Sign(download);
  EXPECT_TRUE(VerifyUpdateSignature(download, sig, key.PublicKey()));
  std::string changed = download;
  changed[1234] = 'm';
  EXPECT_FALSE(VerifyUpdateSignature(changed, sig, key.PublicKey()));
  EXPECT_FALSE(VerifyUpdateSignature(download, sig, other.PublicKey()));
  EXPECT_FALSE(VerifyUpdateSignature(download, sig.substr(1), key.PublicKey()));
  EXPECT_FALSE(VerifyUpdateSignature(download, sig, ""));
  // The key built into the program is a usable one.
  EXPECT_EQ(UpdatePublicKey().size(), 32u);

  const std::string line = "signature=" + key.SignBase64(download);
  TUpdateInfo info = ParseUpdateInfo("version=2.7\r\ndownloadurl=http://a/b\r\n" + line + "\r\n");
  EXPECT_EQ(info.Signature, sig);
  EXPECT_TRUE(CanUpdateAutomatically(info, true));
  EXPECT_FALSE(CanUpdateAutomatically(info, false));
  info.Version = "2.7/../../../bin/sh";
  EXPECT_FALSE(CanUpdateAutomatically(info, true));
  EXPECT_TRUE(
      ParseUpdateInfo("version=2.7\ndownloadurl=http://a/b\nsignature=AAAA").Signature.empty());

  // A ".sig" file: raw bytes, base64, or the version file's line.
  EXPECT_EQ(ParseSignatureFile(sig), sig);
  EXPECT_EQ(ParseSignatureFile(key.SignBase64(download) + "\n"), sig);
  EXPECT_EQ(ParseSignatureFile(line + "\r\n"), sig);
  EXPECT_TRUE(ParseSignatureFile("<html>not found</html>").empty());
}

TEST(UpdateInfo, SigningScriptMakesTheLineTheProgramChecks) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("tachora-sign-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string keyFile = (dir / "key.pem").string(), download = (dir / "tachora").string();
  std::ofstream(download) << std::string(5000, 'z');
  const std::string script = std::string(TACHORA_SOURCE_DIR) + "/scripts/sign-release.sh";
  auto run = [](const std::string &command) {
    std::string out;
    if (FILE *p = popen(command.c_str(), "r")) {
      char buf[256];
      while (fgets(buf, sizeof buf, p)) out += buf;
      if (pclose(p) != 0) out.clear();
    }
    return out;
  };
  ASSERT_EQ(std::system(("openssl genpkey -algorithm ED25519 -out " + keyFile).c_str()), 0);
  const std::string line = run(script + " " + keyFile + " " + download);
  std::string publicKey;
  ASSERT_TRUE(DecodeBase64(run(script + " --public " + keyFile).substr(0, 44), publicKey));
  const TUpdateInfo info = ParseUpdateInfo("version=2.7\r\ndownloadurl=http://a/b\r\n" + line);
  EXPECT_TRUE(VerifyUpdateSignature(std::string(5000, 'z'), info.Signature, publicKey)) << line;
  fs::remove_all(dir);
}
