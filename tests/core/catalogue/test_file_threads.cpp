// The search thread: a full run over a card, "Clear File List" during a
// search, and readers, menu operations and destruction racing the thread
// (run in the sanitizer build; a ThreadSanitizer build finds the races).
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "CatalogueTestCard.h"
#include "app/UnitLang.h"
#include "catalogue/UnitFileManager.h"

using namespace tachora;
using tachora::test::TTestCard;

namespace {

const TDateTime kDay = EncodeDate(2024, 5, 1);

// `count` recordings of 60 s each, back to back from 08:00, spread over
// three folders, each with its .dat sidecar.
void FillCard(TTestCard &card, int count) {
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "DCIM/10%dMEDIA/FILE%04d", i % 3, i + 1);
    const TDateTime start = kDay + (8 * 3600 + i * 60) / 86400.0;
    card.SetTimes(card.FakeMovie(std::string(name) + ".MOV"), start + 60 / 86400.0);
    card.Dat(std::string(name) + ".DAT", start, 60);
  }
}

void ReadEverything(const TFileManager &fm) {
  const int n = fm.GetItemCount();
  for (int i = 0; i < n; ++i) {
    const TListItem li = fm.FillListItem(i);
    const TFileItem row = fm.GetItem(i);
    (void)li.Caption.size();
    (void)row.Items.size();
  }
  (void)fm.Status();
}

void ExpectConsistent(const TFileManager &fm) {
  std::set<std::string> paths;
  for (const auto &row : fm.Items()) {
    EXPECT_FALSE(row.Items.empty());
    for (const auto &rec : row.Items)
      EXPECT_TRUE(paths.insert(ToLowerAscii(rec.Path)).second) << rec.Path;
  }
}

}  // namespace

TEST(CatalogueSearch, FullRunListsPreviewsAndGroups) {
  InitLanguages(1033);
  TTestCard card;
  FillCard(card, 12);
  std::atomic<int> notifications{0};
  std::string firstStatusLine;
  std::atomic<TFileManager *> self{nullptr};
  TFileManagerOptions opt;
  opt.Roots = {card.Root};
  opt.InitialDelayMs = 0;
  opt.LowPriorityPreview = false;
  std::set<std::string> statuses;
  TFileManager fm(opt, [&] {
    TFileManager *m = self.load();
    if (!m) return;
    if (notifications++ == 0 && m->RowCount() == 0) {
      const TListItem li = m->FillListItem(0);
      if (li.IsStatus && m->GetItemCount() == 1) firstStatusLine = li.SubItems[0];
    }
    const std::string s = m->Status();
    statuses.insert(s.substr(0, s.find(' ')));
    ReadEverything(*m);
  });
  self = &fm;
  fm.WaitFor();
  EXPECT_GT(notifications.load(), 3);
  // The first notification may come before `self` was set; then no line.
  if (!firstStatusLine.empty()) {
    EXPECT_EQ(firstStatusLine, ". . . Searching - " + card.Root + "/ . . .");
  }
  EXPECT_TRUE(statuses.count("Preview"));
  EXPECT_TRUE(statuses.count("Grouping"));
  EXPECT_EQ(fm.Status(), "");
  ASSERT_EQ(fm.RowCount(), 1);  // twelve minutes of consecutive recordings: one trip
  const TFileItem trip = fm.GetItem(0);
  EXPECT_EQ(trip.Summary.DisplayName, "FILE0001-12");
  EXPECT_EQ(trip.Items.size(), 12u);
  EXPECT_EQ(trip.DurationText, "12:00");
  EXPECT_EQ(trip.TrackText, "7.2km");
}

// Every notification makes the list read every row: a card's preview must
// not notify once per row, or listing grows with the square of the card.
TEST(CatalogueSearch, PreviewNotifiesOncePerPercentNotPerRow) {
  InitLanguages(1033);
  TTestCard card;
  FillCard(card, 250);
  std::atomic<TFileManager *> self{nullptr};
  std::vector<std::string> previews;
  TFileManagerOptions opt;
  opt.Roots = {card.Root};
  opt.InitialDelayMs = 0;
  opt.LowPriorityPreview = false;
  TFileManager fm(opt, [&] {
    if (TFileManager *m = self.load()) {
      const std::string s = m->Status();
      if (s.rfind("Preview ", 0) == 0 && s.back() == '%') previews.push_back(s);
    }
  });
  self = &fm;
  fm.WaitFor();
  ASSERT_FALSE(previews.empty());
  EXPECT_LE(previews.size(), 101u);  // 0% to 100%
  EXPECT_EQ(std::set<std::string>(previews.begin(), previews.end()).size(), previews.size());
  EXPECT_EQ(previews.back(), "Preview 100%");
  ASSERT_EQ(fm.RowCount(), 1);
  EXPECT_EQ(fm.GetItem(0).Items.size(), 250u);
}

