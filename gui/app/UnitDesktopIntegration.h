// The desktop around the program: showing a recording in the user's file
// manager. The file manager is asked over D-Bus
// (org.freedesktop.FileManager1.ShowItems, which selects the file); the
// call is asynchronous, so a slow or missing file manager never freezes the
// window. Without a session bus, or when the call fails, the folder is
// opened with the desktop's default handler (QDesktopServices).
//
// UI thread only.
#pragma once

#include <QString>
#include <QUrl>

class QObject;

namespace tachora {

// The folder to open when the file manager cannot select the file: the
// path's own folder for a file, the path itself for a folder.
QUrl FolderUrlOf(const QString &path);

// Shows `path` in the file manager. `context` owns the pending call (it is
// dropped when `context` goes first).
void ShowInFileManager(const QString &path, QObject *context);

}  // namespace tachora
