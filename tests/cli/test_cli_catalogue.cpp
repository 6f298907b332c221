// tachora-cli list and copy on a small card.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

#include "../core/catalogue/CatalogueTestCard.h"
#include "TestMedia.h"

using tachora::test::RunCommand;
using tachora::test::ShellQuote;
using tachora::test::TTestCard;
using namespace tachora;

namespace {

const TDateTime kDay = EncodeDate(2024, 5, 1);

std::vector<std::vector<std::string>> Tsv(const std::string &text) {
  std::vector<std::vector<std::string>> rows;
  for (const auto &line : SplitString(text, '\n'))
    if (!line.empty()) rows.push_back(SplitString(line, '\t'));
  return rows;
}

// Three consecutive minutes from 10:00 and one lone minute at 14:00.
void FillCard(TTestCard &card) {
  for (int i : {1, 2, 3, 10}) {
    char name[40];
    std::snprintf(name, sizeof name, "DCIM/100MEDIA/FILE%04d", i);
    const TDateTime start = kDay + (i < 10 ? (10 * 3600 + (i - 1) * 60) : 14 * 3600) / 86400.0;
    card.SetTimes(card.FakeMovie(std::string(name) + ".MOV", 2 * 1048576), start + 60 / 86400.0);
    card.Dat(std::string(name) + ".DAT", start, 60);
  }
}

std::string Cli(const std::string &args) {
  return std::string(TACHORA_CLI) + " " + args;
}

// RunCommand appends to its output; every call here starts afresh.
int RunFresh(const std::string &command, std::string *out, std::string *err = nullptr) {
  if (out) out->clear();
  return RunCommand(command, out, err);
}

}  // namespace

TEST(CliCatalogue, ListGroupsSortsAndPrintsTheListColumns) {
  TTestCard card;
  FillCard(card);
  std::string out, err;
  ASSERT_EQ(RunFresh("TZ=UTC " + Cli("list " + ShellQuote(card.Root)), &out, &err), 0) << err;
  auto rows = Tsv(out);
  ASSERT_EQ(rows.size(), 3u) << out;
  EXPECT_EQ(rows[0], (std::vector<std::string>{"Name", "Duration", "Date and Time", "Track",
                                               "Speed", "File Location", "Size", "Picture", "Kind",
                                               "Events", "Channels"}));
  ASSERT_EQ(rows[1].size(), 11u);
  EXPECT_EQ(rows[1][8], "Normal");
  EXPECT_EQ(rows[1][9], "0");  // the card's telemetry has G-sensor samples, and no bump
  EXPECT_EQ(rows[1][0], "FILE0001-3");
  EXPECT_EQ(rows[1][1], "3:00");
  EXPECT_EQ(rows[1][2], "2024-05-01 10:00");
  EXPECT_EQ(rows[1][3], "1.80km");
  EXPECT_EQ(rows[1][5], card.Path("DCIM/100MEDIA/FILE0001.MOV") + ", " +
                            card.Path("DCIM/100MEDIA/FILE0002.MOV") + ", " +
                            card.Path("DCIM/100MEDIA/FILE0003.MOV"));
  EXPECT_EQ(rows[1][6], "6");
  EXPECT_EQ(rows[2][0], "FILE0010");
  EXPECT_EQ(rows[2][3], "0.60km");

  // Imperial units: the same values in miles and mph, cut as in kilometres
  // (1.8 km = 1.118 mi, 36 km/h = 22.37 mph).
  ASSERT_EQ(RunFresh(Cli("list --units imperial " + ShellQuote(card.Root)), &out), 0);
  rows = Tsv(out);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1][3], "1.11mi");
  EXPECT_EQ(rows[1][4], "22.3");
  EXPECT_EQ(RunFresh(Cli("list --units metres " + ShellQuote(card.Root)), &out), 2);

  ASSERT_EQ(RunFresh(Cli("list --no-group --sort 0,desc " + ShellQuote(card.Root)), &out), 0);
  rows = Tsv(out);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[1][0], "FILE0010");
  EXPECT_EQ(rows[4][0], "FILE0001");

  // A .dat path opens its recording.
  ASSERT_EQ(RunFresh(Cli("list " + ShellQuote(card.Path("DCIM/100MEDIA/FILE0002.DAT"))), &out), 0);
  rows = Tsv(out);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1][0], "FILE0002");
}

