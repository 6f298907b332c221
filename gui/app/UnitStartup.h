// Start-up pieces of the main window that need no window: the first-start
// geometry, the correction of a stored position that lies off the screen,
// the desktop entry that lets file managers open MOV files with Tachora, and
// the mapping of an opened path onto what the catalogue takes (a recorder
// ".dat" stands for the ".mov" of the same name).
//
// Rectangles are pixels in virtual-desktop coordinates. Thread-safe.
#pragma once

#include <QIcon>
#include <QImage>
#include <QRect>
#include <QString>

namespace tachora {

// The window of a first start: 4/5 of the first monitor's width, 3/4 of its
// height, offset by a sixth of its own size.
QRect StartGeometry(const QRect &firstScreen);

// Fits a stored rectangle into the work area of its monitor. A window
// mostly off screen (less than 100 pixels left in view) goes to the work
// area's left or top edge; a size saved on a larger screen (or damaged)
// shrinks to the work area, and the window moves until it lies wholly
// inside, so the list, the map and the controls are all on screen.
QRect CorrectBounds(const QRect &bounds, const QRect &workArea);

// The program's icon, drawn at the given size (pixels).
QImage AppIconImage(int size);
QIcon AppIcon();

// The program's id on the desktop: the desktop entry's and the icon's name.
inline constexpr char kAppId[] = "org.tachora.Tachora";

// The desktop entry text for the program at `exePath`.
QString DesktopEntryText(const QString &exePath);
// The entry an installation put beside the program (PREFIX/bin/tachora ->
// PREFIX/share/applications/org.tachora.Tachora.desktop); empty when the
// program runs from elsewhere (a build folder).
QString InstalledDesktopEntry(const QString &exePath);
// Lets file managers open recordings with a program that runs uninstalled:
// writes ~/.local/share/applications/org.tachora.Tachora.desktop (under
// $XDG_DATA_HOME when set) unless it already holds exactly this text, and the
// icon in the icon theme's folder when missing. The entry has the installed
// entry's name, so the menu never shows both. An installed program writes
// nothing and removes an entry an uninstalled run wrote, which would hide the
// installed one. True when the entry was written.
bool RegisterShell(const QString &exePath);
QString DesktopEntryPath();

// ".dat" (any case) becomes ".mov" with the same letter case as the ".dat"
// had ("FILE0001.DAT" -> "FILE0001.MOV"); a matching file that differs only
// in case is found on case-sensitive file systems. Other paths unchanged.
QString VideoPathFor(const QString &path);

}  // namespace tachora
