// Keeps the screen awake while a recording plays: the desktop's
// org.freedesktop.ScreenSaver Inhibit while playing, UnInhibit when paused
// or stopped. The user's own screen-saver settings are never changed.
// Calls are asynchronous; without a session bus, or without the service on
// it, nothing happens and nothing is reported. UI thread only.
#pragma once

#include <QDBusConnection>
#include <QObject>

namespace tachora {

class TPowerManagement : public QObject {
  Q_OBJECT
 public:
  explicit TPowerManagement(QObject *parent = nullptr);
  // Tests pass a private bus.
  TPowerManagement(const QDBusConnection &bus, QObject *parent);
  ~TPowerManagement() override;

  void SetPlaying(bool playing);
  bool Playing() const { return m_want; }
  // The desktop granted the inhibition (its cookie is held).
  bool Inhibited() const { return m_held; }

 signals:
  void InhibitionChanged(bool inhibited);

 private:
  void Update();
  void Release();

  QDBusConnection m_bus;
  bool m_want = false;
  bool m_pending = false;  // an Inhibit call awaits its answer
  bool m_held = false;     // the desktop gave us m_cookie
  uint m_cookie = 0;
};

}  // namespace tachora