// A front and a rear camera: one line per drive, or per moment with
// --no-group, each with its cameras; the rear files count in the size.
TEST(CliCatalogue, ListShowsTheCamerasOfEachRow) {
  TTestCard card;
  for (int i : {0, 1}) {
    const TDateTime start = kDay + (10 * 3600 + i * 60) / 86400.0;
    const std::string stamp = i == 0 ? "20240501_100000" : "20240501_100100";
    for (const char *cam : {"F", "R"})
      card.SetTimes(card.FakeMovie("DCIM/" + stamp + "_" + cam + ".MP4", 2 * 1048576),
                    start + 60 / 86400.0);
    card.Dat("DCIM/" + stamp + "_F.DAT", start, 60);
  }
  std::string out, err;
  ASSERT_EQ(RunFresh(Cli("list " + ShellQuote(card.Root)), &out, &err), 0) << err;
  auto rows = Tsv(out);
  ASSERT_EQ(rows.size(), 2u) << out;
  EXPECT_EQ(rows[1][10], "F+R");
  EXPECT_EQ(rows[1][6], "8");  // four files of 2 MB
  EXPECT_EQ(rows[1][5], card.Path("DCIM/20240501_100000_F.MP4") + ", " +
                            card.Path("DCIM/20240501_100100_F.MP4"));

  ASSERT_EQ(RunFresh(Cli("list --no-group " + ShellQuote(card.Root)), &out, &err), 0) << err;
  rows = Tsv(out);
  ASSERT_EQ(rows.size(), 3u) << out;
  for (size_t r : {1, 2}) {
    EXPECT_EQ(rows[r][10], "F+R");
    EXPECT_EQ(rows[r][6], "4");
  }
  ASSERT_EQ(RunFresh(Cli("list --json " + ShellQuote(card.Root)), &out, &err), 0) << err;
  EXPECT_NE(out.find("\"channels\":\"F+R\""), std::string::npos) << out;
  EXPECT_NE(out.find(card.Path("DCIM/20240501_100100_R.MP4")), std::string::npos) << out;
}

// A camera's event clip saved in the minute after a normal one is listed
// with its kind and stays a trip of its own.
TEST(CliCatalogue, EventAndParkingClipsShowTheirKindAndAreNeverGroupedWithOthers) {
  TTestCard card;
  FillCard(card);
  const std::string event = card.FakeMovie("DCIM/EVENT/FILE0004.MOV", 1048576);
  card.SetTimes(event, kDay + (10 * 3600 + 4 * 60) / 86400.0);
  const std::string parking = card.FakeMovie("DCIM/100MEDIA/20240501_100500_PA.MOV", 1048576);
  card.SetTimes(parking, kDay + (10 * 3600 + 5 * 60) / 86400.0);
  std::string out, err;
  ASSERT_EQ(RunFresh("TZ=UTC " + Cli("list --sort 2 " + ShellQuote(card.Root)), &out, &err), 0)
      << err;
  const auto rows = Tsv(out);
  ASSERT_EQ(rows.size(), 5u) << out;
  std::map<std::string, std::string> kinds;
  for (size_t i = 1; i < rows.size(); ++i) kinds[rows[i][0]] = rows[i][8];
  EXPECT_EQ(kinds, (std::map<std::string, std::string>{{"FILE0001-3", "Normal"},
                                                       {"FILE0004", "Event"},
                                                       {"20240501_100500_PA", "Parking"},
                                                       {"FILE0010", "Normal"}}));
  ASSERT_EQ(RunFresh(Cli("list --json " + ShellQuote(event)), &out), 0);
  EXPECT_NE(out.find("\"kind\":\"Event\""), std::string::npos) << out;
}

// The same two files make the same trip in whatever order they are given
// or listed: a 60-minute recording and one starting 10 minutes after its
// end (a quarter of 60 minutes allows 15).
TEST(CliCatalogue, TripsDoNotDependOnTheOrderOfThePaths) {
  TTestCard card;
  const TDateTime longStart = kDay + 9 / 24.0, longEnd = longStart + 1 / 24.0;
  const std::string a = card.FakeMovie("cam/LONG0001.MOV");
  card.SetTimes(a, longEnd);
  card.Dat("cam/LONG0001.DAT", longStart, 3600);
  const std::string b = card.FakeMovie("cam/AFTER0002.mp4");
  card.SetTimes(b, longEnd + 13 / 1440.0);
  card.Dat("cam/AFTER0002.DAT", longEnd + 10 / 1440.0, 180);
  for (const std::string &args : {ShellQuote(a) + " " + ShellQuote(b),
                                  ShellQuote(b) + " " + ShellQuote(a), ShellQuote(card.Root)}) {
    std::string out, err;
    ASSERT_EQ(RunFresh(Cli("list " + args), &out, &err), 0) << err;
    const auto rows = Tsv(out);
    ASSERT_EQ(rows.size(), 2u) << args << "\n" << out;
    EXPECT_EQ(rows[1][5], a + ", " + b);
  }
}

