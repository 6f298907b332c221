// Applies the current language to the main window: every menu item (by its
// name, which is its language key), the list's column titles and the hints
// of the control panel. The other windows translate themselves and are
// called by the main window. UI thread only.
#pragma once

#include <QString>
#include <array>

namespace tachora {

class TMainMenu;
class TMainLayout;
class TRecordListModel;

// The caption of a menu item named `name` in the current language; an empty
// result means "keep the caption" (the percent items of the zoom menu). Names
// ending in a digit that the table lacks take their source item's text
// ("N_FileList_Refresh2", the "4" copies).
QString MenuItemCaption(const QString &name);

// Column titles by design column.
std::array<QString, 8> ListColumnTitles();

void TranslateMenus(TMainMenu &menu);
// Qt's own texts (dialog buttons, file dialogs) in the current language when
// the system has Qt's translations (package qt6-translations-l10n).
void ApplyQtTranslation();
void TranslateMainWindow(TMainMenu &menu, TMainLayout &layout, TRecordListModel &model);

}  // namespace tachora
