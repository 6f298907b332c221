#include "map/UnitMapBrowser.h"

#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickPaintedItem>
#include <QQuickWebEngineProfile>
#include <QQuickWindow>
#include <QVBoxLayout>
#include <QWebEngineView>
#include <QWidget>
#include <cmath>

#include "map/UnitMapPage.h"
#include "map/UnitMapScript.h"

namespace tachora {

namespace {

// The vehicle arrow over the page: filled green, outlined in black, as the
// page draws its own markers. Only a new shape is painted again; a move is
// a new position in the scene.
class TVehicleItem : public QQuickPaintedItem {
 public:
  explicit TVehicleItem(QQuickItem *parent) : QQuickPaintedItem(parent) {
    setAntialiasing(true);
    setZ(1);
  }
  // The arrow in the parent's pixels.
  void SetShape(const QPolygonF &pixels) {
    const QRectF bounds = pixels.boundingRect().adjusted(-kPad, -kPad, kPad, kPad);
    const QPointF origin(std::floor(bounds.left()), std::floor(bounds.top()));
    const QPolygonF shape = pixels.translated(-origin);
    setPosition(origin);
    setSize(
        QSizeF(std::ceil(bounds.right()) - origin.x(), std::ceil(bounds.bottom()) - origin.y()));
    if (shape != shape_) {
      shape_ = shape;
      update();
    }
    setVisible(true);
  }
  QPolygonF Shape() const { return isVisible() ? shape_.translated(position()) : QPolygonF(); }
  void paint(QPainter *p) override {
    p->setRenderHint(QPainter::Antialiasing);
    QPen pen(Qt::black, 2);
    pen.setJoinStyle(Qt::RoundJoin);
    p->setPen(pen);
    p->setBrush(QColor(0, 255, 0, 217));
    p->drawPolygon(shape_);
  }

 private:
  static constexpr qreal kPad = 2;
  QPolygonF shape_;
};

// The Quick view's page: every event goes to the browser object ("bridge").
constexpr char kQuickPage[] = R"(
import QtQuick
import QtWebEngine

WebEngineView {
    id: view
    anchors.fill: parent
    profile: mapProfile
    function run(id, script) {
        view.runJavaScript(script, function(result) { bridge.Result(id, result) })
    }
    onNavigationRequested: function(request) {
        if (bridge.Navigate(request.url.toString())) request.reject()
    }
    onJavaScriptConsoleMessage: function(level, message, line, source) {
        bridge.Console(level, message, line, source)
    }
    onContextMenuRequested: function(request) {
        request.accepted = true
        bridge.Menu(request.position.x, request.position.y)
    }
    onLoadingChanged: function(info) {
        if (info.status === WebEngineView.LoadSucceededStatus) bridge.Loaded(true)
        else if (info.status === WebEngineView.LoadFailedStatus) bridge.Loaded(false)
    }
}
)";

}  // namespace

bool TMapBrowser::UsesWindow() {
  // The Quick view needs Qt WebEngine's QML modules; a system without them
  // keeps the widget view (decided once, before the window is made).
  static const bool modules = [] {
    const QString imports = QLibraryInfo::path(QLibraryInfo::QmlImportsPath);
    return QFileInfo::exists(imports + "/QtWebEngine/qmldir") &&
           QFileInfo::exists(imports + "/QtQml/WorkerScript/qmldir");
  }();
  return modules && QGuiApplication::platformName() == QLatin1String("xcb") &&
         !qEnvironmentVariableIsSet("TACHORA_MAP_WIDGET");
}

