// The settings store: one INI file per user (~/.config/Tachora/Tachora.conf,
// organisation and application "Tachora") holding string values. Values are
// typed only by how they are read; no operation reports an error: a missing
// or unreadable value reads as the default and a failed write is ignored.
//
// Kinds: integers as decimal text; floating point written with exactly three
// decimals and "." (read with "," or "."); booleans "true"/"false" (anything
// else reads as the default). UI thread only.
#pragma once

#include <QString>

namespace tachora {

QString ReadSetting(const QString &name, const QString &def = QString());
int ReadIntSetting(const QString &name, int def);
double ReadFloatSetting(const QString &name, double def);
bool ReadBoolSetting(const QString &name, bool def);

void WriteSetting(const QString &name, const QString &value);
void WriteIntSetting(const QString &name, int value);
void WriteFloatSetting(const QString &name, double value);
void WriteBoolSetting(const QString &name, bool value);

// Writes the value, or deletes it when it equals its default, so the store
// holds only what the user changed.
void WriteIntSettingOrDelete(const QString &name, int value, int def);
void WriteBoolSettingOrDelete(const QString &name, bool value, bool def);

bool HasSetting(const QString &name);
void DeleteSetting(const QString &name);
void DeleteAllSettings();

// Redirects the store to another INI file (tests); an empty path restores the
// user's own file.
void SetSettingsFile(const QString &path);
QString SettingsFilePath();

}  // namespace tachora