TEST(CatalogueSearch, ClearDuringASearchEmptiesTheListWhenItEnds) {
  InitLanguages(1033);
  TTestCard card;
  FillCard(card, 9);
  std::atomic<TFileManager *> self{nullptr};
  std::atomic<bool> cleared{false};
  std::atomic<int> rowsAfterClear{-1};
  TFileManagerOptions opt;
  opt.Roots = {card.Root};
  opt.InitialDelayMs = 0;
  TFileManager fm(opt, [&] {
    TFileManager *m = self.load();
    if (!m || cleared.load() || m->RowCount() == 0) return;
    m->Clear();  // from the notification, as the UI thread would
    cleared = true;
    rowsAfterClear = m->RowCount();
  });
  self = &fm;
  fm.WaitFor();
  ASSERT_TRUE(cleared.load());
  EXPECT_GT(rowsAfterClear.load(), 0);  // not emptied while the search ran
  EXPECT_EQ(fm.RowCount(), 0);
  EXPECT_EQ(fm.GetItemCount(), 0);
  EXPECT_EQ(fm.Status(), "");
  // Idle: a clear empties at once.
  fm.AddFolder(card.Root);
  EXPECT_GT(fm.RowCount(), 0);
  fm.Clear();
  EXPECT_EQ(fm.RowCount(), 0);
}

TEST(CatalogueSearch, ReadersOperationsAndDestructionRaceTheThread) {
  InitLanguages(1033);
  TTestCard card;
  FillCard(card, 45);
  for (int round = 0; round < 6; ++round) {
    std::atomic<TFileManager *> self{nullptr};
    std::atomic<int> calls{0};
    TFileManagerOptions opt;
    opt.Roots = {card.Root, card.Path("DCIM")};
    opt.InitialDelayMs = round;
    opt.LowPriorityPreview = false;
    auto fm = std::make_unique<TFileManager>(opt, [&] {
      ++calls;
      if (TFileManager *m = self.load()) ReadEverything(*m);
    });
    self = fm.get();
    std::atomic<bool> stop{false};
    // A second reader, and the menu operations of the UI thread.
    std::thread reader([&] {
      while (!stop) ReadEverything(*fm);
    });
    std::thread ui([&, round] {
      for (int k = 0; !stop && k < 200; ++k) {
        switch ((k + round) % 7) {
          case 0:
            fm->SortBy(k % kColCount);
            break;
          case 1:
            fm->AutoGroup();
            break;
          case 2:
            fm->MergeItems({0, 1}, true);
            break;
          case 3:
            fm->SplitItem(0);
            break;
          case 4:
            fm->UngroupAll();
            break;
          case 5:
            fm->MatchLogFiles();
            break;
          case 6:
            if (k % 21 == 6) fm->RemoveItem(fm->GetItem(fm->RowCount() - 1));
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
    // Destroy at a different moment each round; the last rounds run to the end.
    if (round < 4) {
      const int target = 5 + round * 15;
      for (int spin = 0; calls.load() < target && spin < 4000; ++spin)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } else {
      fm->WaitFor();
    }
    stop = true;
    ui.join();
    reader.join();
    if (round >= 4) ExpectConsistent(*fm);
    self = nullptr;
    fm.reset();  // joins the thread; must not deadlock or touch freed memory
  }
}

TEST(CatalogueSearch, TerminateStopsTheScanAndNotifiesNoMore) {
  InitLanguages(1033);
  TTestCard card;
  FillCard(card, 30);
  std::atomic<int> afterStop{0};
  std::atomic<bool> stopped{false};
  std::atomic<TFileManager *> self{nullptr};
  TFileManagerOptions opt;
  opt.Roots = {card.Root};
  opt.InitialDelayMs = 0;
  TFileManager fm(opt, [&] {
    if (stopped) ++afterStop;
    if (TFileManager *m = self.load(); m && !stopped) {
      m->Terminate();
      stopped = true;
    }
  });
  self = &fm;
  fm.WaitFor();
  EXPECT_EQ(afterStop.load(), 0);
  EXPECT_EQ(fm.Status(), "");
}

TEST(CatalogueSearch, ClearDuringAddFolderIsHonouredAtItsEnd) {
  InitLanguages(1033);
  TTestCard card;
  FillCard(card, 6);
  TFileManager *self = nullptr;
  bool asked = false;
  TFileManager fm(false, [&] {
    if (self && !asked && self->Searching()) {
      asked = true;
      self->Clear();  // a scan is running: deferred to its end
      EXPECT_GT(self->RowCount(), 0);
    }
  });
  self = &fm;
  fm.AddFolder(card.Root);
  EXPECT_TRUE(asked);
  EXPECT_EQ(fm.RowCount(), 0);
  EXPECT_EQ(fm.Status(), "");
  // The request is spent: the next scan lists everything again.
  self = nullptr;
  EXPECT_TRUE(fm.AddFolder(card.Root + "/DCIM/../"));
  EXPECT_EQ(fm.RowCount(), 6);
  EXPECT_FALSE(fm.AddFolder(card.Root + "/./DCIM"));  // same files, other spelling
}

TEST(CatalogueSearch, RowsSortedWhileAFolderIsOpenedAreAllWorkedOut) {
  // The user sorts the list while an opened folder is being previewed: every
  // recording must still get its telemetry, whichever row number it has.
  InitLanguages(1033);
  TTestCard card;
  FillCard(card, 40);
  TFileManager fm(false, nullptr);
  std::atomic<bool> stop{false};
  std::thread ui([&] {
    for (int k = 0; !stop; ++k) {
      fm.SortBy(k % 2 ? 0 : 5);
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  });
  fm.AddFolder(card.Root);
  stop = true;
  ui.join();
  ASSERT_EQ(fm.RowCount(), 40);
  for (const auto &row : fm.Items())
    for (const auto &rec : row.Items) EXPECT_FALSE(rec.TelemetryPath.empty()) << rec.Path;
}
