#include "catalogue/UnitFormGroup.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "app/UnitLang.h"
#include "app/UnitText.h"
#include "catalogue/UnitFileManager.h"
#include "catalogue/UnitRecordList.h"

namespace tachora {

namespace {

constexpr int kIdRole = Qt::UserRole + 10;

uint64_t IdOf(const QTreeWidgetItem *item) {
  return item ? item->data(0, kIdRole).toULongLong() : 0;
}

}  // namespace

bool MergeRowsById(TFileManager &fm, const std::vector<uint64_t> &ids) {
  std::vector<int> rows;
  for (uint64_t id : ids) {
    const int row = fm.RowOfId(id);
    if (row >= 0) rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  if (rows.size() < 2) return false;
  fm.MergeItems(rows, true);
  return true;
}

TFormGroup::TFormGroup(const QTableView &list, uint64_t selectedId, TFileManager *fm,
                       QWidget *parent)
    : QDialog(parent), fm_(fm) {
  setObjectName("FormGroup");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowModality(Qt::WindowModal);
  ListView = new QTreeWidget(this);
  ListView->setObjectName("ListView");
  ListView->setRootIsDecorated(false);
  ListView->setUniformRowHeights(true);
  ListView->setAllColumnsShowFocus(true);
  ListView->setSelectionMode(QAbstractItemView::ExtendedSelection);

  // The same columns, in the list's display order, each 8 pixels wider.
  auto *model = qobject_cast<const TRecordListModel *>(list.model());
  const QHeaderView *header = list.horizontalHeader();
  std::vector<int> order;
  for (int visual = 0; visual < kListColumns; ++visual) {
    const int logical = header->logicalIndex(visual);
    if (logical >= 0 && !header->isSectionHidden(logical)) order.push_back(logical);
  }
  QStringList titles;
  for (int c : order)
    titles << (model ? model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString()
                     : QString());
  ListView->setColumnCount(static_cast<int>(order.size()));
  ListView->setHeaderLabels(titles);
  for (size_t i = 0; i < order.size(); ++i) {
    ListView->setColumnWidth(static_cast<int>(i), header->sectionSize(order[i]) + 8);
    ListView->headerItem()->setTextAlignment(
        static_cast<int>(i), ListColumnRightAligned(order[i]) ? Qt::AlignRight : Qt::AlignLeft);
  }
  QTreeWidgetItem *selected = nullptr;
  for (int r = 0; model && r < model->rowCount(); ++r) {
    const TListRow *row = model->Row(r);
    if (!row || row->Status || row->Id == 0) continue;
    auto *item = new QTreeWidgetItem(ListView);
    for (size_t i = 0; i < order.size(); ++i) {
      const int c = order[i];
      item->setText(static_cast<int>(i), row->Texts[c]);
      item->setTextAlignment(
          static_cast<int>(i),
          (ListColumnRightAligned(c) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
      if (row->Images[c] >= 0) item->setIcon(static_cast<int>(i), ListImage(row->Images[c]));
    }
    item->setData(0, kIdRole, QVariant::fromValue<qulonglong>(row->Id));
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, Qt::Unchecked);
    if (row->Id == selectedId) selected = item;
  }
  if (selected) {
    selected->setCheckState(0, Qt::Checked);
    ListView->setCurrentItem(selected);
    ListView->scrollToItem(selected);
  }

  // The map preview's place; the tracks are drawn there by the map page.
  PanelPreview = new QFrame(this);
  PanelPreview->setObjectName("PanelPreview");
  PanelPreview->setFrameShape(QFrame::StyledPanel);
  PanelPreview->setMinimumSize(240, 200);
  auto *previewText = new QLabel(PanelPreview);
  previewText->setObjectName("LabelPreview");
  previewText->setAlignment(Qt::AlignCenter);
  previewText->setWordWrap(true);
  auto *previewLayout = new QVBoxLayout(PanelPreview);
  previewLayout->addWidget(previewText);

  ButtonGroup = new QPushButton(this);
  ButtonGroup->setObjectName("ButtonGroup");
  ButtonCancel = new QPushButton(this);
  ButtonCancel->setObjectName("ButtonCancel");
  ButtonGroup->setDefault(true);
  TimerPreview = new QTimer(this);
  TimerPreview->setSingleShot(true);

  auto *splitter = new QSplitter(Qt::Horizontal, this);
  splitter->addWidget(ListView);
  splitter->addWidget(PanelPreview);
  splitter->setStretchFactor(0, 3);
  splitter->setStretchFactor(1, 2);
  auto *buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ButtonGroup);
  buttons->addWidget(ButtonCancel);
  auto *layout = new QVBoxLayout(this);
  layout->addWidget(splitter, 1);
  layout->addLayout(buttons);

  // Placed over the main window's list, no taller than its client area.
  int height = 520;
  if (QWidget *main = parent ? parent->window() : nullptr) {
    const QRect g = main->geometry();
    move(g.left() + 10, g.top() + 50);
    height = std::min(height, main->height() - 10);
  }
  resize(980, std::max(200, height));

  connect(ButtonGroup, &QPushButton::clicked, this, &TFormGroup::Group);
  connect(ButtonCancel, &QPushButton::clicked, this, &TFormGroup::reject);
  connect(ListView, &QTreeWidget::itemClicked, this, &TFormGroup::RestartPreviewTimer);
  connect(ListView, &QTreeWidget::itemChanged, this, &TFormGroup::RestartPreviewTimer);
  connect(ListView, &QTreeWidget::currentItemChanged, this, &TFormGroup::RestartPreviewTimer);
  connect(TimerPreview, &QTimer::timeout, this, [this]() {
    const std::vector<uint64_t> ids = PreviewIds();
    emit PreviewRequested(ids, ids.size() > 1 ? FocusedId() : 0);
  });
  Translate();
  ListView->setFocus();
  RestartPreviewTimer();
}

void TFormGroup::Translate() {
  setWindowTitle(L("Grouping_Title"));
  ButtonGroup->setText(L("Grouping_Btn"));
  ButtonCancel->setText(L("Cancel"));
  if (auto *label = PanelPreview->findChild<QLabel *>("LabelPreview"))
    label->setText(L("Grouping_Preview"));
}

std::vector<uint64_t> TFormGroup::CheckedIds() const {
  std::vector<uint64_t> ids;
  for (int i = 0; i < ListView->topLevelItemCount(); ++i) {
    const QTreeWidgetItem *item = ListView->topLevelItem(i);
    if (item->checkState(0) == Qt::Checked) ids.push_back(IdOf(item));
  }
  return ids;
}

std::vector<uint64_t> TFormGroup::PreviewIds() const {
  std::vector<uint64_t> ids;
  const QTreeWidgetItem *focused = ListView->currentItem();
  for (int i = 0; i < ListView->topLevelItemCount(); ++i) {
    const QTreeWidgetItem *item = ListView->topLevelItem(i);
    if (item == focused || item->checkState(0) == Qt::Checked) ids.push_back(IdOf(item));
  }
  return ids;
}

uint64_t TFormGroup::FocusedId() const {
  return IdOf(ListView->currentItem());
}

QTreeWidgetItem *TFormGroup::ItemOf(uint64_t id) const {
  for (int i = 0; i < ListView->topLevelItemCount(); ++i)
    if (IdOf(ListView->topLevelItem(i)) == id) return ListView->topLevelItem(i);
  return nullptr;
}

void TFormGroup::SetChecked(uint64_t id, bool checked) {
  if (QTreeWidgetItem *item = ItemOf(id))
    item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

int TFormGroup::PreviewDelayMs() const {
  return PreviewIds().size() > 1 ? 500 : 100;
}

void TFormGroup::RestartPreviewTimer() {
  TimerPreview->start(PreviewDelayMs());
}

void TFormGroup::Group() {
  if (fm_) MergeRowsById(*fm_, CheckedIds());
  accept();
}

TFormGroup *StartGroupWindow(const QTableView &list, uint64_t selectedId, TFileManager *fm,
                             QWidget *parent) {
  auto *form = new TFormGroup(list, selectedId, fm, parent);
  form->open();
  return form;
}

}  // namespace tachora
