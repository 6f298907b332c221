// The recording list's drawing rules, the model's row updates, the path
// mapping of opened files and the demo card's telemetry.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>

#include "app/UnitDemo.h"
#include "app/UnitStartup.h"
#include "catalogue/UnitListCommands.h"
#include "catalogue/UnitRecordList.h"
#include "telemetry/UnitMovingInfo.h"

using namespace tachora;

TEST(RecordList, TextShrinksThenIsCut) {
  QFont font("Arial");
  font.setPixelSize(14);
  const QString text = "today 14:05";
  const int full = QFontMetrics(font).horizontalAdvance(text);

  QFont f1 = font;
  EXPECT_EQ(FitListText(text, full, f1, true), text);
  EXPECT_EQ(f1.pixelSize(), 14);

  // A little too narrow: a smaller font, text whole.
  QFont f2 = font;
  EXPECT_EQ(FitListText(text, full - 6, f2, true), text);
  EXPECT_LT(f2.pixelSize(), 14);
  EXPECT_GE(f2.pixelSize(), 10);
  EXPECT_EQ((14 - f2.pixelSize()) % 2, 0);

  // Far too narrow: 10 pixels and cut with "..".
  QFont f3 = font;
  const QString cut = FitListText(text, full / 3, f3, true);
  EXPECT_EQ(f3.pixelSize(), 10);
  EXPECT_TRUE(cut.endsWith("..")) << cut.toStdString();
  EXPECT_TRUE(text.startsWith(cut.left(cut.size() - 2)));
  EXPECT_LE(QFontMetrics(f3).horizontalAdvance(cut), full / 3);

  // The location column is cut but never shrunk.
  QFont f4 = font;
  const QString path = FitListText("/media/card/DCIM/100MEDIA/FILE0001.MOV", 80, f4, false);
  EXPECT_EQ(f4.pixelSize(), 14);
  EXPECT_TRUE(path.startsWith("/media")) << path.toStdString();
  EXPECT_TRUE(path.endsWith(".."));
  // Nothing fits: the cutting stops at a few characters instead of looping.
  QFont f5 = font;
  EXPECT_LE(FitListText("ABCDEFGH", 0, f5, false).size(), 3);
  EXPECT_EQ(FitListText("", 0, f5, true), "");
}

