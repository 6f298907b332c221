// The details window: its value texts, the shortened file name, the state
// it shows for a trip position, the preview graph and the rule that keeps
// the window out from under the pointer.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <cmath>

#include "telemetry/UnitFormDetails.h"
#include "telemetry/UnitTelemetryController.h"

using namespace tachora;

namespace {
constexpr double kDay0 = 46000.0;
constexpr double kSec = 1.0 / 86400.0;
}  // namespace

TEST(DetailsTexts, NumbersReadAsTheDriverExpects) {
  EXPECT_EQ(DetailsDistanceText(12345, "", "m"), "12 345 m");
  EXPECT_EQ(DetailsDistanceText(999.4L, "", "m"), "999 m");
  EXPECT_EQ(DetailsDistanceText(1000, "", "m"), "1 000 m");
  EXPECT_EQ(DetailsGsensorText(-0.0456f), "-0.046");
  EXPECT_EQ(DetailsGsensorText(0.5f), " 0.500");
  EXPECT_EQ(DetailsGsensorText(0), " 0.000");
  EXPECT_EQ(DetailsSpeedText(57.39L, "", "km/h"), "57.3 km/h");  // cut, not rounded
  EXPECT_EQ(DetailsSpeedText(60, "", "km/h"), "60 km/h");
  EXPECT_EQ(DetailsSpeedText(-1, "", "km/h"), "");  // unknown
  // Tiny speeds in fixed notation, not an exponent cut to "2.5".
  EXPECT_EQ(DetailsSpeedText(0.0000251L, "", "km/h"), "0.0 km/h");
  EXPECT_EQ(DetailsSpeedText(0.00015L, "", "km/h"), "0.0 km/h");
  EXPECT_EQ(DetailsSpeedText(60.05L, "", "km/h"), "60.0 km/h");
  for (const long double v : {1e12L, HUGE_VALL, std::nanl("")}) {
    EXPECT_EQ(DetailsSpeedText(v, "", "km/h"), "") << static_cast<double>(v);
    EXPECT_EQ(DetailsCourseText(v, ""), "") << static_cast<double>(v);
  }
  EXPECT_EQ(DetailsCourseText(271.6L, ""), QString("272") + QChar(0xB0));
  EXPECT_EQ(DetailsCourseText(-1, ""), "");
  EXPECT_EQ(DetailsLatitudeText(-33.8688L, ""), "S33.868800");
  EXPECT_EQ(DetailsLongitudeText(30.315L, ""), "E30.315000");
  EXPECT_EQ(DetailsLongitudeText(-0.1276L, ""), "W0.127600");

  // A fix that is not a real one marks every GPS value; G-sensor values
  // have no such mark; nothing is shown without a time.
  TMovingState st;
  st.Gps.Time = kDay0;
  st.Gps.Lat = 59.9;
  st.Gps.Lon = 30.3;
  st.Gps.Speed = 12.5;
  st.Gps.Course = 90;
  st.Gps.Distance = 12345;
  st.Gps.Number = 7;
  st.FixValid = false;
  TDetailsTexts t = MakeDetailsTexts(st, "km/h", "m");
  EXPECT_EQ(t.GpsIndex, "[7]");
  for (const QString &s : {t.Longitude, t.Latitude, t.Speed, t.Course, t.Track})
    EXPECT_TRUE(s.startsWith("(?) ")) << s.toStdString();
  EXPECT_EQ(t.Track, "(?) 12 345 m");
  EXPECT_TRUE(t.X.isEmpty());
  st.FixValid = true;
  st.Gsensor.Time = kDay0;
  st.Gsensor.X = -0.0456f;
  st.Gsensor.A = 0.5f;
  t = MakeDetailsTexts(st, "km/h", "m");
  EXPECT_EQ(t.Latitude, "N59.900000");
  EXPECT_EQ(t.X, "-0.046");
  EXPECT_EQ(t.A, " 0.500");
}

TEST(DetailsTexts, LongFileNamesLoseTheirMiddle) {
  const QString name = "2025_06_01_123456_FRONT_CAMERA_RECORDING_0001.MOV";
  const QString s = ShortenMiddle(name, [](const QString &t) { return t.size() <= 24; });
  EXPECT_LE(s.size(), 24);
  EXPECT_TRUE(s.startsWith("2025_06")) << s.toStdString();
  EXPECT_TRUE(s.endsWith("0001.MOV")) << s.toStdString();
  EXPECT_TRUE(s.contains("..."));
  EXPECT_EQ(ShortenMiddle("FILE0001.MOV", [](const QString &) { return true; }), "FILE0001.MOV");
  // Nothing fits: it stops instead of cutting forever.
  EXPECT_FALSE(ShortenMiddle(name, [](const QString &) { return false; }).isEmpty());
}

TEST(DetailsTexts, WindowStaysBesideThePointerInsideTheWorkArea) {
  const QRect work(0, 0, 1000, 700);
  EXPECT_EQ(DetailsWindowPlace({100, 100}, {300, 200}, work), QPoint(116, 120));
  // Near the bottom it is lifted, never below the work area.
  EXPECT_EQ(DetailsWindowPlace({100, 650}, {300, 200}, work), QPoint(116, 500));
  // Near the right edge it goes to the pointer's left.
  EXPECT_EQ(DetailsWindowPlace({900, 100}, {300, 200}, work), QPoint(584, 120));
}

