// Rules and texts behind the recording list's pop-up menu: which items are
// enabled for the selected row, the questions asked before files are deleted
// from disk, and the filters of the "Attach Track" dialog.
//
// Pure functions. UI thread.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <vector>

#include "catalogue/UnitFileItems.h"
#include "catalogue/UnitFileManager.h"
#include "catalogue/UnitRecordList.h"

namespace tachora {

class TCommands;

// Enabled state of every list pop-up item by name, from the selected row
// (nullptr when none) and the number of rows. An item nobody has bound in
// the command registry stays off whatever this says.
QHash<QString, bool> ListMenuEnabling(const TFileItem *selected, int rowCount);

// "Are you sure to full delete file", the row's location, " ?", a blank line,
// "There will NO way to recover files ! ! !".
QString DeleteFileQuestion(const TFileItem &row);
// The same naming every file the delete takes (the row's videos and their
// own telemetry files, TFileManager::FilesToDelete), one a line; the text
// above when that is the row's one video.
QString DeleteFileQuestion(const TFileItem &row, const std::vector<std::string> &files);
// The rows that "Delete All Unlocked Files" removes: lock state 0 and no
// event recording in them (the camera protected those), in order.
std::vector<TFileItem> UnlockedRows(const std::vector<TFileItem> &rows);
// The question for those rows: the count of recordings, the first 20 names
// one a line, then "... " for every further row.
QString DeleteAllQuestion(const std::vector<TFileItem> &unlocked);

// The message after a delete from disk that left files on the disk: each
// file with the reason, one a line (the first 20, then how many more).
QString DeleteFailureText(const std::vector<TDeleteFailure> &failures);

// View -> Show: which kinds the list shows.
enum TListFilter { kShowAll = 0, kShowEvents, kShowParking, kShowNormal };
// The menu items of View -> Show, in TListFilter order.
extern const char *const kListFilterItems[4];
// The checked one of them (kShowAll when none is).
int ListFilter(const TCommands &commands);
bool ListFilterShows(int filter, uint8_t kind);
// The list's rows for the catalogue's items that the filter shows (the
// status line always).
std::vector<TListRow> FilteredListRows(const std::vector<TListItem> &items, int filter);

// The "Attach Track" dialog's filters in Qt's form; the second is the one
// to open on.
QStringList AttachTrackDialogFilters();

}  // namespace tachora
