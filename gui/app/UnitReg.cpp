#include "app/UnitReg.h"

#include <QSettings>
#include <QStandardPaths>
#include <memory>

#include "app/UnitUtils.h"

namespace tachora {

namespace {
QString gOverridePath;

// Qt names a user-scope INI file "Tachora.ini"; the store is documented (and
// looked for by users) as ~/.config/Tachora/Tachora.conf, $XDG_CONFIG_HOME
// when set.
QString UserSettingsPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         "/Tachora/Tachora.conf";
}

std::unique_ptr<QSettings> Open() {
  return std::make_unique<QSettings>(gOverridePath.isEmpty() ? UserSettingsPath() : gOverridePath,
                                     QSettings::IniFormat);
}

// The INI reader splits a value written by hand without quotes at its
// commas ("0,6" comes back as the list "0", "6"): join it again.
QString TextOf(const QVariant &v) {
  if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(QLatin1Char(','));
  return v.toString();
}
}  // namespace

void SetSettingsFile(const QString &path) {
  gOverridePath = path;
}

QString SettingsFilePath() {
  return Open()->fileName();
}

QString ReadSetting(const QString &name, const QString &def) {
  auto s = Open();
  const QVariant v = s->value(name);
  if (!v.isValid()) return def;
  return TextOf(v);
}

int ReadIntSetting(const QString &name, int def) {
  auto s = Open();
  const QVariant v = s->value(name);
  if (!v.isValid()) return def;
  bool ok = false;
  const int r = TextOf(v).trimmed().toInt(&ok, 10);
  return ok ? r : def;
}

double ReadFloatSetting(const QString &name, double def) {
  auto s = Open();
  const QVariant v = s->value(name);
  if (!v.isValid()) return def;
  return static_cast<double>(ParseFloatDot(TextOf(v).toStdString(), def));
}

bool ReadBoolSetting(const QString &name, bool def) {
  const QString v = ReadSetting(name);
  if (v == QLatin1String("true")) return true;
  if (v == QLatin1String("false")) return false;
  return def;
}

void WriteSetting(const QString &name, const QString &value) {
  auto s = Open();
  s->setValue(name, value);
}

void WriteIntSetting(const QString &name, int value) {
  WriteSetting(name, QString::number(value));
}

void WriteFloatSetting(const QString &name, double value) {
  WriteSetting(name, QString::fromStdString(FormatFixed(value, 3)));
}

void WriteBoolSetting(const QString &name, bool value) {
  WriteSetting(name, value ? QStringLiteral("true") : QStringLiteral("false"));
}

void WriteIntSettingOrDelete(const QString &name, int value, int def) {
  if (value == def)
    DeleteSetting(name);
  else
    WriteIntSetting(name, value);
}

void WriteBoolSettingOrDelete(const QString &name, bool value, bool def) {
  if (value == def)
    DeleteSetting(name);
  else
    WriteBoolSetting(name, value);
}

bool HasSetting(const QString &name) {
  return Open()->contains(name);
}

void DeleteSetting(const QString &name) {
  auto s = Open();
  s->remove(name);
}

void DeleteAllSettings() {
  auto s = Open();
  s->clear();
}

}  // namespace tachora