TMapBrowser::TMapBrowser(QWidget *panel) : QObject(panel) {
  auto *box = new QVBoxLayout(panel);
  box->setContentsMargins(0, 0, 0, 0);
  if (UsesWindow()) {
    engine_ = new QQmlEngine(this);
    engine_->rootContext()->setContextProperty(QStringLiteral("bridge"), this);
    engine_->rootContext()->setContextProperty(QStringLiteral("mapProfile"), QuickMapProfile());
    QQmlComponent component(engine_);
    component.setData(kQuickPage, QUrl(QStringLiteral("qrc:/map/MapView.qml")));
    item_ = qobject_cast<QQuickItem *>(component.create());
    if (item_) {
      window_ = new QQuickWindow;
      window_->setFlag(Qt::WindowDoesNotAcceptFocus);
      window_->setColor(Qt::white);
      item_->setParent(window_);
      item_->setParentItem(window_->contentItem());
      widget_ = QWidget::createWindowContainer(window_, panel);
      widget_->setFocusPolicy(Qt::NoFocus);
    } else {
      qWarning("map page: %s", qPrintable(component.errorString()));
    }
  }
  if (!widget_) {
    view_ = new QWebEngineView(panel);
    page_ = new TMapPage(view_);
    view_->setPage(page_);
    connect(page_, &TMapPage::Callback, this, &TMapBrowser::Callback);
    connect(view_, &QWebEngineView::loadFinished, this, &TMapBrowser::LoadFinished);
    view_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { emit ContextMenuRequested(view_->mapToGlobal(at)); });
    widget_ = view_;
  }
  widget_->setObjectName(QStringLiteral("MapView"));
  box->addWidget(widget_);
}

TMapBrowser::~TMapBrowser() {
  // The page goes before its engine; the container deletes the window.
  delete item_.data();
}

void TMapBrowser::SetUrl(const QUrl &url) {
  if (page_) page_->setUrl(url);
  if (item_) item_->setProperty("url", url);
}

void TMapBrowser::RunJavaScript(const QString &script, std::function<void(const QVariant &)> done) {
  if (page_) {
    QPointer<TMapBrowser> self(this);
    page_->runJavaScript(script, [self, done](const QVariant &result) {
      if (self && done) done(result);
    });
    return;
  }
  if (!item_) return;
  const int id = nextId_++;
  if (done) pending_[id] = std::move(done);
  QMetaObject::invokeMethod(item_, "run", Q_ARG(QVariant, id), Q_ARG(QVariant, script));
}

void TMapBrowser::Result(int id, const QVariant &result) {
  const auto it = pending_.find(id);
  if (it == pending_.end()) return;
  auto done = std::move(it->second);
  pending_.erase(it);
  done(result);
}

void TMapBrowser::ShowVehicle(const QPolygonF &pixels) {
  if (!window_) return;
  if (!vehicle_) vehicle_ = new TVehicleItem(window_->contentItem());
  static_cast<TVehicleItem *>(vehicle_.data())->SetShape(pixels);
}

void TMapBrowser::HideVehicle() {
  if (vehicle_) vehicle_->setVisible(false);
}

QPolygonF TMapBrowser::Vehicle() const {
  return vehicle_ ? static_cast<TVehicleItem *>(vehicle_.data())->Shape() : QPolygonF();
}

QObject *TMapBrowser::WheelTarget() const {
  if (window_) return window_;
  return view_ ? view_->focusProxy() : nullptr;
}

QImage TMapBrowser::Grab() const {
  if (window_) return window_->grabWindow();
  return view_ ? view_->grab().toImage() : QImage();
}

bool TMapBrowser::HasFocus() const {
  const QWidget *focus = QApplication::focusWidget();
  return view_ && focus && (focus == view_ || view_->isAncestorOf(focus));
}

bool TMapBrowser::Navigate(const QString &url) {
  const TMapCallback cb = ParseMapCallback(QUrl(url).toString(QUrl::FullyEncoded));
  if (!cb.Ours) return false;
  emit Callback(cb.Command, cb.Query);
  return true;
}

void TMapBrowser::Console(int level, const QString &message, int line, const QString &source) {
  // The Quick view's levels: 0 information, 1 warning, 2 error.
  if (level == 2) qWarning("map page: %s (%s:%d)", qPrintable(message), qPrintable(source), line);
}

void TMapBrowser::Menu(double x, double y) {
  if (window_) emit ContextMenuRequested(window_->mapToGlobal(QPoint(qRound(x), qRound(y))));
}

void TMapBrowser::Loaded(bool ok) {
  emit LoadFinished(ok);
}

}  // namespace tachora
