// The browser that shows the map page. On X11 it is Qt WebEngine's Quick
// view in a window of its own, embedded in the map panel: a browser view
// among the main window's widgets makes Qt compose that whole window through
// OpenGL (in software on most machines) at every repaint of any widget, the
// graphs' and instruments' ten times a second while playing. In its own
// window only the map's pixels are composed, and only when the map changes.
// Elsewhere (the offscreen platform of the tests) it is the widget view.
//
// Both hand the page's callback navigations to the program (cancelled) and
// its script errors to the log, and run scripts with a result.
//
// UI thread only; the browser belongs to the panel it is made in.
#pragma once

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QPolygonF>
#include <QQuickItem>
#include <QUrl>
#include <QVariant>
#include <functional>
#include <map>

class QQuickWindow;
class QQmlEngine;
class QWebEngineView;

namespace tachora {

class TMapPage;

class TMapBrowser : public QObject {
  Q_OBJECT
 public:
  // Makes the browser in `panel` (which gets a layout holding it).
  explicit TMapBrowser(QWidget *panel);
  ~TMapBrowser() override;

  // The page gets a window of its own here (X11; TACHORA_MAP_WIDGET set
  // keeps the widget view).
  static bool UsesWindow();

  void SetUrl(const QUrl &url);
  // Runs `script` in the page; `done` gets its result (an invalid variant
  // when the page could not run it), unless the browser is gone by then.
  void RunJavaScript(const QString &script, std::function<void(const QVariant &)> done);
  // What sits in the panel (the view, or its window's container).
  QWidget *Widget() const { return widget_; }
  // Where the page's mouse wheel events arrive (the widget view's render
  // widget appears with the first page; null until then).
  QObject *WheelTarget() const;
  // The page as shown.
  QImage Grab() const;
  // The keyboard is in the browser (the widget view only: the window never
  // takes the keys).
  bool HasFocus() const;
  bool InWindow() const { return window_ != nullptr; }

  // The vehicle arrow drawn over the page, in the page's pixels (the Quick
  // view only). Moving it there costs a picture of the window's scene,
  // where a marker moved in the page costs the browser a new picture of
  // the map: most of the map's CPU while a trip plays.
  bool DrawsVehicle() const { return window_ != nullptr; }
  void ShowVehicle(const QPolygonF &pixels);
  void HideVehicle();
  // The arrow as shown; empty when hidden.
  QPolygonF Vehicle() const;

  // Called by the page's view (the Quick one through its QML).
  Q_INVOKABLE bool Navigate(const QString &url);
  Q_INVOKABLE void Console(int level, const QString &message, int line, const QString &source);
  Q_INVOKABLE void Result(int id, const QVariant &result);
  Q_INVOKABLE void Menu(double x, double y);
  Q_INVOKABLE void Loaded(bool ok);

 signals:
  // A navigation to the callback prefix: command and its query.
  void Callback(const QString &command, const QString &query);
  void LoadFinished(bool ok);
  // The context menu asked for, at a global position.
  void ContextMenuRequested(const QPoint &global);

 private:
  QWidget *widget_ = nullptr;
  // The widget view.
  QWebEngineView *view_ = nullptr;
  TMapPage *page_ = nullptr;
  // The Quick view: its window, engine and page item.
  QQuickWindow *window_ = nullptr;
  QQmlEngine *engine_ = nullptr;
  QPointer<QQuickItem> item_;
  std::map<int, std::function<void(const QVariant &)>> pending_;
  QPointer<QQuickItem> vehicle_;
  int nextId_ = 1;
};

}  // namespace tachora
