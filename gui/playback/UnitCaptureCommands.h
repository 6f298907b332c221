// The player's saving commands: "Save selected fragment" (the cutting
// window), "Save Current Video Frame" and "Save Current Window" (JPEG
// pictures at quality 96 with suggested names), bound by name in the
// command registry. It works on the player only through IPlayerAccess.
//
// A frame is the player's snapshot at the video's own size; only when the
// renderer cannot give one (the OpenGL renderer on a driver where mpv's
// screenshot fails) is the picture taken as shown on the screen, and the
// user is told so once per run.
//
// UI thread only; the controller and its cutting window belong to the main
// window.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

#include "app/UnitTranslate.h"
#include "app/UnitUtils.h"

class QImage;
class QWidget;

namespace tachora {

class IPlayerAccess;
class TCommands;
class TFormCropping;

class TCaptureCommands : public QObject, public ITranslatable {
  Q_OBJECT
 public:
  // Adds files to the recording list as the open dialog does.
  using TOpenFiles = std::function<void(const QStringList &paths)>;
  // Asks where to save a picture and saves it; the saved path or empty.
  // The default shows the save dialog (SaveCaptureAs); tests replace it.
  using TSaveAs =
      std::function<QString(QWidget *parent, const QImage &picture, const QString &folder,
                            const QString &suggested, const char *titleKey)>;
  // Shows a message (the default: a message box that does not block).
  using TNotify = std::function<void(const QString &text)>;

  TCaptureCommands(QWidget *window, TCommands &commands, IPlayerAccess *player,
                   TOpenFiles openFiles);

  void Translate() override;
  void SetSaveAs(TSaveAs saveAs) { saveAs_ = std::move(saveAs); }
  void SetNotify(TNotify notify) { notify_ = std::move(notify); }
  TFormCropping *Cropping() const { return cropping_; }

  // The commands (bound as N_File_Save_Video, N_Playback_Save_Frame and
  // N_Playback_Save_Wind).
  void SaveFragment();
  // The saved file's path when the picture came at once; empty when none
  // was saved or the renderer hands the picture over later.
  QString SaveFrame();
  QString SaveWindow();

  // The suggested name of a capture taken at trip position `position`.
  static QString SuggestedName(const char *prefix, const IPlayerAccess &player,
                               long double position);

 signals:
  void FragmentAdded(const QString &path);

 private:
  QString SavePicture(const QImage &picture, const char *prefix, long double position,
                      const char *titleKey);
  void OnFragmentSaved(const QString &path);
  QString SaveSnapshot(QImage picture, long double position);

  QWidget *window_;
  TCommands &commands_;
  IPlayerAccess *player_;
  TOpenFiles openFiles_;
  TSaveAs saveAs_;
  TNotify notify_;
  TFormCropping *cropping_ = nullptr;
  QString folder_;                // where the last picture went
  bool snapshotPending_ = false;  // a frame capture waits for its picture
  // The user was told that a frame is saved as the screen shows it (once a
  // run: the window has one controller).
  bool screenSizeWarned_ = false;
};

}  // namespace tachora
