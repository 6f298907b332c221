#include "tools/UnitSetupConfig.h"

#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <algorithm>
#include <cmath>

#include "app/UnitFileIO.h"
#include "app/UnitLang.h"
#include "app/UnitText.h"
#include "app/UnitUtils.h"
#include "catalogue/UnitPlatform.h"

namespace tachora {

namespace {
constexpr TFrameSize kFrameSizes[kFrameSizeRows] = {
    {"1080P   1920x1080   30fps", 5},       {"1080P   1440x1080   30fps", 11},
    {" 720P   1280x720    30fps", 17},      {" WVGA    848\u0445480    60fps", 25},
    {" WVGA    848\u0445480    30fps", 27}, {"  VGA    640x480    30fps", 29},
    {" QVGA    320x240    30fps", 31},
};
}  // namespace

QByteArray SetupTemplate() {
  QByteArray t(128, '\0');
  const uint8_t head[] = {0x0E, 0x01, 0x52, 0x50, 0xF1, 0x01, 0x05, 0x04};
  const uint8_t tail[] = {0x50, 0x0E, 0x05, 0x53};
  std::copy(std::begin(head), std::end(head), t.begin());
  std::copy(std::begin(tail), std::end(tail), t.begin() + 124);
  return t;
}

const TFrameSize &FrameSize(int row) {
  return kFrameSizes[std::clamp(row, 0, kFrameSizeRows - 1)];
}

int FrameSizeRowOf(uint8_t code) {
  for (int i = 0; i < kFrameSizeRows; ++i)
    if (code == kFrameSizes[i].Code || code + 1 == kFrameSizes[i].Code) return i;
  return kFrameSizeRows;
}

QString CustomFrameSizeText(uint8_t code) {
  return L("SetupDevice_OtherSize") + " (" + QString::number(code) + ")";
}

QStringList TimeZoneItems() {
  QStringList items;
  for (int h = -12; h <= 12; ++h) items << QString("GMT%1%2").arg(h >= 0 ? "+" : "").arg(h);
  return items;
}

TSetupValues ReadSetupValues(const QByteArray &data) {
  return ReadSetupValues(std::string_view(data.constData(), data.size()));
}

QByteArray ApplySetupValues(const QByteArray &data, const TSetupValues &v) {
  return QByteArray::fromStdString(ApplySetupValues(data.toStdString(), v));
}

QByteArray ReadSetupFile(const QString &path, QString *error) {
  QFile f(path);
  if (!f.exists()) return {};
  // A settings file is tiny; anything large is not one.
  if (!f.open(QIODevice::ReadOnly) || f.size() > 1024 * 1024) {
    if (error) *error = L("Mes_CannotOpen_Lost") + "\n" + path;
    return {};
  }
  QByteArray data = f.readAll();
  if (f.error() != QFileDevice::NoError) {
    if (error) *error = f.errorString() + "\n" + path;
    return {};
  }
  if (data.size() < kSetupMinSize) {
    if (error) *error = L("SetupDevice_TooShort") + "\n" + path;
    return {};
  }
  return data;
}

bool WriteSetupFile(const QString &path, const QByteArray &data, QString *error) {
  std::string message;
  // On the card before it takes its name: the user pulls the card as soon
  // as the window says the settings are written.
  if (WriteFileAtomic(path.toStdString(), std::string_view(data.constData(), data.size()), &message,
                      TAtomicFile::TSync::Data))
    return true;
  if (error)
    *error = L("SetupDevice_WriteError") + "\n" + path + "\n" + QString::fromStdString(message);
  return false;
}

QString DriveItemText(const TSetupDrive &d) {
  const double gib = 1024.0 * 1024.0 * 1024.0;
  return d.MountPoint + "   " + QString::number(std::llround(d.Total / gib)) + L("Gb") + "  (" +
         QString::fromStdString(FormatFixed(d.Free / gib, 1)) + L("Gb") + " " + L("disk_free") +
         ")   " + d.Label;
}

QList<TSetupDrive> SetupDrives() {
  QList<TSetupDrive> out;
  for (const std::string &mount : RemovableUsbDrives()) {
    QStorageInfo info(QString::fromStdString(mount));
    if (!info.isValid() || !info.isReady() || info.bytesTotal() <= 0) continue;
    if (!QFileInfo(info.rootPath()).isReadable()) continue;
    out.push_back({info.rootPath(), info.name(), info.bytesTotal(), info.bytesAvailable()});
  }
  return out;
}

}  // namespace tachora
