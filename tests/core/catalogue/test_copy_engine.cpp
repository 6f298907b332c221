// The copy engine: order, contents, times and lock of the copies, the
// overwrite question, copying onto the source itself, stopping halfway,
// missing sources, and the progress texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "CatalogueTestCard.h"
#include "app/UnitFileIO.h"
#include "app/UnitLang.h"
#include "catalogue/UnitCopyEngine.h"
#include "catalogue/UnitFileManager.h"

using namespace tachora;
using tachora::test::TTestCard;

namespace {

const TDateTime kDay = EncodeDate(2024, 5, 1);

TFileItem RowOf(std::vector<std::pair<std::string, std::string>> files) {
  TFileItem row;
  for (auto &[video, telemetry] : files) {
    TFileItemSubitem rec;
    rec.Path = video;
    rec.TelemetryPath = telemetry;
    TFileStat st;
    rec.Size = StatFile(video, st) ? st.Size : -1;
    row.Items.push_back(rec);
  }
  return row;
}

// The names in a folder, hidden ones included, sorted.
std::vector<std::string> Names(const std::string &dir) {
  std::vector<std::string> out;
  for (const auto &e : std::filesystem::directory_iterator(dir))
    out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

void RunToEnd(TFormCopyThread &job) {
  job.WaitFor();
  ASSERT_TRUE(job.Finished());
}

}  // namespace

TEST(CatalogueCopy, TripCopiesInOrderWithTimesAndLock) {
  InitLanguages(1033);
  TTestCard card;
  std::vector<std::string> expected;
  std::vector<TFileStat> before;  // times as set, before anything reads the files
  for (int i = 1; i <= 3; ++i) {
    const std::string n = "FILE000" + std::to_string(i);
    const TDateTime start = kDay + (10 * 3600 + (i - 1) * 60) / 86400.0;
    const std::string mov = card.FakeMovie("DCIM/100MEDIA/" + n + ".MOV", 1000 * i + 3 * 1048576);
    const std::string dat = card.Dat("DCIM/INFO/" + n + ".DAT", start, 60);
    card.SetTimes(mov, start + 60 / 86400.0, start + 2);
    card.SetTimes(dat, start + 61 / 86400.0);
    expected.push_back(mov);
    expected.push_back(dat);
  }
  chmod(expected[2].c_str(), 0444);  // FILE0002 locked
  for (const auto &p : expected) StatFile(p, before.emplace_back());
  TFileManager fm(false, nullptr);
  fm.AddFolder(card.Path("DCIM"));
  fm.AutoGroup();
  ASSERT_EQ(fm.RowCount(), 1);

  std::atomic<int> errors{0};
  TCopyCallbacks cb;
  cb.ShowError = [&](const std::string &) { ++errors; };
  const std::string target = card.Path("copies/2024");
  TFormCopyThread job(fm.GetItem(0), target, cb, false);
  EXPECT_EQ(job.Sources(), expected);  // video 1, telemetry 1, video 2, ...
  int64_t total = 0;
  for (const auto &p : expected) total += static_cast<int64_t>(TTestCard::Read(p).size());
  EXPECT_EQ(job.TotalBytes(), total);
  job.Start();
  RunToEnd(job);
  EXPECT_EQ(errors.load(), 0);
  const TCopyProgress p = job.Progress();
  EXPECT_EQ(p.CurrentIndex, 6);
  EXPECT_EQ(p.CopiedBytes, total);
  EXPECT_EQ(job.CopiedFiles(), 6);
  for (size_t i = 0; i < expected.size(); ++i) {
    const std::string &src = expected[i];
    const std::string dst = target + "/" + ExtractFileName(src);
    TFileStat b;
    StatFile(dst, b);
    const TFileStat &a = before[i];
    EXPECT_EQ(b.Mtime.tv_sec, a.Mtime.tv_sec);
    EXPECT_EQ(b.Mtime.tv_nsec, a.Mtime.tv_nsec);
    EXPECT_EQ(b.Mode, a.Mode) << dst;
    EXPECT_EQ(TTestCard::Read(dst), TTestCard::Read(src)) << dst;
  }
  EXPECT_EQ(Names(target).size(), expected.size());  // no temporary file left
  EXPECT_EQ(TTestCard::Mode(target + "/FILE0002.MOV"), 0444u);

  // The copied folder is catalogued like the card: the INFO telemetry is now
  // the sidecar, and the trip and its lock state come back.
  TFileManager copy(false, nullptr);
  copy.AddFolder(target);
  copy.AutoGroup();
  ASSERT_EQ(copy.RowCount(), 1);
  const TFileItem row = copy.GetItem(0);
  EXPECT_EQ(row.Items[0].TelemetryPath, target + "/FILE0001.DAT");
  EXPECT_EQ(row.Summary.Locked, 2);
  EXPECT_EQ(row.DurationText, fm.GetItem(0).DurationText);
}

class CatalogueCopyWays : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(UnnamedAndPart, CatalogueCopyWays, ::testing::Bool());

TEST_P(CatalogueCopyWays, OverwriteQuestionAndCopyOntoItself) {
  InitLanguages(1033);
  TTestCard card;
  const std::string mov = card.FakeMovie("card/FILE0001.MOV", 5000);
  const std::string dat = card.Dat("card/FILE0001.DAT", kDay, 10);
  const TFileItem row = RowOf({{mov, dat}});
  const std::string out = card.Path("out");
  card.Write("out/FILE0001.MOV", std::string(9000, 'o'));  // larger than the source
  card.Write("out/FILE0001.DAT", "old");

  std::vector<std::string> asked;
  TCopyCallbacks no;
  no.AskOverwrite = [&](const std::string &d) {
    asked.push_back(d);
    return false;
  };
  {
    TFormCopyThread job(row, out, no, false);
    job.SetUseUnnamedFiles(GetParam());
    job.Start();
    RunToEnd(job);
    EXPECT_EQ(job.CopiedFiles(), 0);
    EXPECT_LT(job.Progress().CopiedBytes, job.TotalBytes());  // skipped files stay uncounted
  }
  EXPECT_EQ(asked, (std::vector<std::string>{out + "/FILE0001.MOV", out + "/FILE0001.DAT"}));
  EXPECT_EQ(TTestCard::Read(out + "/FILE0001.DAT"), "old");

  TCopyCallbacks yes;
  yes.AskOverwrite = [](const std::string &) { return true; };
  {
    TFormCopyThread job(row, out, yes, false);
    job.SetUseUnnamedFiles(GetParam());
    job.Start();
    RunToEnd(job);
    EXPECT_EQ(job.CopiedFiles(), 2);
  }
  EXPECT_EQ(Names(out), (std::vector<std::string>{"FILE0001.DAT", "FILE0001.MOV"}));
  // A fresh target gets the files too, with no leftovers.
  {
    TFormCopyThread job(row, card.Path("fresh"), yes, false);
    job.SetUseUnnamedFiles(GetParam());
    job.Start();
    RunToEnd(job);
    EXPECT_EQ(job.CopiedFiles(), 2);
  }
  EXPECT_EQ(TTestCard::Read(card.Path("fresh/FILE0001.DAT")), TTestCard::Read(dat));
  EXPECT_EQ(Names(card.Path("fresh")), (std::vector<std::string>{"FILE0001.DAT", "FILE0001.MOV"}));
  EXPECT_EQ(TTestCard::Read(out + "/FILE0001.MOV"),
            TTestCard::Read(mov));  // cut to the source's size
  EXPECT_EQ(TTestCard::Read(out + "/FILE0001.DAT"), TTestCard::Read(dat));

  // Target folder = source folder: nothing is asked and the source survives.
  asked.clear();
  const std::string before = TTestCard::Read(mov);
  {
    TFormCopyThread job(row, card.Path("card/"), no);
    RunToEnd(job);
    EXPECT_EQ(job.ErrorCount(), 0);
    EXPECT_EQ(job.Progress().CopiedBytes, job.TotalBytes());
  }
  EXPECT_TRUE(asked.empty());
  EXPECT_EQ(TTestCard::Read(mov), before);
}

TEST_P(CatalogueCopyWays, StopHalfwayLeavesNoDestination) {
  TTestCard card;
  const std::string big = card.FakeMovie("card/FILE0001.MOV", 6 * 1048576);
  const std::string existing = card.Write("out/FILE0001.MOV", "previous copy");
  TCopyCallbacks cb;
  cb.AskOverwrite = [](const std::string &) { return true; };
  std::atomic<int> errors{0};
  cb.ShowError = [&](const std::string &) { ++errors; };
  TFormCopyThread job(RowOf({{big, ""}}), card.Path("out"), cb, false);
  job.SetUseUnnamedFiles(GetParam());
  job.SetPaused(true);  // pauses after the first block
  job.Start();
  for (int i = 0; i < 2000 && job.Progress().CopiedBytes == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_GT(job.Progress().CopiedBytes, 0);
  EXPECT_LT(job.Progress().CopiedBytes, 6 * 1048576);
  job.Terminate();
  RunToEnd(job);
  EXPECT_EQ(errors.load(), 0);  // a stop is no error
  EXPECT_EQ(Names(card.Path("out")), std::vector<std::string>{"FILE0001.MOV"});
  EXPECT_EQ(TTestCard::Read(existing), "previous copy");  // the old copy is untouched
}

TEST(CatalogueCopy, MissingSourcesAreReportedAndTheRestIsCopied) {
  TTestCard card;
  const std::string mov = card.FakeMovie("card/FILE0001.MOV", 100);
  const std::string mov2 = card.FakeMovie("card/FILE0002.MOV", 200);
  TFileItem row = RowOf({{mov, card.Path("card/gone.DAT")}, {mov2, ""}});
  std::vector<std::string> messages;
  TCopyCallbacks cb;
  cb.ShowError = [&](const std::string &m) { messages.push_back(m); };
  TFormCopyThread job(row, card.Path("out"), cb, false);
  EXPECT_FALSE(job.WaitFinished(0));  // not started: times out
  job.Start();
  EXPECT_TRUE(job.WaitFinished(60000));  // wakes when the job ends, not after a minute
  RunToEnd(job);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("gone.DAT"), std::string::npos);
  EXPECT_EQ(job.TotalBytes(), 300);  // the vanished file counts 0 bytes
  EXPECT_TRUE(TTestCard::Exists(card.Path("out/FILE0002.MOV")));

  // A target below a file cannot be created: one error, nothing copied.
  messages.clear();
  TFormCopyThread bad(row, mov + "/sub", cb);
  RunToEnd(bad);
  EXPECT_EQ(bad.CopiedFiles(), 0);
  EXPECT_EQ(messages.size(), 1u);
}

TEST(CatalogueCopy, SharedGpsLogIsListedAndCountedOnce) {
  TTestCard card;
  const std::string mov1 = card.FakeMovie("card/FILE0001.MOV", 100);
  const std::string mov2 = card.FakeMovie("card/FILE0002.MOV", 200);
  const std::string mov3 = card.FakeMovie("card/FILE0003.MOV", 300);
  const std::string log = card.Write("card/trip.nmea", std::string(50, 'g'));
  TFormCopyThread job(RowOf({{mov1, log}, {mov2, log}, {mov3, ""}}), card.Path("out"), {}, false);
  EXPECT_EQ(job.Sources(), (std::vector<std::string>{mov1, log, mov2, mov3}));
  EXPECT_EQ(job.TotalBytes(), 650);
}

// From memory (tmpfs) onto the card's disk, as from a card onto the disk:
// the kernel refuses to copy between the two file systems, so the files go
// through the engine's buffer, in several blocks and with a last short one.
TEST(CatalogueCopy, CopiesAcrossFileSystemsThroughItsBuffer) {
  char tmpl[] = "/dev/shm/tachora-copy-XXXXXX";
  if (!mkdtemp(tmpl)) GTEST_SKIP() << "no /dev/shm";
  const std::string shm = tmpl;
  std::string big(3 * TFormCopyThread::kBufferSize + 7, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 / 7);
  const std::string mov = shm + "/FILE0001.MOV", dat = shm + "/FILE0001.DAT";
  std::ofstream(mov, std::ios::binary) << big;
  std::ofstream(dat, std::ios::binary) << "[G]\tsmall\r\n";
  TTestCard card;
  std::atomic<int> errors{0};
  TCopyCallbacks cb;
  cb.ShowError = [&](const std::string &) { ++errors; };
  TFormCopyThread job(RowOf({{mov, dat}}), card.Path("out"), cb);
  RunToEnd(job);
  EXPECT_EQ(errors.load(), 0);
  EXPECT_EQ(job.CopiedFiles(), 2);
  EXPECT_EQ(TTestCard::Read(card.Path("out/FILE0001.MOV")), big);
  EXPECT_EQ(TTestCard::Read(card.Path("out/FILE0001.DAT")), "[G]\tsmall\r\n");
  std::filesystem::remove_all(shm);
}

TEST(CatalogueCopy, SpeedAndProgressTexts) {
  InitLanguages(1033);
  EXPECT_EQ(SmoothSpeed(0, 100), 100);
  EXPECT_EQ(SmoothSpeed(100, 50), 60);    // falls fast
  EXPECT_EQ(SmoothSpeed(100, 200), 150);  // rises slowly
  EXPECT_EQ(CopyPercent(0, 0), 0);
  EXPECT_EQ(CopyPercent(50, 0), 100);
  EXPECT_EQ(CopySizeLine(120LL << 20, 270LL << 20), "44%  -  120 Mb / 270 Mb");
  EXPECT_EQ(CopyFileLine(0, 6, "/c/FILE0001.MOV"), "1 / 6  -  /c/FILE0001.MOV");
  const int64_t speed = 3250586;  // 3.1 MiB/s
  EXPECT_EQ(CopySpeedLine(speed), "3.1 Mbyte/sec");
  EXPECT_EQ(CopySpeedLine(0), "");
  EXPECT_EQ(CopyRemainingLine(0, 65 * speed, speed), "00:01:05");
}

// A copy onto a card (named temporaries, as FAT gets) removes the hidden
// leftovers of an interrupted copy, and each file is flushed to the card
// before it takes its name, so "done" means the card may be pulled.
TEST(CatalogueCopy, OntoACardLeftoversGoAndEachFileIsFlushed) {
  TTestCard card;
  const std::string mov = card.FakeMovie("card/FILE0001.MOV", 4096);
  const std::string dat = card.Write("card/FILE0001.dat", "[G]\r\n");
  const std::string stale = card.Write("out/.FILE0001.MOV.Ab3dE9.part", "half");
  const std::string fresh = card.Write("out/.FILE0002.MOV.Zx81qP.part", "being written");
  std::filesystem::last_write_time(
      stale, std::filesystem::file_time_type::clock::now() - std::chrono::hours(3));
  TreatAllStorageAsRemovable(true);
  const uint64_t syncs = DataSyncCount();
  TFormCopyThread job(RowOf({{mov, dat}}), card.Path("out"), {}, false);
  job.SetUseUnnamedFiles(false);
  job.Start();
  RunToEnd(job);
  TreatAllStorageAsRemovable(false);
  EXPECT_EQ(job.ErrorCount(), 0);
  EXPECT_EQ(DataSyncCount(), syncs + 2);
  EXPECT_EQ(Names(card.Path("out")), (std::vector<std::string>{".FILE0002.MOV.Zx81qP.part",
                                                               "FILE0001.MOV", "FILE0001.dat"}));
}
