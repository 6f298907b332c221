#include "playback/UnitVideoZoomDialog.h"

#include <QDialogButtonBox>
#include <QInputDialog>
#include <QPushButton>

#include "app/UnitLang.h"
#include "playback/UnitVideoZoom.h"

namespace tachora {

namespace {

// The dialog with its OK button enabled only for a valid percentage.
void SetUp(QInputDialog &dialog, double factor) {
  auto lang = [](const char *key) { return QString::fromStdString(LangText(key)); };
  dialog.setWindowTitle(lang("Mes_CustomZoomTitle"));
  dialog.setLabelText(lang("Mes_CustomZoomText") + ":");
  dialog.setInputMode(QInputDialog::TextInput);
  dialog.setTextValue(QString::fromStdString(ZoomPercentText(factor)));
  // A text that is no percentage cannot be confirmed, rather than quietly
  // zooming to some other size.
  auto check = [&dialog](const QString &text) {
    auto *box = dialog.findChild<QDialogButtonBox *>();
    QPushButton *ok = box ? box->button(QDialogButtonBox::Ok) : nullptr;
    if (ok) ok->setEnabled(ParseZoomPercent(text.toStdString()).has_value());
  };
  QObject::connect(&dialog, &QInputDialog::textValueChanged, &dialog, check);
  dialog.setWindowModality(Qt::ApplicationModal);
  dialog.show();  // creates the buttons
  check(dialog.textValue());
}

}  // namespace

std::optional<double> AskZoomPercent(QWidget *parent, double factor) {
  QInputDialog dialog(parent);
  SetUp(dialog, factor);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return ParseZoomPercent(dialog.textValue().toStdString());
}

QDialog *AskZoomPercentLater(QWidget *parent, double factor,
                             std::function<void(double percent)> done) {
  auto *dialog = new QInputDialog(parent);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  QObject::connect(dialog, &QDialog::accepted, dialog, [dialog, done = std::move(done)]() {
    if (const auto percent = ParseZoomPercent(dialog->textValue().toStdString())) done(*percent);
  });
  SetUp(*dialog, factor);
  return dialog;
}

}  // namespace tachora
