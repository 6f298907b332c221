#include "catalogue/UnitListCommands.h"

#include <QAction>

#include "app/UnitCommands.h"
#include "app/UnitLang.h"
#include "app/UnitMainMenu.h"
#include "app/UnitText.h"
#include "catalogue/UnitCatalogueProbe.h"
#include "catalogue/UnitRecordingKind.h"

namespace tachora {

QHash<QString, bool> ListMenuEnabling(const TFileItem *selected, int rowCount) {
  const bool sel = selected != nullptr;
  QHash<QString, bool> e;
  for (const char *name :
       {"N_FileList_Open", "N_FileList_Del", "N_FileList_Copy", "N_FileList_DelDisk",
        "N_FileList_SetLock", "N_FileList_UnsetLock", "N_FileList_Group_With", "N_FileList_Ungroup",
        "N_FileList_Group_Auto", "N_FileList_Ungroup_All", "N_FileList_Track_Google",
        "N_FileList_Track_Export", "N_FileList_Track_Set", "N_FileList_Track_GPSLog",
        "N_FileList_Track_Move", "N_FileList_ShowExplorer", "N_FileList_Property"})
    e.insert(name, sel);
  for (const char *name :
       {"N_FileList_Add", "N_FileList_DelDiskAll", "N_FileList_Refresh", "N_FileList_Clear"})
    e.insert(name, true);
  if (sel) {
    const int lock = selected->Summary.Locked;
    e["N_FileList_SetLock"] = lock != 1;
    e["N_FileList_UnsetLock"] = lock != 0;
    e["N_FileList_DelDisk"] = lock == 0;
    e["N_FileList_Ungroup"] = selected->Items.size() > 1;
    const bool track = !selected->Summary.TelemetryPath.empty();
    e["N_FileList_Track_Export"] = track;
    e["N_FileList_Track_Google"] = track;
    bool log = false;
    for (const auto &r : selected->Items) log = log || !r.GpsLog.Path.empty();
    e["N_FileList_Track_GPSLog"] = log;
    e["N_FileList_Repair"] = selected->Summary.Damaged != 0;
  } else {
    e["N_FileList_Repair"] = false;
  }
  // Grouping needs rows, whether or not one is selected.
  for (const char *name :
       {"N_FileList_Group_With", "N_FileList_Group_Auto", "N_FileList_Ungroup_All"})
    e[name] = (name == QString("N_FileList_Group_With") ? sel : true) && rowCount > 0;
  return e;
}

QString DeleteFileQuestion(const TFileItem &row) {
  return L("Mes_SureToDelFile") + "\n" + QString::fromStdString(row.Summary.Path) + " ?\n\n" +
         L("Mes_NoWayToBack") + " ! ! !";
}

QString DeleteFileQuestion(const TFileItem &row, const std::vector<std::string> &files) {
  if (files.size() == 1 && files[0] == row.Summary.Path) return DeleteFileQuestion(row);
  QStringList names;
  for (const std::string &f : files) names << QString::fromStdString(f);
  return L("Mes_SureToDelFiles") + ":\n" + names.join("\n") + " ?\n\n" + L("Mes_NoWayToBack") +
         " ! ! !";
}

std::vector<TFileItem> UnlockedRows(const std::vector<TFileItem> &rows) {
  std::vector<TFileItem> out;
  for (const auto &r : rows)
    if (r.Summary.Locked == 0 && r.Summary.Kind != kKindEvent) out.push_back(r);
  return out;
}

const char *const kListFilterItems[4] = {"N_View_Show_All", "N_View_Show_Events",
                                         "N_View_Show_Parking", "N_View_Show_Normal"};

int ListFilter(const TCommands &commands) {
  for (int i = 1; i < 4; ++i) {
    const QAction *item = commands.Menu() ? commands.Menu()->Item(kListFilterItems[i]) : nullptr;
    if (item && item->isChecked()) return i;
  }
  return kShowAll;
}

bool ListFilterShows(int filter, uint8_t kind) {
  switch (filter) {
    case kShowEvents:
      return kind == kKindEvent;
    case kShowParking:
      return kind == kKindParking;
    case kShowNormal:
      return kind == kKindNormal;
    default:
      return true;
  }
}

std::vector<TListRow> FilteredListRows(const std::vector<TListItem> &items, int filter) {
  std::vector<TListRow> rows;
  rows.reserve(items.size());
  for (const TListItem &item : items) {
    if (!item.IsStatus && !ListFilterShows(filter, item.Kind)) continue;
    TListRow &row = rows.emplace_back();
    row.Texts[0] = QString::fromStdString(item.Caption);
    row.Images[0] = item.Image;
    row.Status = item.IsStatus;
    row.Id = item.Id;
    row.Kind = item.Kind;
    for (size_t i = 0; i < item.SubItems.size() && i + 1 < kListColumns; ++i) {
      row.Texts[i + 1] = QString::fromStdString(item.SubItems[i]);
      row.Images[i + 1] = i < item.SubImages.size() ? item.SubImages[i] : kImgNone;
    }
  }
  return rows;
}

QString DeleteAllQuestion(const std::vector<TFileItem> &unlocked) {
  size_t recordings = 0;
  QString names;
  for (size_t i = 0; i < unlocked.size(); ++i) {
    recordings += unlocked[i].Items.size();
    if (i < 20)
      names += QString::fromStdString(unlocked[i].Summary.DisplayName) + "\n";
    else
      names += "... ";
  }
  return L("Mes_SureToDelAllFiles") + "?\n\n" + L("Mes_SureToDelAllFiles2") + ": " +
         QString::number(recordings) + "\n" + names + "\n" + L("Mes_NoWayToBack") + " ! ! !";
}

QString DeleteFailureText(const std::vector<TDeleteFailure> &failures) {
  constexpr size_t kShown = 20;
  QString text = L("Mes_CannotDelete") + "\n";
  for (size_t i = 0; i < failures.size() && i < kShown; ++i)
    text += "\n" + QString::fromStdString(failures[i].Path) + ": " +
            QString::fromStdString(failures[i].Error);
  if (failures.size() > kShown) text += "\n... (" + QString::number(failures.size() - kShown) + ")";
  return text;
}

QStringList AttachTrackDialogFilters() {
  QStringList out;
  for (const auto &[name, pattern] : AttachTrackFilters(TrackReaderExtensions())) {
    const QString n = QString::fromStdString(name);
    // Qt reads the patterns from the parentheses at the end of the name.
    out << (n.endsWith(')')
                ? n
                : n + " (" + QString::fromStdString(pattern).replace(';', ' ').trimmed() + ")");
  }
  return out;
}

}  // namespace tachora
