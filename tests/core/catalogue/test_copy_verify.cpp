// Verified copies: digests read back from the disk, a copy that the disk
// altered is caught and removed, and SHA256SUMS is accepted by sha256sum -c
// (also merged over an earlier job's lines and with awkward file names).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "CatalogueTestCard.h"
#include "app/UnitLang.h"
#include "app/UnitSha256.h"
#include "catalogue/UnitCopyEngine.h"

using namespace tachora;
using tachora::test::TTestCard;

namespace {

TFileItem RowOf(const std::vector<std::string> &videos, const std::string &telemetry = "") {
  TFileItem row;
  for (const auto &v : videos) {
    TFileItemSubitem rec;
    rec.Path = v;
    rec.TelemetryPath = telemetry;
    rec.Size = static_cast<int64_t>(TTestCard::Read(v).size());
    row.Items.push_back(rec);
  }
  return row;
}

int Sha256sumCheck(const std::string &folder) {
  return std::system(("cd '" + folder + "' && sha256sum --quiet --strict -c SHA256SUMS").c_str());
}

std::string Pattern(size_t size, int seed) {
  std::string s(size, '\0');
  uint32_t x = 2463534242u + static_cast<uint32_t>(seed);
  for (auto &c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return s;
}

struct TJobResult {
  std::vector<std::string> errors;
  int verified = 0;
};

TJobResult RunJob(const TFileItem &row, const std::string &target, bool unnamed,
                  std::function<void(int)> beforeReadBack = {}, bool verify = true) {
  TJobResult r;
  TCopyCallbacks cb;
  cb.AskOverwrite = [](const std::string &) { return true; };
  cb.ShowError = [&](const std::string &m) { r.errors.push_back(m); };
  cb.BeforeReadBack = std::move(beforeReadBack);
  TFormCopyThread job(row, target, cb, false);
  job.SetUseUnnamedFiles(unnamed);
  job.SetVerify(verify);
  job.Start();
  job.WaitFor();
  EXPECT_TRUE(job.Finished());
  r.verified = job.VerifiedFiles();
  return r;
}

}  // namespace

TEST(Sha256, KnownDigestsAndSumsText) {
  EXPECT_EQ(DigestHex(Sha256Of("")),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(DigestHex(Sha256Of("abc")),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // Split updates give the digest of the whole.
  TSha256 h;
  const std::string data = Pattern(3 << 20, 1);
  h.Update(data.substr(0, 12345));
  h.Update(data.substr(12345));
  EXPECT_EQ(h.Final(), Sha256Of(data));

  const std::map<std::string, std::string> sums = {{"FILE0001.MOV", std::string(64, 'a')},
                                                   {"odd\\name\nx.MOV", std::string(64, 'b')}};
  const std::string text = FormatSha256Sums(sums);
  EXPECT_EQ(text.substr(0, 81), std::string(64, 'a') + "  FILE0001.MOV\n" + "\\b");
  EXPECT_EQ(ParseSha256Sums(text), sums);
  // Lines of other tools: binary markers, CR LF, upper case, rubbish.
  const auto other = ParseSha256Sums(std::string(64, 'C') + " *A.MOV\r\nnot a line\n");
  ASSERT_EQ(other.size(), 1u);
  EXPECT_EQ(other.at("A.MOV"), std::string(64, 'c'));
}

class CatalogueCopyVerify : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(UnnamedAndPart, CatalogueCopyVerify, ::testing::Bool());

TEST_P(CatalogueCopyVerify, SumsAreAcceptedBySha256sumAndMergedOverEarlierJobs) {
  InitLanguages(1033);
  TTestCard card;
  const std::string a = card.Write("card/FILE0001.MOV", Pattern(3 << 20, 2));
  const std::string b = card.Write("card/odd\\name.MOV", Pattern(1000, 3));
  const std::string dat = card.Write("card/INFO/FILE0001.DAT", "[G]\r\n");
  const std::string out = card.Path("out");

  TJobResult first = RunJob(RowOf({a, b}, dat), out, GetParam());
  EXPECT_TRUE(first.errors.empty()) << first.errors.front();
  EXPECT_EQ(first.verified, 3);
  EXPECT_EQ(Sha256sumCheck(out), 0);
  EXPECT_EQ(TTestCard::Read(out + "/FILE0001.MOV"), TTestCard::Read(a));

  // A second trip into the same folder keeps the first one's lines.
  const std::string c = card.Write("card/FILE0002.MOV", Pattern(5000, 4));
  TJobResult second = RunJob(RowOf({c}), out, GetParam());
  EXPECT_TRUE(second.errors.empty());
  const auto sums = ParseSha256Sums(TTestCard::Read(out + "/SHA256SUMS"));
  EXPECT_EQ(sums.size(), 4u);
  EXPECT_EQ(sums.at("FILE0002.MOV"), DigestHex(Sha256Of(TTestCard::Read(c))));
  EXPECT_EQ(Sha256sumCheck(out), 0);

  // A file replaced without verification loses its line instead of
  // keeping one that no longer matches.
  card.Write("card/FILE0002.MOV", Pattern(7000, 7));
  TJobResult third = RunJob(RowOf({c}), out, GetParam(), {}, false);
  EXPECT_TRUE(third.errors.empty());
  EXPECT_EQ(ParseSha256Sums(TTestCard::Read(out + "/SHA256SUMS")).count("FILE0002.MOV"), 0u);
  EXPECT_EQ(Sha256sumCheck(out), 0);
}

TEST_P(CatalogueCopyVerify, CopyAlteredBeforeReadBackIsReportedAndRemoved) {
  InitLanguages(1033);
  TTestCard card;
  const std::string bad = card.Write("card/FILE0001.MOV", Pattern(2 << 20, 5));
  const std::string good = card.Write("card/FILE0002.MOV", Pattern(4000, 6));
  const std::string out = card.Path("out");
  card.Write("out/FILE0001.MOV", "previous copy");

  int calls = 0;
  TJobResult r = RunJob(RowOf({bad, good}), out, GetParam(), [&](int fd) {
    // The disk gives back one byte that differs, in the first file only.
    if (calls++ == 0) {
      ASSERT_EQ(pwrite(fd, "!", 1, 1 << 20), 1);
    }
  });
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_NE(r.errors[0].find("differs from the original"), std::string::npos);
  EXPECT_NE(r.errors[0].find(out + "/FILE0001.MOV"), std::string::npos);
  EXPECT_EQ(r.verified, 1);
  // The bad copy is gone and the earlier file under that name is untouched;
  // the next file was copied and is the only one in the sums.
  EXPECT_EQ(TTestCard::Read(out + "/FILE0001.MOV"), "previous copy");
  EXPECT_EQ(TTestCard::Read(out + "/FILE0002.MOV"), TTestCard::Read(good));
  const auto sums = ParseSha256Sums(TTestCard::Read(out + "/SHA256SUMS"));
  EXPECT_EQ(sums.size(), 1u);
  EXPECT_EQ(sums.count("FILE0002.MOV"), 1u);
  EXPECT_EQ(Sha256sumCheck(out), 0);
  // No temporary file is left behind.
  EXPECT_EQ(std::system(("test -z \"$(ls -A '" + out + "' | grep part)\"").c_str()), 0);
}
