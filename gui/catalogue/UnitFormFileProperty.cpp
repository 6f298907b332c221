#include "catalogue/UnitFormFileProperty.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

#include "app/UnitFileSystem.h"
#include "app/UnitGuiUnits.h"
#include "app/UnitLang.h"
#include "app/UnitText.h"
#include "catalogue/UnitChannels.h"

namespace tachora {

namespace {

QString S(const std::string &s) {
  return QString::fromStdString(s);
}

class TBuilder {
 public:
  TPropertyRows Rows;
  QString Indent;

  void Add(const QString &label, const QString &value) { Rows.emplace_back(Indent + label, value); }
  void Add(const char *key, const QString &value) { Add(L(key), value); }

  // Start, end and (when asked or when it tells something) the span.
  void Times(TDateTime start, TDateTime end, bool spanAlways, int64_t duration) {
    if (start > 0) Add("Started", S(FormatDateTime(start)));
    if (end > 0) Add("Finished", S(FormatDateTime(end)));
    if (start > 0 && end > 0) {
      const int64_t span = std::llround((end - start) * kMsPerDay);
      if (spanAlways || duration <= 0 || std::llabs(duration - span) > 10000)
        Add("Duration", S(FormatTime(end - start)));
    }
  }

  static QString SizeText(int64_t size) {
    return size >= 0 ? QString::number(size) + " " + L("byte") + "   (" +
                           S(FormatFixed(size / 1048576.0L, 1)) + " " + L("Mb") + ")"
                     : QString("?");
  }

  // Another camera's file of the recording: what it holds, and what is
  // wrong with it (damaged, gone, a length other than the main file's).
  void Channel(const TFileItemSubitem &main, const TChannelFile &ch) {
    const QString outer = Indent;
    Add(L("Property_Channel") + " " + S(ch.Channel), QString());
    Indent += "    ";
    Add("File", S(ch.Path));
    Add("PictureSize", QString("%1x%2").arg(ch.PictureWidth).arg(ch.PictureHeight));
    Add("Size", SizeText(ch.Size));
    if (!FileExists(ch.Path))
      Add("Property_ChannelNote", L("Property_ChannelMissing"));
    else if (ch.Damaged)
      Add("Property_Damaged", L("Property_Damaged_Text"));
    if (ch.Locked) Add("Locked", L("Locked_true"));
    Add("PlayLength", ch.Duration > 0 ? PlayLengthText(ch.Duration) : QString("?"));
    if (ch.Duration > 0 && main.Duration > 0 && std::llabs(ch.Duration - main.Duration) > 1000)
      Add("Property_ChannelNote", L("Property_ChannelLength"));
    Indent = outer;
  }

