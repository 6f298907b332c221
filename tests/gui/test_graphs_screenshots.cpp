// Pictures of the graphs and the details window in the main window, for a
// person to look at: runs only when TACHORA_SCREENSHOT_DIR names a folder
// (the demo card is made, or taken from TACHORA_DEMO_CARD), e.g. under
// xvfb-run with TACHORA_TEST_DISPLAY=1.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QSplitter>
#include <QTest>

#include "app/UnitFormMain.h"
#include "app/UnitLang.h"
#include "app/UnitMainMenu.h"
#include "app/UnitReg.h"
#include "catalogue/UnitCatalogueTrip.h"
#include "catalogue/UnitFileManager.h"
#include "gui_test_helpers.h"
#include "telemetry/UnitTelemetryController.h"

using namespace tachora;

namespace {
void Save(QWidget *w, const QString &name) {
  QTest::qWait(150);
  w->grab().save(qEnvironmentVariable("TACHORA_SCREENSHOT_DIR") + "/" + name + ".png");
}
}  // namespace

TEST(GraphScreenshots, GraphsAndDetailsInBothLanguages) {
  if (qEnvironmentVariableIsEmpty("TACHORA_SCREENSHOT_DIR"))
    GTEST_SKIP() << "TACHORA_SCREENSHOT_DIR not set";
  QString card = qEnvironmentVariable("TACHORA_DEMO_CARD");
  if (card.isEmpty()) card = test::DemoCard();
  ASSERT_FALSE(card.isEmpty());
  DeleteAllSettings();
  TFormMain::AutoFirstShow = false;
  for (int lang = 0; lang < 2; ++lang) {
    InitLanguages(lang == 0 ? 1033 : 1049);
    TFormMain form;
    form.resize(1280, 800);
    form.move(0, 0);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    ASSERT_TRUE(test::Open(form, {card}));
    TFileManager *fm = form.List()->FileManager();
    ASSERT_TRUE(fm && fm->RowCount() > 0);
    // The longest trip of the card.
    TFileItem row = fm->GetItem(0);
    for (int i = 1; i < fm->RowCount(); ++i)
      if (fm->GetItem(i).Items.size() > row.Items.size()) row = fm->GetItem(i);
    auto trip = std::make_shared<TRowTelemetry>(LoadRowTelemetry(*fm, row));
    TTelemetryController *t = form.Telemetry();
    if (auto *split = form.findChild<QSplitter *>("SplitterBottom")) split->setSizes({300, 420});
    form.Menu()->Item("N_View_Graphics_Show")->trigger();
    t->LoadTrip(trip);
    t->DrawCursors(0.3L);
    const QString suffix = lang == 0 ? "_en" : "_ru";
    Save(&form, "graphs_main" + suffix);

    TMyGraphic *speed = t->Graphics().at(0);
    const int x = speed->Margin() + (speed->Width() - 2 * speed->Margin()) * 45 / 100;
    const QPoint global = speed->Image()->mapToGlobal(QPoint(x, 20));
    t->ShowDetailsAt(TGraphKind::Speed, x, speed->Width(), speed->PositionAt(x), global);
    ASSERT_TRUE(t->Details()->Shown());
    Save(t->Details(), "details_speed" + suffix);
    TMyGraphic *gx = t->Graphics().at(3);
    t->ShowDetailsAt(TGraphKind::GsensorX, x, gx->Width(), gx->PositionAt(x), global);
    Save(t->Details(), "details_x" + suffix);
    t->ShowDetailsAt(std::nullopt, x, speed->Width(), speed->PositionAt(x), global);
    Save(t->Details(), "details_none" + suffix);
    t->HideDetails();
    form.close();
  }
  InitLanguages(1033);
  DeleteAllSettings();
}