namespace {
// Two recordings of 60 s with a 60 s gap between them; the second has
// telemetry with a 10 s hole in its fixes.
std::shared_ptr<TRowTelemetry> TwoRecordings() {
  auto trip = std::make_shared<TRowTelemetry>();
  trip->Row.Summary.Start = kDay0;
  trip->Row.Summary.End = kDay0 + 180 * kSec;
  for (int i = 0; i < 2; ++i) {
    TFileItemSubitem r;
    r.Path = QString("/card/FILE000%1.MOV").arg(i + 1).toStdString();
    r.Start = kDay0 + i * 120 * kSec;
    r.End = r.Start + 60 * kSec;
    r.RelStart = i * 2 / 3.0L;
    r.RelEnd = r.RelStart + 1 / 3.0L;
    trip->Row.Items.push_back(r);
    auto mi = std::make_unique<TMovingInfo>();
    if (i == 1) {
      for (int s = 0; s <= 60; ++s) {
        if (s > 20 && s < 30) continue;
        TGpsPoint p;
        p.Time = r.Start + s * kSec;
        p.Lat = 59.9;
        p.Lon = 30.3;
        p.Speed = 40;
        p.Distance = 11 * s;
        p.Number = s;
        mi->GpsPoints.push_back(p);
      }
      mi->StartTime = r.Start;
      mi->EndTime = r.End;
    }
    trip->Tracks.push_back(std::move(mi));
  }
  return trip;
}
}  // namespace

TEST(DetailsState, PositionFindsTheRecordingAndItsTelemetry) {
  const auto trip = TwoRecordings();
  EXPECT_EQ(RecordingAt(trip->Row, 0.1L), 0);
  EXPECT_EQ(RecordingAt(trip->Row, 0.5L), 1);  // the gap belongs to the next recording
  EXPECT_EQ(RecordingAt(trip->Row, 1), 1);

  TDetailsState s = DetailsStateAt(*trip, 0.1L);
  EXPECT_EQ(s.FileName, "[1] FILE0001.MOV");
  EXPECT_EQ(s.State.Gps.Time, 0);  // no telemetry there
  EXPECT_EQ(s.VideoTime, "0:18");

  // 10 s into the second recording: a real fix.
  s = DetailsStateAt(*trip, (120 + 10) / 180.0L);
  EXPECT_EQ(s.FileName, "[2] FILE0002.MOV");
  EXPECT_GT(s.State.Gps.Time, 0);
  EXPECT_TRUE(s.State.FixValid);
  EXPECT_NEAR(static_cast<double>(s.State.Gps.Distance), 110, 1);
  // Inside the 10 s hole, 4 s from the nearer fix: interpolated, marked.
  s = DetailsStateAt(*trip, (120 + 24) / 180.0L);
  EXPECT_GT(s.State.Gps.Time, 0);
  EXPECT_FALSE(s.State.FixValid);
  EXPECT_TRUE(MakeDetailsTexts(s.State, "km/h", "m").Latitude.startsWith("(?) "));

  // The graphs see the second track where it was recorded.
  const auto sources = GraphSourcesOf(*trip);
  ASSERT_EQ(sources.size(), 1u);
  EXPECT_NEAR(static_cast<double>(sources[0].Start), 2 / 3.0, 1e-6);
  EXPECT_NEAR(static_cast<double>(sources[0].End), 1, 1e-6);
}

TEST(DetailsWindow, FollowsThePointerAndSwapsThePreview) {
  const auto trip = TwoRecordings();
  TFormDetails form;
  const auto sources = GraphSourcesOf(*trip);
  const TDetailsState state = DetailsStateAt(*trip, 0.75L);  // 15 s into FILE0002
  const QPoint pointer(200, 150);
  form.ShowDetails(TGraphKind::Speed, 0.7L, 0.05L, 0.8L, state, sources, pointer);
  ASSERT_TRUE(form.Shown());
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.pos(), QPoint(216, 170));
  EXPECT_EQ(form.Label("LabelGraphName")->text(), "Speed");
  EXPECT_EQ(form.Label("LabelFile")->text(), "[2] FILE0002.MOV");
  EXPECT_EQ(form.Label("LabelSpeed")->text(), "40 km/h");
  EXPECT_TRUE(form.Label("LabelGSensorX")->text().isEmpty());
  ASSERT_NE(form.Preview(), nullptr);
  EXPECT_EQ(form.Preview()->Height(), TFormDetails::kPreviewHeight);
  const int withPreview = form.height();

  // Onto the altitude graph: the preview is replaced; onto the seek bar: gone.
  form.ShowDetails(TGraphKind::Altitude, 0.7L, 0.05L, 0.8L, state, sources, pointer);
  EXPECT_EQ(form.PreviewKind(), TGraphKind::Altitude);
  EXPECT_EQ(form.Label("LabelGraphName")->text(), "Altitude");
  form.ShowDetails(std::nullopt, 0.7L, 0.05L, 0.8L, state, sources, pointer);
  EXPECT_FALSE(form.PreviewKind().has_value());
  EXPECT_TRUE(form.Label("LabelGraphName")->text().isEmpty());
  EXPECT_LT(form.height(), withPreview - TFormDetails::kPreviewHeight + 1);

  // The pointer reaching the window (a label of it) pushes it on.
  QLabel *label = form.Label("LabelSpeed");
  const QPoint inside = label->mapToGlobal(QPoint(2, 2));
  QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), QPointF(inside), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QCoreApplication::sendEvent(label, &move);
  EXPECT_EQ(form.pos(), DetailsWindowPlace(inside, form.size(),
                                           QGuiApplication::primaryScreen()->availableGeometry()));
  EXPECT_FALSE(form.geometry().contains(inside));

  form.HideDetails();
  EXPECT_FALSE(form.isVisible());
}