TEST(RecordList, ModelGrowsShrinksAndKeepsRowsOnRefresh) {
  TRecordListModel model;
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
  QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
  QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
  auto rows = [](int n, const QString &prefix) {
    std::vector<TListRow> out(n);
    for (int i = 0; i < n; ++i) out[i].Texts[0] = prefix + QString::number(i);
    return out;
  };
  model.SetRows(rows(3, "A"));
  EXPECT_EQ(model.rowCount(), 3);
  model.SetRows(rows(3, "B"));  // same count: the view keeps its rows, texts change
  EXPECT_EQ(model.Caption(2), "B2");
  model.SetRows(rows(1, "C"));
  EXPECT_EQ(model.rowCount(), 1);
  EXPECT_EQ(inserted.count(), 1);
  EXPECT_EQ(removed.count(), 1);
  EXPECT_EQ(reset.count(), 0);  // a reset would lose the user's scroll position
  EXPECT_EQ(model.Caption(5), QString());
  EXPECT_EQ(
      model.data(model.index(0, 1), Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight,
      Qt::AlignRight);
  EXPECT_EQ(
      model.data(model.index(0, 5), Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignLeft,
      Qt::AlignLeft);
}

TEST(RecordList, DelegateDrawsPicturesFramesAndTheStatusLine) {
  TRecordListModel model;
  std::vector<TListRow> rows(2);
  rows[0].Status = true;
  rows[0].Texts[0] = "FILE0001";
  rows[0].Texts[1] = ". . . Searching - /media/card/ . . .";
  rows[1].Texts = {"FILE0002",           "1:00", "today 08:15", "0.45km", "28.6",
                   "/card/FILE0002.MOV", "3",    "320x240"};
  rows[1].Images[0] = kImgLocked;
  rows[1].Images[3] = kImgTrack;
  model.SetRows(rows);
  QTableView view;
  view.setModel(&model);
  view.setItemDelegate(new TRecordListDelegate(&view));
  view.setShowGrid(false);
  view.verticalHeader()->hide();
  view.horizontalHeader()->hide();
  for (int c = 0; c < kListColumns; ++c) view.setColumnWidth(c, kListColumnWidths[c]);
  view.verticalHeader()->setDefaultSectionSize(18);
  view.setSpan(0, 1, 1, kListColumns - 1);
  view.resize(700, 80);
  view.show();
  QImage img(view.viewport()->size(), QImage::Format_RGB32);
  view.viewport()->render(&img);

  // Cells are white inside a light frame.
  const QRect c = view.visualRect(model.index(1, 6));
  EXPECT_EQ(img.pixelColor(c.left(), c.center().y()), QColor(240, 240, 240));
  EXPECT_EQ(img.pixelColor(c.left() + 2, c.top() + 2), QColor(Qt::white));
  // The lock picture sits one pixel inside the name cell.
  const QRect name = view.visualRect(model.index(1, 0));
  bool lockDrawn = false;
  for (int x = name.left() + 1; x < name.left() + 17; ++x)
    for (int y = name.top() + 1; y < name.top() + 17; ++y)
      lockDrawn |= img.pixelColor(x, y) != QColor(Qt::white);
  EXPECT_TRUE(lockDrawn);
  // The status text runs on past the second column's right edge.
  const QRect statusCell = view.visualRect(model.index(0, 1));
  EXPECT_GT(statusCell.width(), kListColumnWidths[1] + kListColumnWidths[2]);
  const int beyond = view.columnViewportPosition(3) + 10;
  bool inked = false;
  for (int y = statusCell.top() + 2; y < statusCell.bottom() - 1; ++y)
    inked |= img.pixelColor(beyond, y).value() < 128;
  EXPECT_TRUE(inked);
  // Every picture exists and has something drawn; index 1 is the unused one.
  for (int i :
       {kImgLocked, kImgPartLocked, kImgNoHeader, kImgTrack, kImgDamaged, kImgEvent, kImgParking}) {
    const QImage pic = ListImage(i).toImage();
    ASSERT_EQ(pic.size(), QSize(16, 16));
    bool any = false;
    for (int x = 0; x < 16; ++x)
      for (int y = 0; y < 16; ++y) any |= qAlpha(pic.pixel(x, y)) > 0;
    EXPECT_TRUE(any) << i;
  }
  EXPECT_TRUE(ListImage(kListImageCount).isNull());
}

TEST(OpenedPaths, RecorderDatOpensItsVideo) {
  QTemporaryDir dir;
  auto touch = [&dir](const QString &name) {
    QFile f(dir.filePath(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  };
  touch("FILE0001.MOV");
  touch("file0002.mov");
  EXPECT_EQ(VideoPathFor(dir.filePath("FILE0001.DAT")), dir.filePath("FILE0001.MOV"));
  EXPECT_EQ(VideoPathFor(dir.filePath("FILE0001.dat")),
            dir.filePath("FILE0001.MOV"));  // FAT names, any case
  EXPECT_EQ(VideoPathFor(dir.filePath("FILE0002.DAT")), dir.filePath("file0002.mov"));
  EXPECT_EQ(VideoPathFor(dir.filePath("FILE0003.DAT")),
            dir.filePath("FILE0003.MOV"));  // missing: ignored later
  EXPECT_EQ(VideoPathFor(dir.filePath("clip.mp4")), dir.filePath("clip.mp4"));
  EXPECT_EQ(VideoPathFor(dir.path()), dir.path());
}

TEST(DemoCard, TelemetryIsAPlausibleDrive) {
  const TDateTime morning = EncodeDate(2024, 5, 1) + EncodeTime(8, 15, 0, 0);
  const auto clips = DemoClips(morning);
  ASSERT_EQ(clips.size(), 6u);
  double lastEnd = 0;
  long double top = 0;
  bool stopped = false, bump = false, turned = false;
  for (size_t k = 0; k < clips.size(); ++k) {
    const std::string text = DemoTelemetry(clips[k]);
    EXPECT_NE(text.find("\r\n"), std::string::npos);
    auto mi = TMovingInfo::LoadFromText(text, clips[k].TelemetryPath.toStdString(), 0, 0, false);
    ASSERT_TRUE(mi) << k;
    EXPECT_EQ(mi->GpsPoints.size(), 15u) << k;
    EXPECT_EQ(mi->GsensorPoints.size(), 75u) << k;
    EXPECT_EQ(mi->ReaderName, "DOD GS600, Carcam Q3");
    // Consecutive clips of a drive follow each other second by second.
    if (k > 0 && clips[k].Trip == clips[k - 1].Trip) {
      EXPECT_NEAR((mi->GpsPoints.front().Time - lastEnd) * 86400, 1.0, 0.01) << k;
    }
    lastEnd = mi->GpsPoints.back().Time;
    for (const auto &p : mi->GpsPoints) {
      top = std::max(top, p.Speed);
      stopped |= p.Speed == 0 && &p != &mi->GpsPoints.front() && k > 0;
      EXPECT_NEAR(static_cast<double>(p.Lat), 59.94, 0.05);
    }
    for (const auto &s : mi->GsensorPoints) {
      bump |= std::fabs(static_cast<double>(s.Z)) > 0.3;
      turned |= std::fabs(static_cast<double>(s.X)) > 0.1;
    }
  }
  EXPECT_GT(top, 40);
  EXPECT_LT(top, 70);
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(bump);
  EXPECT_TRUE(turned);
  // The second drive starts hours later: a separate trip.
  EXPECT_GT(clips[4].Start - clips[3].Start, 2.0 / 24);
}

TEST(AttachTrack, DialogFiltersInQtForm) {
  const QStringList f = AttachTrackDialogFilters();
  ASSERT_GE(f.size(), 3);
  EXPECT_TRUE(f[0].startsWith("All files (")) << f[0].toStdString();
  EXPECT_TRUE(f[1].startsWith("All supported formats")) << f[1].toStdString();
  for (const char *ext : {"*.dat", "*.gpx", "*.plt", "*.log"})
    EXPECT_TRUE(f[1].contains(ext)) << ext;
  EXPECT_TRUE(f[1].endsWith(")"));
  EXPECT_FALSE(f[1].contains(';'));  // Qt separates patterns by blanks
}
