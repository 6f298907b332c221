#include "app/UnitSettings.h"

#include <cmath>

#include "app/UnitMainLayout.h"
#include "app/UnitReg.h"

namespace tachora {

namespace {

int Read(const QString &name, int def) {
  return ReadIntSetting(name, def);
}
bool Read(const QString &name, bool def) {
  return ReadBoolSetting(name, def);
}
double Read(const QString &name, double def) {
  return ReadFloatSetting(name, def);
}
QString Read(const QString &name, const QString &def) {
  return ReadSetting(name, def);
}

void Store(const QString &name, int v) {
  WriteIntSetting(name, v);
}
void Store(const QString &name, bool v) {
  WriteBoolSetting(name, v);
}
void Store(const QString &name, double v) {
  WriteFloatSetting(name, v);
}
void Store(const QString &name, const QString &v) {
  WriteSetting(name, v);
}

template <class T>
bool Same(const T &a, const T &b) {
  return a == b;
}
// Floating point is stored with three decimals: equal at that precision.
template <>
bool Same(const double &a, const double &b) {
  return std::llround(a * 1000) == std::llround(b * 1000);
}

}  // namespace

template <class T>
T TSetting<T>::Get(const T &def) const {
  return Read(name_, def);
}

template <class T>
void TSetting<T>::Set(const T &value) const {
  if (Same(value, default_))
    DeleteSetting(name_);
  else
    Store(name_, value);
}

template <class T>
void TSetting<T>::Write(const T &value) const {
  Store(name_, value);
}

template <class T>
bool TSetting<T>::Stored() const {
  return HasSetting(name_);
}

template <class T>
void TSetting<T>::Reset() const {
  DeleteSetting(name_);
}

template class TSetting<int>;
template class TSetting<bool>;
template class TSetting<double>;
template class TSetting<QString>;

namespace settings {

const TSetting<int> kPosLeft{"pos_Left", 0};
const TSetting<int> kPosTop{"pos_Top", 0};
const TSetting<int> kPosWidth{"pos_Width", 0};
const TSetting<int> kPosHeight{"pos_Height", 0};
const TSetting<int> kPosState{"pos_State", 0};
const TSetting<int> kPanelRight{"panel_Right", TMainLayout::kRightWidth};
const TSetting<int> kPanelBottom{"panel_Bottom", TMainLayout::kBottomHeight};
const TSetting<double> kPanelBrowser{"panel_Browser", 0.5};
const TSetting<int> kVolume{"volume", 100};
const TSetting<int> kInsetCorner{"camera_InsetCorner", 3};
const TSetting<int> kInsetSize{"camera_InsetSize", 30};
const TSetting<int> kColSort{"col_sort", 0};
const TSetting<bool> kColSortAscending{"col_sort_dur", true};
const TSetting<QString> kCopyFolder{"copyFolder", QString()};
const TSetting<bool> kCopyVerify{"copyVerify", true};
const TSetting<QString> kExportLayout{"exportLayout", "pip"};
const TSetting<QString> kExportOverlay{"exportOverlay", "time,speed,position,gsensor"};
const TSetting<QString> kMapX{"gm_X", "30.315"};
const TSetting<QString> kMapY{"gm_Y", "59.939"};
const TSetting<QString> kMapZoom{"gm_Z", "14"};
const TSetting<QString> kMapType{"gm_T", QString()};
const TSetting<QString> kUpdateServer{"update_Server", ""};
const TSetting<bool> kGpsLogShowTrack{"gpsLog_ShowTrack", true};
const TSetting<QString> kMapTiles{"gm_Tiles", QString()};

TSetting<int> ColumnWidth(int n, int designWidth) {
  return {QString("col%1_w").arg(n), designWidth};
}

TSetting<int> ColumnAt(int n) {
  return {QString("col%1_i").arg(n), n};
}

TSetting<bool> MenuCheck(const QString &item, bool designState) {
  return {item, designState};
}

}  // namespace settings

}  // namespace tachora
