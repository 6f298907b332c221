// The main window's wiring of the panels around the player: the graphs and
// the map follow the open trip and let it go when the player stops, and a
// tool window's preview holds the map until it is done.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "app/UnitFormMain.h"
#include "app/UnitReg.h"
#include "app/UnitUtils.h"
#include "map/UnitMapController.h"
#include "map/UnitMapPreview.h"
#include "playback/UnitPlaybackController.h"
#include "telemetry/UnitFormGpsConverter.h"
#include "telemetry/UnitTelemetryController.h"
#include "telemetry/UnitTrackCommands.h"

using namespace tachora;

namespace {

// Two recordings of a minute on missing files, each with a fix a second.
std::shared_ptr<const TRowTelemetry> Trip() {
  auto trip = std::make_shared<TRowTelemetry>();
  TFileItem &row = trip->Row;
  row.Summary.DisplayName = "FILE0001-2";
  row.Summary.Start = EncodeDate(2024, 5, 1) + EncodeTime(10, 0, 0, 0);
  row.Summary.End = row.Summary.Start + 2.0 / 1440;
  for (int i = 0; i < 2; ++i) {
    TFileItemSubitem it;
    it.Path = "/nonexistent/FILE" + std::to_string(i) + ".MOV";
    it.RelStart = it.RelGpsStart = i / 2.0L;
    it.RelEnd = it.RelGpsEnd = (i + 1) / 2.0L;
    it.Duration = 60000;
    it.DurationSource = kDurContainer;
    row.Items.push_back(it);
    auto mi = std::make_unique<TMovingInfo>();
    const double t0 = row.Summary.Start + i / 1440.0;
    for (int s = 0; s < 60; ++s) {
      TGpsPoint p;
      p.Time = t0 + s / 86400.0;
      p.Lon = 30 + (i * 60 + s) * 1e-4;
      p.Lat = 60;
      p.Speed = 50;
      p.Number = s;
      mi->GpsPoints.push_back(p);
    }
    mi->StartTime = t0;
    mi->EndTime = t0 + 59 / 86400.0;
    trip->Tracks.push_back(std::move(mi));
  }
  return trip;
}

class PlaybackPanels : public ::testing::Test {
 protected:
  void SetUp() override {
    SetSettingsFile(dir.filePath("Tachora.conf"));
    TFormMain::AutoFirstShow = false;
    form = std::make_unique<TFormMain>();
    form->Playback()->Warn = [](const QString &) {};
  }
  void TearDown() override { form.reset(); }
  QTemporaryDir dir;
  std::unique_ptr<TFormMain> form;
};

}  // namespace

TEST_F(PlaybackPanels, GraphsAndMapLetGoOfTheTripWhenThePlayerStops) {
  form->Playback()->OpenRow(Trip());
  EXPECT_TRUE(form->Telemetry()->HasTrip());
  EXPECT_TRUE(form->Map()->HasTrip());
  form->Playback()->Stop();
  EXPECT_FALSE(form->Telemetry()->HasTrip());
  EXPECT_FALSE(form->Map()->HasTrip());
}

TEST_F(PlaybackPanels, ConverterPreviewHoldsTheMapUntilItEnds) {
  form->Playback()->OpenRow(Trip());
  TFormGPSLog *converter = form->TrackCommands()->Converter();
  const QString log = QString(TACHORA_TEST_DATA) + "/telemetry/dvr.log";
  emit converter->PreviewRequested({log}, {false});
  EXPECT_TRUE(form->Map()->PreviewHeld());
  // While held the trip is not drawn over the preview.
  EXPECT_FALSE(form->Map()->DrawTrip(true));
  // Nothing left to show gives the map back at once.
  emit converter->PreviewRequested({}, {});
  EXPECT_FALSE(form->Map()->PreviewHeld());
  EXPECT_FALSE(form->MapPreview()->Holding());

  emit converter->PreviewRequested({log}, {false});
  EXPECT_TRUE(form->Map()->PreviewHeld());
  emit converter->PreviewEnded();
  EXPECT_FALSE(form->Map()->PreviewHeld());
  EXPECT_TRUE(form->Map()->HasTrip());  // the trip stays; the tick draws it again
}

TEST_F(PlaybackPanels, PinsTakeTheTelemetryPointAtTheViewsEnds) {
  TPlaybackController *player = form->Playback();
  EXPECT_FALSE(TripPointAt(*player, 0.5));  // nothing open
  player->OpenRow(Trip());
  // A quarter of the trip: half-way through the first recording's minute.
  const auto a = TripPointAt(*player, 0.25L);
  ASSERT_TRUE(a);
  EXPECT_NEAR(static_cast<double>(a->Lon), 30 + 29.5e-4, 1e-5);
  EXPECT_NEAR(static_cast<double>(a->Lat), 60, 1e-9);
  // The second recording's points follow on.
  const auto b = TripPointAt(*player, 0.75L);
  ASSERT_TRUE(b);
  EXPECT_NEAR(static_cast<double>(b->Lon), 30 + 89.5e-4, 1e-5);
  player->Stop();
  EXPECT_FALSE(TripPointAt(*player, 0.25L));
}
