#include "playback/UnitPowerManagement.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace tachora {

namespace {

const char *const kService = "org.freedesktop.ScreenSaver";
const char *const kPath = "/org/freedesktop/ScreenSaver";
const char *const kInterface = "org.freedesktop.ScreenSaver";

}  // namespace

TPowerManagement::TPowerManagement(QObject *parent)
    : TPowerManagement(QDBusConnection::sessionBus(), parent) {}

TPowerManagement::TPowerManagement(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_bus(bus) {}

TPowerManagement::~TPowerManagement() {
  m_want = false;
  Release();
}

void TPowerManagement::SetPlaying(bool playing) {
  m_want = playing;
  Update();
}

void TPowerManagement::Update() {
  if (!m_bus.isConnected()) return;
  if (!m_want) {
    Release();
    return;
  }
  if (m_held || m_pending) return;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Inhibit");
  call << QCoreApplication::applicationName() << QStringLiteral("Playing a recording");
  m_pending = true;
  auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
    w->deleteLater();
    m_pending = false;
    const QDBusPendingReply<uint> reply = *w;
    if (reply.isError()) return;  // no screen saver service: nothing to do
    m_cookie = reply.value();
    m_held = true;
    emit InhibitionChanged(true);
    // Paused or stopped while the answer was on its way.
    if (!m_want) Release();
  });
}

void TPowerManagement::Release() {
  if (!m_held || !m_bus.isConnected()) return;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "UnInhibit");
  call << m_cookie;
  m_held = false;
  m_bus.asyncCall(call);
  emit InhibitionChanged(false);
}

}  // namespace tachora
