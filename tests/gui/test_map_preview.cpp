// A tool window's tracks previewed on the map: loads run on a worker and
// the newest request wins, the trip's track and the view are left alone
// while a preview holds the map, and the map is given back afterwards.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QMainWindow>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <thread>

#include "app/UnitCommands.h"
#include "app/UnitMainMenu.h"
#include "map/UnitMapController.h"
#include "map/UnitMapPreview.h"

using namespace tachora;

namespace {

class MapPreviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    menu = new TMainMenu(&window);
    commands = new TCommands(menu);
    auto label = [&]() { return new QLabel(&window); };
    frame = new QFrame(&window);
    map = new TMapController(&window, TMapPanel{frame, label(), label(), label()}, *commands);
    preview = new TMapPreview(map, &window);
  }
  // A loader that counts its runs and, when `gate` is given, waits for it.
  TPreviewLoader Loader(std::atomic<int> &runs, std::atomic<bool> *gate = nullptr) {
    return [&runs, gate]() {
      while (gate && !gate->load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      ++runs;
      auto out = std::make_shared<TPreviewTracks>();
      out->Tracks.push_back(std::make_unique<TMovingInfo>());
      return out;
    };
  }
  QMainWindow window;
  TMainMenu *menu = nullptr;
  TCommands *commands = nullptr;
  QFrame *frame = nullptr;
  TMapController *map = nullptr;
  TMapPreview *preview = nullptr;
};

}  // namespace

TEST_F(MapPreviewTest, NewestRequestWinsAndTheMapIsGivenBack) {
  std::atomic<int> first{0}, second{0}, third{0};
  std::atomic<bool> gate{false};
  QSignalSpy drawn(preview, &TMapPreview::Drawn);
  QSignalSpy ended(preview, &TMapPreview::Ended);
  preview->Show(Loader(first, &gate));
  EXPECT_TRUE(preview->Holding());
  EXPECT_TRUE(map->PreviewHeld());
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BusyCursor);
  // Two more while the first is loading: the second is never loaded.
  preview->Show(Loader(second));
  preview->Show(Loader(third));
  gate = true;
  ASSERT_TRUE(QTest::qWaitFor([&] { return !preview->Loading(); }, 5000));
  QTest::qWait(50);
  EXPECT_EQ(first.load(), 1);
  EXPECT_EQ(second.load(), 0);
  EXPECT_EQ(third.load(), 1);
  EXPECT_EQ(drawn.size(), 1);  // only the newest answer reaches the map
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  // While held, the tick does not draw the trip.
  TMovingInfo trip;
  map->SetTrip({{&trip, 0, 1}});
  EXPECT_FALSE(map->DrawTrip(true));

  preview->End();
  EXPECT_EQ(ended.size(), 1);
  EXPECT_FALSE(map->PreviewHeld());
  EXPECT_FALSE(map->TrackDrawn());  // the next tick draws the trip again
  preview->End();                   // closing twice ends once
  EXPECT_EQ(ended.size(), 1);
}

TEST_F(MapPreviewTest, AnswerArrivingAfterTheWindowClosedIsDropped) {
  std::atomic<int> runs{0};
  std::atomic<bool> gate{false};
  QSignalSpy drawn(preview, &TMapPreview::Drawn);
  preview->Show(Loader(runs, &gate));
  preview->End();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  gate = true;
  ASSERT_TRUE(QTest::qWaitFor([&] { return runs.load() == 1 && !preview->Loading(); }, 5000));
  QTest::qWait(50);
  EXPECT_TRUE(drawn.isEmpty());
  EXPECT_FALSE(map->PreviewHeld());
}

TEST(MapPreviewLoaders, FilesThatCannotBeReadAreLeftOut) {
  const QString data = QString(TACHORA_TEST_DATA) + "/telemetry/";
  const auto tracks = FilesPreviewLoader(
      {data + "dvr.log", data + "missing.log", data + "notrack.txt", data + "dvr.log"},
      {true, true, false, false})();
  ASSERT_TRUE(tracks);
  ASSERT_FALSE(tracks->Tracks.empty());
  EXPECT_EQ(tracks->Tracks.size(), tracks->Selected.size());
  EXPECT_TRUE(tracks->Selected.front());  // the first file's flag stays with it
  EXPECT_FALSE(tracks->Selected.back());
  EXPECT_GT(tracks->Tracks.front()->GpsPointCount(), 0);
  // No catalogue, no tracks (and no crash).
  EXPECT_TRUE(RowsPreviewLoader(nullptr, {1, 2}, 1)()->Tracks.empty());
}