  void Recording(const TFileItemSubitem &r) {
    const QString outer = Indent;
    if (!r.Channels.empty()) Add("Channels", S(ChannelsText(r)));
    Add("Video", r.RelStart != 0 || r.RelEnd != 0
                     ? S(FormatFixed(r.RelStart, 6)) + " - " + S(FormatFixed(r.RelEnd, 6))
                     : QString());
    Indent += "    ";
    Add("File", S(r.Path));
    Add("PictureSize", QString("%1x%2").arg(r.PictureWidth).arg(r.PictureHeight));
    Add("Size", SizeText(r.Size));
    if (r.Damaged) Add("Property_Damaged", L("Property_Damaged_Text"));
    if (r.Locked == 1)
      Add("Locked", L("Locked_true"));
    else if (r.Locked != 0)
      Add("Locked", L("Locked_partial"));
    Times(r.Start, r.End, false, r.Duration);
    if (r.Duration > 0)
      Add("PlayLength",
          (r.DurationSource == kDurContainer ? "" : "~") + PlayLengthText(r.Duration));
    else
      Add("PlayLength", "?");
    Indent = outer;
    for (const TChannelFile &ch : r.Channels) Channel(r, ch);

    if (!r.TelemetryPath.empty()) {
      Add("MetaInfo", QString());
      Indent += "    ";
      // Telemetry the camera embedded in the recording has no file of its own.
      Add("File", r.TelemetryPath == r.Path ? L("Property_Embedded") : S(r.TelemetryPath));
      Add("GPS " + L("points"), QString::number(r.GpsCount));
      Add("G-Sensor " + L("points"), QString::number(r.GsensorCount));
      if (r.HasTrack) {
        const TUnits units = DisplayUnits();
        Add("Property_Track_Length",
            units == TUnits::Metric
                ? QString::number(std::llround(r.TrackLength)) + " " + L("Meters")
                : S(CutDecimals(DisplayDistance(r.TrackLength, units), 2)) + " " + DistanceUnit());
        Add("AvgSpeed", S(FormatFixed(DisplaySpeed(r.AvgSpeed, units), 1)) + " " + SpeedUnit());
      }
      Times(r.GpsStart, r.GpsEnd, true, -1);
      Indent = outer;
    }
    if (!r.UnreadableTelemetry.empty()) {
      const QString format = r.UnreadableTelemetry == "-" ? QString() : S(r.UnreadableTelemetry);
      Add("MetaInfo",
          L("Property_TelemetryUnreadable") + (format.isEmpty() ? QString() : " (" + format + ")"));
    }
    if (!r.GpsLog.Path.empty()) {
      Add("GPS Log", QString());
      Indent += "    ";
      Add("File", S(r.GpsLog.Path));
      Times(r.GpsLog.Start, r.GpsLog.End, true, -1);
      Indent = outer;
    }
  }
};

}  // namespace

QString PlayLengthText(int64_t ms) {
  if (ms < 0) ms = 0;
  return QString("%1:%2:%3.%4")
      .arg(ms / 3600000)
      .arg(ms / 60000 % 60, 2, 10, QChar('0'))
      .arg(ms / 1000 % 60, 2, 10, QChar('0'))
      .arg(ms % 1000, 3, 10, QChar('0'));
}

TPropertyRows PropertyRows(const TFileItem &row) {
  TBuilder b;
  b.Add("Name", S(row.Summary.DisplayName));
  b.Add("Duration", S(row.DurationText));
  b.Add("DateTime", S(FormatDateTimeOrEmpty(row.Summary.Start)));
  if (row.Items.size() == 1) {
    b.Recording(row.Items[0]);
  } else if (row.Items.size() > 1) {
    b.Add("Grouped", QString::number(row.Items.size()));
    b.Recording(row.Summary);
    for (size_t k = 0; k < row.Items.size(); ++k) {
      b.Indent.clear();
      b.Rows.emplace_back(QString(), QString());
      b.Indent = QString("[%1] ").arg(k + 1);
      b.Recording(row.Items[k]);
    }
  }
  return b.Rows;
}

QString PropertyClipboardText(const TPropertyRows &rows) {
  QString text;
  for (const auto &r : rows) text += r.first + '\t' + r.second + '\n';
  return text;
}

TFormFileProperty::TFormFileProperty(const TFileItem &row, QWidget *parent)
    : QDialog(parent, Qt::Window), rows_(PropertyRows(row)) {
  setObjectName("FormFileProperty");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(L("Property_Title") + " " + S(row.Summary.DisplayName));
  auto *lay = new QVBoxLayout(this);
  Grid = new QTableWidget(static_cast<int>(rows_.size()), 2, this);
  Grid->setObjectName("Grid");
  Grid->horizontalHeader()->hide();
  Grid->verticalHeader()->hide();
  Grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  Grid->verticalHeader()->setDefaultSectionSize(QFontMetrics(font()).height() + 4);
  int labelWidth = 80;
  const QFontMetrics fm(font());
  for (int i = 0; i < static_cast<int>(rows_.size()); ++i) {
    Grid->setItem(i, 0, new QTableWidgetItem(rows_[i].first));
    auto *value = new QTableWidgetItem(rows_[i].second);
    value->setToolTip(rows_[i].second);
    Grid->setItem(i, 1, value);
    labelWidth = std::max(
        labelWidth, static_cast<int>(std::lround(fm.horizontalAdvance(rows_[i].first) * 1.1)) + 4);
  }
  Grid->setColumnWidth(0, labelWidth);
  Grid->horizontalHeader()->setStretchLastSection(true);
  lay->addWidget(Grid, 1);
  auto *buttons = new QHBoxLayout;
  ButtonCopyAll = new QPushButton(L("Property_CopyAll"), this);
  ButtonCopyAll->setObjectName("ButtonCopyAll");
  connect(ButtonCopyAll, &QPushButton::clicked, this, &TFormFileProperty::CopyAll);
  buttons->addWidget(ButtonCopyAll);
  buttons->addStretch(1);
  lay->addLayout(buttons);
  resize(std::max(720, labelWidth + 560),
         std::min(700, 90 + Grid->verticalHeader()->defaultSectionSize() *
                                static_cast<int>(rows_.size())));
}

void TFormFileProperty::CopyAll() {
  QApplication::clipboard()->setText(PropertyClipboardText(rows_));
}

}  // namespace tachora
