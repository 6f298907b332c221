// Applies the current language: the menus (every item by its name, which is
// its language key), Qt's own texts, and every part of the window that
// registered itself (each controller translates its own widgets through
// ITranslatable; this unit knows none of them). UI thread only.
#pragma once

#include <QString>
#include <vector>

namespace tachora {

class TMainMenu;

// A part of the window with texts of its own.
class ITranslatable {
 public:
  virtual ~ITranslatable() = default;
  virtual void Translate() = 0;
};

// The caption of a menu item named `name` in the current language; an empty
// result means "keep the caption" (the percent items of the zoom menu). Names
// ending in a digit that the table lacks take their source item's text
// ("N_FileList_Refresh2", the "4" copies).
QString MenuItemCaption(const QString &name);

void TranslateMenus(TMainMenu &menu);
// Qt's own texts (dialog buttons, file dialogs) in the current language when
// the system has Qt's translations (package qt6-translations-l10n).
void ApplyQtTranslation();

// The registered parts, translated in the order they registered.
class TTranslator {
 public:
  void Register(ITranslatable *part);
  void Unregister(ITranslatable *part);
  // Qt's texts, the menus, then every registered part.
  void Apply(TMainMenu &menu);

 private:
  std::vector<ITranslatable *> parts_;
};

}  // namespace tachora
