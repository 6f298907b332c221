// The folder selection window: a tree of the file system's folders, an edit
// box with the path and the buttons "Show", "Ok", "Cancel" and "Add Folder".
// The caller sets the title and the starting path, shows it with open()
// (window-modal, no event loop of its own) and reads Path() when it is
// accepted. "Add Folder" asks for a name in a window-modal input box and
// creates the folder with all missing parents. UI thread only.
#pragma once

#include <QDialog>
#include <QString>

class QFileSystemModel;
class QLineEdit;
class QPushButton;
class QTreeView;

namespace tachora {

// The nearest existing folder at or above `path` (empty when none: a
// relative path that leads nowhere).
QString NearestExistingFolder(const QString &path);

// The folder first offered for copies: the stored one, else the user's
// Videos folder, else home.
QString DefaultCopyFolder();

class TFormSelectFolder : public QDialog {
  Q_OBJECT
 public:
  explicit TFormSelectFolder(QWidget *parent = nullptr);

  void SetPath(const QString &path);
  // The edit box's folder, cleaned, a leading "~" being the home folder.
  QString Path() const;
  // Only an absolute path is a choice (Ok is enabled for it).
  bool PathUsable() const;
  // Selects the nearest existing folder of the edit box's path in the tree.
  void ShowPath();
  // Creates `name` under the edit box's folder, selects it; false with
  // `error` set when it cannot be made.
  bool AddFolder(const QString &name, QString *error = nullptr);
  void Translate();

  void accept() override;

  QTreeView *TreeView = nullptr;
  QLineEdit *EditPath = nullptr;
  QPushButton *ButtonShow = nullptr, *ButtonOk = nullptr, *ButtonCancel = nullptr,
              *ButtonAddFolder = nullptr;

 protected:
  void showEvent(QShowEvent *event) override;

 private:
  void OnCurrentChanged();
  void AskNewFolder();

  QFileSystemModel *model_ = nullptr;
  bool selecting_ = false;  // the tree is following the edit box
};

}  // namespace tachora
