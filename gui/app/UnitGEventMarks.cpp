#include "app/UnitGEventMarks.h"

#include <QAction>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "app/UnitCommands.h"
#include "app/UnitMainMenu.h"
#include "app/UnitText.h"
#include "catalogue/UnitCatalogueTrip.h"
#include "telemetry/UnitGEvents.h"

namespace tachora {

const char *const kEventSensitivityItems[3] = {
    "N_View_Sensitivity_High", "N_View_Sensitivity_Normal", "N_View_Sensitivity_Low"};

int EventLevel(const TCommands &commands) {
  for (int i = 0; i < 3; ++i) {
    const QAction *a = commands.Menu() ? commands.Menu()->Item(kEventSensitivityItems[i]) : nullptr;
    if (a && a->isChecked()) return i;
  }
  return kDefaultEventLevel;
}

std::vector<TEventMark> EventMarksOf(const TRowTelemetry &trip, int level) {
  std::vector<TEventMark> marks;
  const double start = trip.Row.Summary.Start, span = trip.Row.Summary.End - start;
  if (!(start > 0) || !(span > 0)) return marks;
  std::vector<const TMovingInfo *> tracks;
  for (const auto &t : trip.Tracks) tracks.push_back(t.get());
  const float threshold = kEventThresholds[std::clamp(level, 0, 2)];
  for (const TGEvent &e : DetectTripGEvents(tracks, threshold))
    marks.push_back({static_cast<long double>(e.Start - start) / span, e.PeakTime, e.PeakG});
  return marks;
}

std::vector<int> EventColumns(const std::vector<TEventMark> &marks, const TTimeView &view,
                              int linePixels) {
  std::vector<int> columns;
  if (!(view.Width() > 0) || linePixels <= 0) return columns;
  for (const TEventMark &m : marks) {
    if (m.Position < view.Start || m.Position > view.End) continue;
    const int x =
        static_cast<int>(std::lround((m.Position - view.Start) / view.Width() * linePixels));
    // Marks closer than a column apart are one triangle.
    if (columns.empty() || columns.back() != x) columns.push_back(x);
  }
  return columns;
}

std::optional<size_t> EventAtColumn(const std::vector<TEventMark> &marks, const TTimeView &view,
                                    int linePixels, int x) {
  std::optional<size_t> best;
  int bestDistance = 5;
  if (!(view.Width() > 0) || linePixels <= 0) return best;
  for (size_t i = 0; i < marks.size(); ++i) {
    const long double c = (marks[i].Position - view.Start) / view.Width() * linePixels;
    const int d = std::abs(static_cast<int>(std::lround(c)) - x);
    if (d < bestDistance) bestDistance = d, best = i;
  }
  return best;
}

void DrawEventMarks(QPainter &p, const std::vector<int> &columns, int offset, int top) {
  if (columns.empty()) return;
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(140, 20, 10), 1));
  p.setBrush(QColor(225, 40, 30));
  for (int c : columns) {
    const qreal x = offset + c + 0.5;
    QPainterPath tri;
    tri.moveTo(x - 4, top);
    tri.lineTo(x + 4, top);
    tri.lineTo(x, top + 6);
    tri.closeSubpath();
    p.drawPath(tri);
  }
  p.restore();
}

QString EventHint(const TEventMark &mark) {
  return L("GEvent") + " " + Q(FormatTime(mark.Time)) + ", " + Q(FormatFixed(mark.PeakG, 2)) + " " +
         L("GEvent_g");
}

std::optional<long double> EventJumpTarget(const std::vector<TEventMark> &marks,
                                           long double position, bool forward, double tripDays) {
  if (!(tripDays > 0)) return std::nullopt;
  const long double lead = kEventLeadIn / tripDays;
  // Half a second of slack, so that a second press after landing moves on.
  const long double slack = 0.5 / 86400.0 / tripDays;
  auto target = [lead](const TEventMark &m) { return std::max<long double>(0, m.Position - lead); };
  if (forward) {
    for (const TEventMark &m : marks)
      if (target(m) > position + slack) return target(m);
  } else {
    for (auto it = marks.rbegin(); it != marks.rend(); ++it)
      if (target(*it) < position - slack) return target(*it);
  }
  return std::nullopt;
}

}  // namespace tachora
