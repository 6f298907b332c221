// The recorder's settings file "setup.cfg" for the setup window: the file
// itself, the frame size and time zone rows, the removable drives. Its
// values are read and put in by app/UnitSetupValues.h.
//
// Pure functions over byte strings and files; any thread.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "app/UnitSetupValues.h"

namespace tachora {

constexpr int kTimeZoneCount = 25;  // GMT-12 .. GMT+12

// The 128-byte file a new card gets: 1080P 1920x1080, GMT+4, sensitivity 0.
QByteArray SetupTemplate();

// The fixed frame size rows (texts are shown in a fixed-pitch font; the two
// WVGA rows carry a Cyrillic "х", as the recorders' own menus do).
struct TFrameSize {
  const char *Text;
  uint8_t Code;
};
constexpr int kFrameSizeRows = 7;  // the custom row follows them
const TFrameSize &FrameSize(int row);
// The row that shows a frame size code: the first row whose code equals it
// or equals it plus one; kFrameSizeRows (the custom row) for any other.
int FrameSizeRowOf(uint8_t code);
// "Special (6)" in the current language.
QString CustomFrameSizeText(uint8_t code);

// "GMT-12" .. "GMT+0" .. "GMT+12", index 0..24.
QStringList TimeZoneItems();

// The settings of a file's bytes, and the bytes with the settings put in
// (see app/UnitSetupValues.h).
TSetupValues ReadSetupValues(const QByteArray &data);
QByteArray ApplySetupValues(const QByteArray &data, const TSetupValues &v);

// Reads the whole file; `error` gets a message for the user when it exists
// but cannot be read or is too short. An empty result means "nothing usable".
QByteArray ReadSetupFile(const QString &path, QString *error = nullptr);
// Writes the bytes as the whole file: the old file stays as it was unless
// the new one is complete (a card pulled out or write-protected midway
// changes nothing). False with `error` set.
bool WriteSetupFile(const QString &path, const QByteArray &data, QString *error);

// A removable drive as the drive list shows it.
struct TSetupDrive {
  QString MountPoint;
  QString Label;                // volume label, may be empty
  int64_t Total = 0, Free = 0;  // bytes
};
// "/media/u/CARD   8Gb  (2.5Gb free)   CARD".
QString DriveItemText(const TSetupDrive &d);
// The mounted removable drives that are readable and have a size.
QList<TSetupDrive> SetupDrives();

}  // namespace tachora
