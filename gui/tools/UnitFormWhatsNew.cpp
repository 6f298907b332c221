#include "tools/UnitFormWhatsNew.h"

#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <QVBoxLayout>

#include "app/UnitLang.h"
#include "app/UnitResources.h"
#include "tools/UnitFormAbout.h"

namespace tachora {

QString WhatsNewText() {
  InitResources();
  QFile f(":/WhatsNew.txt");
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readAll());
}

TFormWhatsNew::TFormWhatsNew() : QWidget(nullptr, Qt::Window) {
  setObjectName("FormWhatsNew");
  resize(700, 500);
  auto *lay = new QVBoxLayout(this);
  lay->setContentsMargins(0, 0, 0, 0);
  Memo = new QPlainTextEdit(this);
  Memo->setObjectName("Memo");
  Memo->setReadOnly(true);
  Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  f.setPointSize(10);
  Memo->setFont(f);
  lay->addWidget(Memo);
  QString log = WhatsNewText();
  log.replace("\r\n", "\n");
  Memo->setPlainText("Tachora\n\n" + log);
  if (QScreen *s = QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - rect().center());
}

void TFormWhatsNew::Translate() {
  QString version = ShortVersionText();
  if (version.startsWith('v')) version.remove(0, 1);
  setWindowTitle(QString::fromStdString(LangText("N_Help_WhatsNew")) + " - Tachora " + version);
}

}  // namespace tachora
