// The main window's control tree: video on the left with the zoom bar, the
// seek bar and the graphs under it; on the right the recording list over the
// map, and the control panel with its buttons and instrument pictures.
//
// The splitters store their positions ("panel_Right", "panel_Bottom",
// "panel_Browser") once the user has stopped moving them (a short timer
// coalesces a drag into one write); the view switches (list, map,
// control panel) collapse the right side when nothing is left on it.
// Video, seek bar, graphs, map and instruments are the places the player and
// the map fill; until then they are empty panels and their buttons stay
// disabled. Each subsystem's controller receives only its own panel (the
// structs below). Sizes are pixels. UI thread only; widgets owned by the
// window.
#pragma once

#include <QList>
#include <QObject>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QFrame;
class QLabel;
class QMainWindow;
class QScrollBar;
class QSlider;
class QSplitter;
class QTableView;
class QTimer;
class QToolButton;
class QWidget;

namespace tachora {

// The picture glyphs of the control panel's buttons, drawn by the program.
enum class TGlyph {
  FramePrev,
  FrameNext,
  ZoomIn,
  ZoomOut,
  Play,
  Pause,
  Stop,
  TimeZoomIn,
  TimeZoomOut
};

// The recording list.
struct TListPanel {
  QTableView *ListView = nullptr;
};

// The player's places: the video, the seek panel under it (time-line zoom
// bar and seek bar) and the control panel's buttons, speed and volume.
struct TPlaybackPanel {
  QFrame *PanelVideo = nullptr;
  QWidget *VideoWindow = nullptr;
  QWidget *PanelZoomScroll = nullptr;
  QToolButton *ButtonZoomOut = nullptr;
  QScrollBar *ScrollBarZoom = nullptr;
  QToolButton *ButtonZoomIn = nullptr;
  QLabel *ImageSeek = nullptr;
  QWidget *PanelControl = nullptr;
  QToolButton *ButtonFramePrev = nullptr;
  QToolButton *ButtonVideoZoomOut = nullptr;
  QToolButton *ButtonVideoZoomIn = nullptr;
  QToolButton *ButtonFrameNext = nullptr;
  QToolButton *ButtonPlay = nullptr;
  QToolButton *ButtonStop = nullptr;
  QWidget *PanelPlaySpeed = nullptr;
  QButtonGroup *PlaySpeedGroup = nullptr;
  QList<QToolButton *> PlaySpeedButtons;
  QSlider *TrackBarVolume = nullptr;
  QCheckBox *CheckBoxLoop = nullptr;
};

// The map page and the three instrument pictures of the control panel.
struct TMapPanel {
  QFrame *WebBrowser = nullptr;
  QLabel *ImageSpeed = nullptr;
  QLabel *ImageAzimut = nullptr;
  QLabel *ImageGSensor = nullptr;
};

// The graphs under the video.
struct TGraphsPanel {
  QWidget *PanelBottomGraphics = nullptr;
};

class TMainLayout : public QObject {
  Q_OBJECT
 public:
  explicit TMainLayout(QMainWindow *window);

  // Restores the panel sizes from the settings (start-up step 11).
  void RestorePanels();
  // Runs the resize layout (control panel pictures, map share).
  void Layout();
  // Shows exactly the parts whose view items are checked.
  void ApplyView(bool list, bool map, bool control);
  // Writes "panel_Right", "panel_Bottom" and "panel_Browser" now; SaveSoon
  // once the user has stopped moving (a drag is one write); FlushSave writes
  // what is still waiting (the window closes).
  void SavePanels();
  void SaveSoon();
  void FlushSave();

  TListPanel ListPanel() const;
  TPlaybackPanel PlaybackPanel() const;
  TMapPanel MapPanel() const;
  TGraphsPanel GraphsPanel() const;

  double MapShare() const { return mapShare_; }
  int RightWidth() const;
  int BottomHeight() const;
  // Gives the bottom panel (seek bar and graphs) `height` pixels, as far as
  // the window allows, and stores it.
  void SetBottomHeight(int height);

  // Controls, named as the window names them.
  QWidget *PanelLeft = nullptr;
  QFrame *PanelVideo = nullptr;
  QWidget *VideoWindow = nullptr;  // black surface the player will draw on
  QSplitter *SplitterBottom = nullptr;
  QWidget *PanelBottom = nullptr;
  QWidget *PanelZoomScroll = nullptr;
  QToolButton *ButtonZoomOut = nullptr;
  QScrollBar *ScrollBarZoom = nullptr;
  QToolButton *ButtonZoomIn = nullptr;
  QWidget *PanelBottomGraphics = nullptr;
  QLabel *ImageSeek = nullptr;
  QSplitter *SplitterRight = nullptr;
  QWidget *PanelRight = nullptr;
  QSplitter *PanelRight2 = nullptr;  // list over map; its handle is SplitterListView
  QTableView *ListView = nullptr;
  QFrame *WebBrowser = nullptr;
  QWidget *PanelControl = nullptr;
  QToolButton *ButtonFramePrev = nullptr;
  QToolButton *ButtonVideoZoomOut = nullptr;
  QToolButton *ButtonVideoZoomIn = nullptr;
  QToolButton *ButtonFrameNext = nullptr;
  QToolButton *ButtonPlay = nullptr;
  QToolButton *ButtonStop = nullptr;
  QWidget *PanelPlaySpeed = nullptr;
  QButtonGroup *PlaySpeedGroup = nullptr;
  QList<QToolButton *> PlaySpeedButtons;
  QSlider *TrackBarVolume = nullptr;
  QCheckBox *CheckBoxLoop = nullptr;
  QLabel *ImageSpeed = nullptr;
  QLabel *ImageAzimut = nullptr;
  QLabel *ImageGSensor = nullptr;

  static constexpr int kRightWidth = 345;
  static constexpr int kBottomHeight = 180;
  static constexpr int kControlHeight = 132;
  static constexpr int kSplitter = 7;
  // Quiet time after the last move before sizes are written.
  static constexpr int kSaveDelayMs = 250;

 signals:
  // A splitter was moved by the user (the window saves and lays out).
  void SplittersMoved();

 private:
  void BuildLeft();
  void BuildRight();
  void BuildControlPanel();
  void OnSplitterMoved(QSplitter *splitter);
  bool eventFilter(QObject *watched, QEvent *event) override;

  QMainWindow *window_;
  QTimer *saveTimer_ = nullptr;
  double mapShare_ = 0.5;
  // What the view switches show (widgets report hidden until the window is).
  bool listShown_ = true, mapShown_ = true, rightShown_ = true;
  bool applying_ = false;
};

QIcon GlyphIcon(TGlyph glyph, int size);

}  // namespace tachora
