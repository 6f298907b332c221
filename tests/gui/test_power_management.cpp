// Keeping the screen awake through org.freedesktop.ScreenSaver, against a
// screen saver served on a private bus, and silently without one.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QTest>

#include "playback/UnitPowerManagement.h"

namespace tachora {
namespace {

class TFakeScreenSaver : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
 public:
  QList<uint> held;
  int inhibits = 0, releases = 0;
  uint next = 41;

 public slots:
  uint Inhibit(const QString &, const QString &) {
    ++inhibits;
    held.append(++next);
    return next;
  }
  void UnInhibit(uint cookie) {
    ++releases;
    held.removeAll(cookie);
  }
};

struct PrivateBus : ::testing::Test {
  QProcess daemon;
  QString address;
  void SetUp() override {
    daemon.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"});
    if (!daemon.waitForStarted(5000) || !daemon.waitForReadyRead(5000))
      GTEST_SKIP() << "dbus-daemon did not start";
    address = QString::fromUtf8(daemon.readLine()).trimmed();
  }
  void TearDown() override {
    QDBusConnection::disconnectFromBus("saver");
    QDBusConnection::disconnectFromBus("player");
    daemon.kill();
    daemon.waitForFinished(5000);
  }
};

TEST_F(PrivateBus, InhibitWhilePlayingReleaseWhenPausedOrStopped) {
  QDBusConnection service = QDBusConnection::connectToBus(address, "saver");
  ASSERT_TRUE(service.isConnected());
  TFakeScreenSaver saver;
  ASSERT_TRUE(service.registerObject("/org/freedesktop/ScreenSaver", &saver,
                                     QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(service.registerService("org.freedesktop.ScreenSaver"));

  TPowerManagement power(QDBusConnection::connectToBus(address, "player"), nullptr);
  power.SetPlaying(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return power.Inhibited(); }, 5000));
  EXPECT_EQ(saver.held.size(), 1);
  power.SetPlaying(true);  // already held: no second inhibition
  power.SetPlaying(false);
  ASSERT_TRUE(QTest::qWaitFor([&] { return saver.releases == 1; }, 5000));
  EXPECT_TRUE(saver.held.isEmpty());
  EXPECT_EQ(saver.inhibits, 1);

  // Paused before the answer came: the inhibition is given back at once.
  power.SetPlaying(true);
  power.SetPlaying(false);
  ASSERT_TRUE(QTest::qWaitFor([&] { return saver.releases == 2; }, 5000));
  EXPECT_TRUE(saver.held.isEmpty());
  EXPECT_FALSE(power.Inhibited());
}

TEST_F(PrivateBus, NoScreenSaverServiceOrNoBusIsSilent) {
  TPowerManagement power(QDBusConnection::connectToBus(address, "player"), nullptr);
  power.SetPlaying(true);
  QTest::qWait(300);
  EXPECT_FALSE(power.Inhibited());
  power.SetPlaying(false);

  TPowerManagement nobus(QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "none"),
                         nullptr);
  nobus.SetPlaying(true);
  nobus.SetPlaying(false);
  EXPECT_FALSE(nobus.Inhibited());
  QDBusConnection::disconnectFromBus("none");
}

}  // namespace
}  // namespace tachora

#include "test_power_management.moc"