TEST(CliCatalogue, BadArgumentsAndMissingPaths) {
  TTestCard card;
  FillCard(card);
  std::string out, err;
  EXPECT_EQ(RunCommand(Cli("list --sort 99 " + ShellQuote(card.Root)), &out, &err), 2);
  EXPECT_NE(err.find("sort column"), std::string::npos);
  EXPECT_EQ(RunCommand(Cli("list --sort 1,up " + ShellQuote(card.Root)), &out, &err), 2);
  EXPECT_EQ(RunCommand(Cli("list"), &out, &err), 2);
  EXPECT_EQ(RunCommand(Cli("list --bogus x"), &out, &err), 2);
  EXPECT_EQ(RunCommand(Cli("copy " + ShellQuote(card.Root)), &out, &err), 2);
  EXPECT_NE(err.find("--to"), std::string::npos);
  // A missing path is reported; the others are still listed.
  const std::string missing = card.Path("nothing/FILE9.MOV");
  EXPECT_EQ(RunFresh(Cli("list " + ShellQuote(missing) + " " + ShellQuote(card.Root)), &out, &err),
            1);
  EXPECT_NE(err.find(missing), std::string::npos);
  EXPECT_EQ(Tsv(out).size(), 3u);
  // A pipe named like a recording is refused at once, not read (which would
  // wait for a writer for ever).
  const std::string pipe = card.Path("FILE0099.MOV");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  EXPECT_EQ(RunFresh(Cli("list " + ShellQuote(pipe)), &out, &err), 1);
  EXPECT_NE(err.find("not a regular file"), std::string::npos) << err;
}

TEST(CliCatalogue, CopyWithOverwriteAnswers) {
  TTestCard card;
  FillCard(card);
  const std::string out = card.Path("out");
  std::string err;
  ASSERT_EQ(RunCommand(Cli("copy --to " + ShellQuote(out) + " " + ShellQuote(card.Path("DCIM"))),
                       nullptr, &err),
            0)
      << err;
  EXPECT_NE(err.find("100%"), std::string::npos) << err;
  for (const char *f : {"FILE0001.MOV", "FILE0001.DAT", "FILE0003.MOV", "FILE0010.DAT"})
    EXPECT_EQ(TTestCard::Read(out + "/" + f),
              TTestCard::Read(card.Path(std::string("DCIM/100MEDIA/") + f)));

  card.Write("out/FILE0001.DAT", "changed");
  ASSERT_EQ(RunCommand(Cli("copy --to " + ShellQuote(out) + " " + ShellQuote(card.Path("DCIM"))),
                       nullptr, &err),
            0);
  EXPECT_NE(err.find("exists, skipped"), std::string::npos);
  EXPECT_EQ(TTestCard::Read(out + "/FILE0001.DAT"), "changed");
  ASSERT_EQ(RunCommand(Cli("copy --overwrite --to " + ShellQuote(out) + " " +
                           ShellQuote(card.Path("DCIM"))),
                       nullptr, &err),
            0);
  EXPECT_EQ(TTestCard::Read(out + "/FILE0001.DAT"),
            TTestCard::Read(card.Path("DCIM/100MEDIA/FILE0001.DAT")));
}

TEST(CliCatalogue, VerifiedCopyWritesSumsThatSha256sumAccepts) {
  TTestCard card;
  FillCard(card);
  const std::string out = card.Path("verified");
  std::string err;
  ASSERT_EQ(
      RunCommand(Cli("copy --verify --to " + ShellQuote(out) + " " + ShellQuote(card.Path("DCIM"))),
                 nullptr, &err),
      0)
      << err;
  EXPECT_EQ(
      RunCommand("cd " + ShellQuote(out) + " && sha256sum --strict -c SHA256SUMS", nullptr, &err),
      0)
      << err;
  EXPECT_NE(TTestCard::Read(out + "/SHA256SUMS").find("  FILE0001.MOV\n"), std::string::npos);
}
