#include "telemetry/UnitTelemetryController.h"

#include <QAction>
#include <QCursor>
#include <QEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMenu>
#include <QWheelEvent>
#include <QWidget>
#include <cmath>
#include <cstdlib>

#include "app/UnitCommands.h"
#include "app/UnitMainMenu.h"

namespace tachora {

namespace {
// The seek bar's margin: half the width of "99:99:99" in its font, plus 4.
int SeekMargin() {
  return QFontMetrics(TMyBitmap::PictureFont(8)).horizontalAdvance(QStringLiteral("99:99:99")) / 2 +
         4;
}
}  // namespace

std::vector<TGraphSource> GraphSourcesOf(const TRowTelemetry &trip) {
  std::vector<TGraphSource> out;
  const double start = trip.Row.Summary.Start, span = trip.Row.Summary.End - start;
  if (!(span > 0)) return out;
  for (const auto &mi : trip.Tracks) {
    if (!mi || !(mi->EndTime > mi->StartTime)) continue;
    out.push_back({mi.get(), (mi->StartTime - start) / span, (mi->EndTime - start) / span});
  }
  return out;
}

int RecordingAt(const TFileItem &row, long double x) {
  const int n = static_cast<int>(row.Items.size());
  for (int i = 0; i < n; ++i) {
    const auto &r = row.Items[static_cast<size_t>(i)];
    const bool beforeEnd = x < r.RelEnd || i == n - 1;
    const bool afterStart =
        x >= r.RelStart || i == 0 || x >= row.Items[static_cast<size_t>(i - 1)].RelEnd;
    if (beforeEnd && afterStart) return i;
  }
  return 0;
}

TDetailsState DetailsStateAt(const TRowTelemetry &trip, long double x) {
  TDetailsState s;
  const TFileItem &row = trip.Row;
  if (row.Items.empty()) return s;
  const double span = row.Summary.End - row.Summary.Start;
  s.DateTime = TripDateTime(row, x);
  s.VideoTime = QString::fromStdString(
      DurationText(span > 0 ? std::llround(static_cast<double>(x) * span * kMsPerDay) : 0));
  const int i = RecordingAt(row, x);
  s.FileName = QFileInfo(QString::fromStdString(row.Items[static_cast<size_t>(i)].Path)).fileName();
  if (row.Items.size() > 1) s.FileName = QStringLiteral("[%1] ").arg(i + 1) + s.FileName;
  if (static_cast<size_t>(i) < trip.Tracks.size() && trip.Tracks[static_cast<size_t>(i)]) {
    const TMovingInfo &mi = *trip.Tracks[static_cast<size_t>(i)];
    const double lapse =
        static_cast<size_t>(i) < trip.TimeLapse.size() ? trip.TimeLapse[static_cast<size_t>(i)] : 1;
    if (lapse > 1) s.VideoTime += QStringLiteral("   ") + TimeLapseText(lapse);
    const double mspan = mi.EndTime - mi.StartTime;
    if (mspan > 0 && s.DateTime >= mi.StartTime && s.DateTime <= mi.EndTime)
      s.State = StateAt(mi, (s.DateTime - mi.StartTime) / mspan);
  }
  return s;
}

TTelemetryController::TTelemetryController(QObject *parent, const TGraphsPanel &panel,
                                           TCommands &commands)
    : QObject(parent), panel_(panel), commands_(commands), margin_(SeekMargin()) {
  QWidget *graphs = panel_.PanelBottomGraphics;
  TMainMenu *menu = commands_.Menu();
  graphs->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(graphs, &QWidget::customContextMenuRequested, this, [this, graphs, menu](QPoint p) {
    HideDetails();
    menu->PopupMenuGraphics()->popup(graphs->mapToGlobal(p));
  });
  graphs->installEventFilter(this);

  details_ = new TFormDetails(graphs->window());

  for (int k = 0; k < kGraphKindCount; ++k)
    commands_.Bind(GraphKindInfo(k).MenuItemName, [this]() { RebuildGraphics(true); });
  commands_.Bind("N_View_Graphics_Hide", [this]() { ShowAll(false); });
  commands_.Bind("N_View_Graphics_Show", [this]() { ShowAll(true); });
  commands_.Bind("N_View_Details", [this]() { HideDetails(); });
  RebuildGraphics(false);
}

TTelemetryController::~TTelemetryController() {
  if (details_) details_->HideDetails();
}

void TTelemetryController::Translate() {
  if (details_) details_->Translate();
}

void TTelemetryController::LoadTrip(std::shared_ptr<const TRowTelemetry> trip) {
  trip_ = std::move(trip);
  sources_ = trip_ ? GraphSourcesOf(*trip_) : std::vector<TGraphSource>{};
  cursor_ = 0;
  LayoutGraphics();
}

void TTelemetryController::ClearTrip() {
  HideDetails();
  LoadTrip(nullptr);
}

void TTelemetryController::SetTimeLine(long double viewStart, long double viewEnd, int margin,
                                       const TGraphBands &bands) {
  viewStart_ = viewStart;
  viewEnd_ = viewEnd;
  margin_ = margin;
  bands_ = bands;
  LayoutGraphics();
}

void TTelemetryController::ShowAll(bool show) {
  TMainMenu *menu = commands_.Menu();
  for (int k = 0; k < kGraphKindCount; ++k)
    if (QAction *a = menu->Item(GraphKindInfo(k).MenuItemName)) menu->SetMenuChecked(a, show);
  RebuildGraphics(true);
}

void TTelemetryController::RebuildGraphics(bool byUser) {
  HideDetails();
  for (TMyGraphic *g : graphs_) delete g;
  graphs_.clear();
  for (auto &img : images_) delete img.data();
  images_.clear();

  TMainMenu *menu = commands_.Menu();
  for (int k = 0; k < kGraphKindCount; ++k) {
    const TGraphKindInfo &info = GraphKindInfo(k);
    QAction *item = menu->Item(info.MenuItemName);
    if (!item || !item->isChecked()) continue;
    auto *image = new TMyImage(panel_.PanelBottomGraphics);
    image->setObjectName(QStringLiteral("ImageGraph%1").arg(info.Letter));
    auto *g = new TMyGraphic(image, info.Kind, margin_, this);
    connect(g, &TMyGraphic::SeekRequested, this, &TTelemetryController::SeekRequested);
    connect(g, &TMyGraphic::DragMoved, this, &TTelemetryController::DragMoved);
    connect(g, &TMyGraphic::HoverAt, this, [this](TMyGraphic *graph, int x, long double p) {
      ShowDetailsAt(graph->Kind(), x, graph->Width(), p, QCursor::pos());
    });
    connect(g, &TMyGraphic::HoverLeft, this, [this]() { HideDetails(); });
    connect(g, &TMyGraphic::WheelTurned, this, &TTelemetryController::OnWheel);
    image->show();
    images_.push_back(image);
    graphs_.push_back(g);
  }

  if (byUser) {
    QWidget *bottom = panel_.PanelBottomGraphics->parentWidget();
    QWidget *seek = SeekImage();
    const int fixed = (seek ? seek->height() : 40) + (bottom ? bottom->height() : 0) -
                      panel_.PanelBottomGraphics->height();
    const int current = bottom ? bottom->height() : 0;
    const int wanted = BottomPanelHeightFor(static_cast<int>(graphs_.size()), current, fixed);
    if (wanted != current) emit BottomPanelHeightRequested(wanted);
  }
  LayoutGraphics();
}

QWidget *TTelemetryController::SeekImage() const {
  return panel_.PanelBottomGraphics->findChild<QWidget *>("ImageSeek");
}

void TTelemetryController::LayoutGraphics() {
  if (graphs_.empty()) return;
  QWidget *panel = panel_.PanelBottomGraphics;
  QWidget *seek = SeekImage();
  const int top = seek ? seek->geometry().bottom() + 1 : 0;
  const int n = static_cast<int>(graphs_.size());
  const int each = std::max((panel->height() - top) / std::max(1, n), 5);
  int y = top;
  for (int i = 0; i < n; ++i) {
    const int h = i == n - 1 ? std::max(panel->height() - y, 5) : each;
    TMyImage *image = graphs_[static_cast<size_t>(i)]->Image();
    if (image) image->setGeometry(0, y, panel->width(), h);
    y += h;
  }
  for (TMyGraphic *g : graphs_) {
    g->SetMargin(margin_);
    g->Resize();
    g->DrawGraph(sources_, viewStart_, viewEnd_, bands_, true);
    g->DrawCursor(cursor_);
  }
}

void TTelemetryController::DrawCursors(long double position) {
  cursor_ = position;
  for (TMyGraphic *g : graphs_) g->DrawCursor(position);
  if (details_) details_->DetailsCursor(position);
}

bool TTelemetryController::DetailsWanted() const {
  QAction *item = commands_.Menu()->Item("N_View_Details");
  return item && item->isChecked() && !fullScreen_ && trip_ && !trip_->Row.Items.empty();
}

void TTelemetryController::ShowDetailsAt(std::optional<TGraphKind> kind, int x, int width,
                                         long double position, QPoint pointer) {
  if (!details_) return;
  const int plot = width - 2 * margin_;
  if (!DetailsWanted() || x < margin_ - 5 || x > width - margin_ + 5) {
    HideDetails();
    return;
  }
  const long double windowWidth = (viewEnd_ - viewStart_) * 20 / std::max(32, plot);
  const double tripSeconds = (trip_->Row.Summary.End - trip_->Row.Summary.Start) * 86400.0;
  const long double minWidth = tripSeconds > 0 ? 0.5L / tripSeconds : 0;
  if (windowWidth < minWidth) kind.reset();
  details_->ShowDetails(kind, cursor_, windowWidth, position, DetailsStateAt(*trip_, position),
                        sources_, pointer);
}

void TTelemetryController::SeekBarHover(long double position) {
  if (!details_) return;
  if (!DetailsWanted()) {
    HideDetails();
    return;
  }
  // The seek bar reports only positions on its time line: inside the plot.
  const int width = panel_.PanelBottomGraphics->width();
  ShowDetailsAt(std::nullopt, width / 2, width, position, QCursor::pos());
}

void TTelemetryController::HideDetails() {
  if (details_) details_->HideDetails();
}

void TTelemetryController::SetFullScreen(bool on) {
  fullScreen_ = on;
  if (on) HideDetails();
}

bool TTelemetryController::eventFilter(QObject *watched, QEvent *event) {
  if (watched == panel_.PanelBottomGraphics && event->type() == QEvent::Resize) LayoutGraphics();
  // The wheel over the panel around the graphs works as over a graph.
  if (watched == panel_.PanelBottomGraphics && event->type() == QEvent::Wheel) {
    event->accept();
    OnWheel(static_cast<QWheelEvent *>(event)->angleDelta().y());
    return true;
  }
  return QObject::eventFilter(watched, event);
}

void TTelemetryController::OnWheel(int delta) {
  wheelRest_ += delta;
  const int steps = wheelRest_ / 120;
  wheelRest_ -= steps * 120;
  for (int i = 0; i < std::abs(steps); ++i) emit TimeZoomRequested(steps > 0, kWheelZoomFactor);
}

}  // namespace tachora
