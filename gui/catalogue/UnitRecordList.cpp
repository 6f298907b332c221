#include "catalogue/UnitRecordList.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

namespace tachora {

namespace {

constexpr int kImageSize = 16;
constexpr int kFontPixels = 14;
constexpr int kMinFontPixels = 10;
const QColor kFrameColour(240, 240, 240);

QPixmap DrawImage(int index) {
  QPixmap pm(kImageSize, kImageSize);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  auto lock = [&p](bool open, const QColor &body) {
    // Shackle, then the body over it; an open lock has its shackle lifted aside.
    p.setPen(QPen(QColor(90, 90, 90), 2));
    p.setBrush(Qt::NoBrush);
    QPainterPath shackle;
    const qreal x0 = open ? 7.5 : 4.5;
    shackle.moveTo(x0, open ? 5 : 8);
    shackle.arcTo(QRectF(x0, 1.5, 7, 8), 180, -180);
    shackle.lineTo(x0 + 7, 8);
    p.drawPath(shackle);
    p.setPen(QPen(body.darker(160), 1));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(2.5, 7.5, 11, 7.5), 1.5, 1.5);
    p.setPen(QPen(body.darker(220), 1.5));
    p.drawLine(QPointF(8, 10), QPointF(8, 12.5));
  };
  switch (index) {
    case kImgLocked:
      lock(false, QColor(230, 170, 30));
      break;
    case kImgPartLocked:
      lock(true, QColor(240, 210, 120));
      break;
    case kImgNoHeader: {
      // A clock with a question: the duration was not read from the file.
      p.setPen(QPen(QColor(70, 100, 160), 1.5));
      p.setBrush(QColor(235, 242, 255));
      p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
      p.setPen(QPen(QColor(200, 60, 40), 1.8));
      QFont f("Arial");
      f.setPixelSize(11);
      f.setBold(true);
      p.setFont(f);
      p.drawText(QRectF(1.5, 1.5, 13, 13), Qt::AlignCenter, "?");
      break;
    }
    case kImgTrack: {
      // A winding track between two pins.
      p.setPen(QPen(QColor(40, 140, 60), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      QPainterPath track;
      track.moveTo(3, 13);
      track.cubicTo(12, 14, 2, 6, 8, 5);
      track.cubicTo(11, 4.5, 12, 5, 13, 3);
      p.drawPath(track);
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(40, 140, 60));
      p.drawEllipse(QPointF(3, 13), 2, 2);
      p.setBrush(QColor(210, 50, 40));
      p.drawEllipse(QPointF(13, 3), 2.2, 2.2);
      break;
    }
    case kImgDamaged: {
      // A warning triangle: the recording was cut off and needs repair.
      p.setPen(QPen(QColor(170, 60, 20), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.setBrush(QColor(250, 200, 60));
      const QPointF tri[3] = {QPointF(8, 1.5), QPointF(15, 14.5), QPointF(1, 14.5)};
      p.drawPolygon(tri, 3);
      p.setPen(QPen(QColor(120, 30, 10), 1.8, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(8, 5.5), QPointF(8, 10));
      p.drawPoint(QPointF(8, 12.5));
      break;
    }
    case kImgEvent: {
      // A red warning triangle: the camera protected this clip.
      QPainterPath tri;
      tri.moveTo(8, 1.5);
      tri.lineTo(15, 14.5);
      tri.lineTo(1, 14.5);
      tri.closeSubpath();
      p.setPen(QPen(QColor(150, 30, 20), 1));
      p.setBrush(QColor(220, 50, 40));
      p.drawPath(tri);
      p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(8, 6), QPointF(8, 10));
      p.drawPoint(QPointF(8, 12.5));
      break;
    }
    case kImgParking: {
      // The blue parking sign.
      p.setPen(QPen(QColor(20, 60, 140), 1));
      p.setBrush(QColor(40, 100, 200));
      p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 2.5, 2.5);
      p.setPen(Qt::white);
      QFont f("Arial");
      f.setPixelSize(12);
      f.setBold(true);
      p.setFont(f);
      p.drawText(QRectF(1.5, 1.5, 13, 13), Qt::AlignCenter, "P");
      break;
    }
    default:
      break;
  }
  return pm;
}

}  // namespace

const QPixmap &ListImage(int index) {
  static std::array<QPixmap, kListImageCount> images;
  static bool made = false;
  if (!made) {
    for (int i = 0; i < kListImageCount; ++i) images[i] = DrawImage(i);
    made = true;
  }
  static const QPixmap none;
  return index >= 0 && index < kListImageCount ? images[index] : none;
}

bool ListColumnRightAligned(int column) {
  return column != 0 && column != 5 && column != 8 && column != 10;
}

QString FitListText(const QString &text, int width, QFont &font, bool shrink) {
  auto fits = [&](const QString &t) { return QFontMetrics(font).horizontalAdvance(t) <= width; };
  if (shrink) {
    while (!fits(text) && font.pixelSize() - 2 >= kMinFontPixels)
      font.setPixelSize(font.pixelSize() - 2);
  }
  if (fits(text)) return text;
  QString t = text;
  if (t.size() >= 2) t = t.left(t.size() - 2) + "..";
  while (t.size() >= 4 && !fits(t)) t = t.left(t.size() - 3) + "..";
  return t;
}

TRecordListModel::TRecordListModel(QObject *parent) : QAbstractTableModel(parent) {}

int TRecordListModel::rowCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TRecordListModel::columnCount(const QModelIndex &parent) const {
  return parent.isValid() ? 0 : kListColumns;
}

QVariant TRecordListModel::data(const QModelIndex &index, int role) const {
  const TListRow *row = Row(index.row());
  if (!row || index.column() < 0 || index.column() >= kListColumns) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return row->Texts[index.column()];
    case kImageRole:
      return row->Images[index.column()];
    case kStatusRole:
      return row->Status;
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(
          Qt::AlignVCenter |
          (ListColumnRightAligned(index.column()) ? Qt::AlignRight : Qt::AlignLeft));
    default:
      return {};
  }
}

QVariant TRecordListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kListColumns) return {};
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return titles_[section];
  return {};
}

