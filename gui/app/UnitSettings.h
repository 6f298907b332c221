// The program's settings, one typed entry each: name, kind and default in
// one table, so no call site repeats a default. Kinds and the store are
// UnitReg's (integers and booleans as text, floating point with three
// decimals and "."); every entry reads the default when the value is
// missing or unreadable.
//
// Set() deletes a value equal to the entry's default, so the store holds
// only what the user changed; Write() always stores (values whose default
// is worked out at run time, such as the start-up geometry, which may differ
// at the next start). Entries whose default depends on something known only
// at run time take it in Get(def).
//
// UI thread only (the store is).
#pragma once

#include <QString>

namespace tachora {

template <class T>
class TSetting {
 public:
  TSetting(QString name, T def) : name_(std::move(name)), default_(std::move(def)) {}

  const QString &Name() const { return name_; }
  const T &Default() const { return default_; }
  T Get() const { return Get(default_); }
  T Get(const T &def) const;
  // Stores the value, or deletes it when it equals the default.
  void Set(const T &value) const;
  // Stores the value even when it equals the default.
  void Write(const T &value) const;
  bool Stored() const;
  void Reset() const;

 private:
  QString name_;
  T default_;
};

extern template class TSetting<int>;
extern template class TSetting<bool>;
extern template class TSetting<double>;
extern template class TSetting<QString>;

namespace settings {

// Main window rectangle (its normal geometry) and state (0 normal, 2
// maximized). Default: the start-up geometry, worked out at run time.
extern const TSetting<int> kPosLeft, kPosTop, kPosWidth, kPosHeight;
extern const TSetting<int> kPosState;
// Right panel width and bottom panel height (pixels), the map's share of
// the right side.
extern const TSetting<int> kPanelRight, kPanelBottom;
extern const TSetting<double> kPanelBrowser;
// Volume bar 0..100.
extern const TSetting<int> kVolume;
// The other camera's inset picture: its corner (0 top left, 1 top right,
// 2 bottom left, 3 bottom right) and its width in per cent of the main
// picture's (20..50). The layout itself is the Cameras menu's check mark.
extern const TSetting<int> kInsetCorner, kInsetSize;
// Catalogue sort column and direction (true ascending).
extern const TSetting<int> kColSort;
extern const TSetting<bool> kColSortAscending;
// Width of list column n in design order; column shown at display position n.
TSetting<int> ColumnWidth(int n, int designWidth);
TSetting<int> ColumnAt(int n);
// Check mark of a main-menu item; default its design state.
TSetting<bool> MenuCheck(const QString &item, bool designState);
// Last target folder of the copy window; empty: the user's home folder
// (there are no drive letters here).
extern const TSetting<QString> kCopyFolder;
// "Verify copies" of the copy window: read every copy back and compare.
extern const TSetting<bool> kCopyVerify;
// "Export Video": the layout ("pip", "side", "main") and the items drawn
// into the picture (a comma list of time, speed, position, gsensor).
extern const TSetting<QString> kExportLayout;
extern const TSetting<QString> kExportOverlay;
// The map page's centre, zoom and map type.
extern const TSetting<QString> kMapX, kMapY, kMapZoom, kMapType;
// The update server, "host" or "host:port" (port 80 when none is given).
// Empty (the default until the product has a server of its own): no check
// is made, so the program never asks a host nobody chose.
extern const TSetting<QString> kUpdateServer;
// The converter window's "Show track on map".
extern const TSetting<bool> kGpsLogShowTrack;
// Where the map's tiles come from: empty for OpenStreetMap, an http(s) URL
// template with {z}, {x} and {y}, a folder of {z}/{x}/{y}.png tiles or an
// .mbtiles file.
extern const TSetting<QString> kMapTiles;

}  // namespace settings

}  // namespace tachora
