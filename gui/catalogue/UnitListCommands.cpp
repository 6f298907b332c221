#include "catalogue/UnitListCommands.h"

#include "app/UnitLang.h"
#include "app/UnitText.h"
#include "catalogue/UnitCatalogueProbe.h"

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
    if (r.Summary.Locked == 0) out.push_back(r);
  return out;
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