void TRecordListModel::SetRows(std::vector<TListRow> rows) {
  const int oldCount = static_cast<int>(rows_.size());
  const int newCount = static_cast<int>(rows.size());
  if (newCount > oldCount) {
    beginInsertRows({}, oldCount, newCount - 1);
    rows_ = std::move(rows);
    endInsertRows();
  } else if (newCount < oldCount) {
    beginRemoveRows({}, newCount, oldCount - 1);
    rows_ = std::move(rows);
    endRemoveRows();
  } else {
    rows_ = std::move(rows);
  }
  if (newCount > 0) emit dataChanged(index(0, 0), index(newCount - 1, kListColumns - 1));
}

const TListRow *TRecordListModel::Row(int row) const {
  return row >= 0 && row < static_cast<int>(rows_.size()) ? &rows_[row] : nullptr;
}

QString TRecordListModel::Caption(int row) const {
  const TListRow *r = Row(row);
  return r ? r->Texts[0] : QString();
}

void TRecordListModel::SetTitles(const std::array<QString, kListColumns> &titles) {
  titles_ = titles;
  emit headerDataChanged(Qt::Horizontal, 0, kListColumns - 1);
}

void TRecordListDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                const QModelIndex &index) const {
  const bool selected = option.state & QStyle::State_Selected;
  const QPalette &pal = option.palette;
  const QRect cell = option.rect;
  const int column = index.column();

  painter->save();
  painter->fillRect(
      cell, selected ? pal.color(QPalette::Active, QPalette::Highlight) : QColor(Qt::white));
  painter->setPen(kFrameColour);
  painter->drawRect(cell.adjusted(0, 0, -1, -1));

  const int image = index.data(kImageRole).toInt();
  int textLeft = cell.left();
  if (image >= 0 && image < kListImageCount) {
    painter->drawPixmap(cell.left() + 1, cell.top() + 1, ListImage(image));
    textLeft += 17;
    if (column == 3) textLeft -= 3;
  } else if (column == 0) {
    textLeft += 17;
  }

  // A status line is one text from the second column on (the view spans it).
  const bool status = index.data(kStatusRole).toBool() && column == 1;
  const bool right = ListColumnRightAligned(column) && !status;
  QFont font("Arial");
  font.setPixelSize(kFontPixels);
  const int avail = right ? cell.right() - 2 - textLeft : cell.right() - (textLeft + 1);
  const QString text = FitListText(index.data(Qt::DisplayRole).toString(), std::max(avail, 0), font,
                                   column != 5 && !status);
  painter->setFont(font);
  painter->setPen(selected ? pal.color(QPalette::Active, QPalette::HighlightedText)
                           : QColor(Qt::black));
  QRect textRect(textLeft + (right ? 0 : 1), cell.top(), std::max(avail, 0), cell.height());
  painter->setClipRect(cell);
  painter->drawText(
      textRect, Qt::AlignVCenter | (right ? Qt::AlignRight : Qt::AlignLeft) | Qt::TextSingleLine,
      text);
  painter->restore();
}

QSize TRecordListDelegate::sizeHint(const QStyleOptionViewItem &option,
                                    const QModelIndex &index) const {
  QSize s = QStyledItemDelegate::sizeHint(option, index);
  s.setHeight(std::max(18, kImageSize + 2));
  return s;
}

}  // namespace tachora
