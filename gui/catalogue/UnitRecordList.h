// The recording list of the main window: a table model over copies of the
// catalogue's rows and the delegate that draws every cell the way the list
// has always looked (white cells with a light frame, 14-pixel text shrunk to
// fit, small pictures for locks, estimated durations and tracks, a status
// line across all columns but the first).
//
// The model never reaches into the catalogue: the window hands it finished
// rows (TListRow) on every change notification, so painting never races the
// search thread. Columns are in design order: Name, Duration, Date and Time,
// Track, Speed, File Location, Size, Picture, Kind, Events, Channels. UI
// thread only.
#pragma once

#include <QAbstractTableModel>
#include <QFont>
#include <QPixmap>
#include <QStyledItemDelegate>
#include <array>
#include <cstdint>
#include <vector>

namespace tachora {

constexpr int kListColumns = 11;
// Design widths of the columns in pixels.
constexpr std::array<int, kListColumns> kListColumnWidths{100, 45, 95, 54, 30, 190,
                                                          43,  65, 70, 45, 60};

// Indices of the list's pictures (the catalogue names them by number).
enum TListImage {
  kImgNone = -1,
  kImgLocked = 0,
  kImgUnused = 1,
  kImgPartLocked = 2,
  kImgNoHeader = 3,
  kImgTrack = 4,
  kImgDamaged = 5,  // media data without sample tables: can be repaired
  kImgEvent = 6,
  kImgParking = 7,
};
constexpr int kListImageCount = 8;

// One list item as the catalogue fills it: texts and pictures per column.
// A status line has only its caption and one sub-item (column 1).
struct TListRow {
  std::array<QString, kListColumns> Texts;
  std::array<int, kListColumns> Images = [] {
    std::array<int, kListColumns> none;
    none.fill(kImgNone);
    return none;
  }();
  uint8_t Kind = 0;  // TRecordingKind
  bool Status = false;
  uint64_t Id = 0;  // the catalogue row's stable id; 0 for the status line
};

// The list pictures, 16 x 16, drawn by the program.
const QPixmap &ListImage(int index);

// Right-aligned columns: all but Name, File Location, Kind and Channels.
bool ListColumnRightAligned(int column);

// Fits `text` into `width` pixels: the font shrinks in steps of 2 pixels
// from its pixel size down to 10; if the text still does not fit its last two
// characters become "..", and then, while it is at least 4 characters long and
// too wide, its last three characters are replaced by "..". `font` receives
// the size used. With `shrink` false only the cutting applies.
QString FitListText(const QString &text, int width, QFont &font, bool shrink);

class TRecordListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit TRecordListModel(QObject *parent = nullptr);

  int rowCount(const QModelIndex &parent = QModelIndex()) const override;
  int columnCount(const QModelIndex &parent = QModelIndex()) const override;
  QVariant data(const QModelIndex &index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Replaces the rows, keeping the view's rows where the count is unchanged
  // (insertions and removals at the end, a repaint of the rest).
  void SetRows(std::vector<TListRow> rows);
  const TListRow *Row(int row) const;
  // Caption of a row (its Name text); empty out of range.
  QString Caption(int row) const;
  // Column titles by design column.
  void SetTitles(const std::array<QString, kListColumns> &titles);

 private:
  std::vector<TListRow> rows_;
  std::array<QString, kListColumns> titles_;
};

class TRecordListDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter *painter, const QStyleOptionViewItem &option,
             const QModelIndex &index) const override;
  QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

// Role giving the TListImage of a cell (int).
constexpr int kImageRole = Qt::UserRole + 1;
// Role telling whether the row is a status line (bool).
constexpr int kStatusRole = Qt::UserRole + 2;

}  // namespace tachora
