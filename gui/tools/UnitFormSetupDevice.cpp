#include "tools/UnitFormSetupDevice.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFont>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QSlider>
#include <QTimer>

#include "app/UnitLang.h"
#include "app/UnitText.h"

namespace tachora {

namespace {
const char *const kAxes[3] = {"X", "Y", "Z"};
}  // namespace

TFormSetupDevice::TFormSetupDevice(QWidget *mainWindow)
    : QDialog(mainWindow, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint |
                              Qt::WindowCloseButtonHint | Qt::WindowTitleHint),
      mainWindow_(mainWindow) {
  setObjectName("FormSetupDevice");
  auto *grid = new QGridLayout(this);
  grid->setContentsMargins(10, 10, 10, 10);
  grid->setSizeConstraint(QLayout::SetFixedSize);

  picture_ = new QLabel(this);
  picture_->setFixedSize(48, 48);
  grid->addWidget(picture_, 0, 0, Qt::AlignTop | Qt::AlignLeft);

  labelDevice_ = new QLabel(this);
  ComboBoxDevice = new QComboBox(this);
  ComboBoxDevice->setMinimumWidth(360);
  ComboBoxDevice->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  grid->addWidget(labelDevice_, 0, 1, Qt::AlignRight);
  grid->addWidget(ComboBoxDevice, 0, 2, 1, 3);

  auto *line = new QFrame(this);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  grid->addWidget(line, 1, 0, 1, 5);

  labelFrameSize_ = new QLabel(this);
  ComboBoxFrameSize = new QComboBox(this);
  QFont fixed("Liberation Mono");
  fixed.setStyleHint(QFont::Monospace);
  ComboBoxFrameSize->setFont(fixed);
  for (int i = 0; i < kFrameSizeRows; ++i)
    ComboBoxFrameSize->addItem(QString::fromUtf8(FrameSize(i).Text));
  ComboBoxFrameSize->addItem(L("SetupDevice_OtherSize"));
  grid->addWidget(labelFrameSize_, 2, 1, Qt::AlignRight);
  grid->addWidget(ComboBoxFrameSize, 2, 2, 1, 3);

  labelTimeZone_ = new QLabel(this);
  ComboBoxTimeZone = new QComboBox(this);
  ComboBoxTimeZone->addItems(TimeZoneItems());
  grid->addWidget(labelTimeZone_, 3, 1, Qt::AlignRight);
  grid->addWidget(ComboBoxTimeZone, 3, 2, 1, 3);

  labelGSensor_ = new QLabel(this);
  grid->addWidget(labelGSensor_, 5, 1, Qt::AlignRight | Qt::AlignVCenter);
  for (int i = 0; i < 3; ++i) {
    auto *caption = new QLabel(kAxes[i], this);
    GSensor[i] = new QSlider(Qt::Horizontal, this);
    GSensor[i]->setRange(0, 10);
    GSensor[i]->setPageStep(1);
    GSensor[i]->setTickPosition(QSlider::TicksBelow);
    LabelValue[i] = new QLabel("0", this);
    LabelValue[i]->setMinimumWidth(20);
    auto *row = new QHBoxLayout;
    row->addWidget(caption);
    row->addWidget(GSensor[i], 1);
    row->addWidget(LabelValue[i]);
    grid->addLayout(row, 4 + i, 2, 1, 3);
    connect(GSensor[i], &QSlider::valueChanged, LabelValue[i],
            [label = LabelValue[i]](int v) { label->setNum(v); });
  }

  ButtonWrite = new QPushButton(this);
  ButtonWrite->setDefault(true);
  ButtonCancel = new QPushButton(this);
  auto *buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ButtonWrite);
  buttons->addWidget(ButtonCancel);
  grid->addLayout(buttons, 7, 0, 1, 5);

  connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(ButtonWrite, &QPushButton::clicked, this, [this]() { Write(); });
  connect(ComboBoxDevice, &QComboBox::activated, this, &TFormSetupDevice::LoadDrive);
  connect(ComboBoxFrameSize, &QComboBox::activated, this,
          [this](int row) { OnFrameSizeChosen(row, true); });

  Ask = [this](const QString &text) {
    return QMessageBox::question(this, windowTitle(), text) == QMessageBox::Yes;
  };
  Inform = [this](const QString &text, bool error) {
    if (error)
      QMessageBox::warning(this, windowTitle(), text);
    else
      QMessageBox::information(this, windowTitle(), text);
  };
  AskCode = [this](const QString &caption, const QString &prompt, int current) {
    bool ok = false;
    const QString text = QInputDialog::getText(this, caption, prompt, QLineEdit::Normal,
                                               QString::number(current), &ok);
    if (!ok) return -1;
    bool number = false;
    const int code = text.trimmed().toInt(&number);
    return number ? code & 0xFF : 5;
  };
  EnableSettings(false);
  Translate();
}

void TFormSetupDevice::Translate() {
  setWindowTitle(L("SetupDevice_Title"));
  // The lists' labels end in a colon; the sliders' heading has none.
  labelDevice_->setText(L("SetupDevice_Device") + ":");
  labelFrameSize_->setText(L("PictureSize") + ":");
  labelTimeZone_->setText(L("SetupDevice_TimeZone") + ":");
  labelGSensor_->setText(L("SetupDevice_GSensor"));
  ButtonWrite->setText(L("SetupDevice_BtnWrite"));
  ButtonCancel->setText(L("Cancel"));
  SetCustomText();
}

void TFormSetupDevice::showEvent(QShowEvent *event) {
  if (!event->spontaneous()) {
    // The program's icon is set after the window is created.
    picture_->setPixmap(QApplication::windowIcon().pixmap(48, 48));
    // The drives are listed (and a single one loaded, which may ask a
    // question) once the window is up.
    QTimer::singleShot(0, this, [this]() { SetDrives(SetupDrives()); });
    if (mainWindow_) {
      adjustSize();
      move(mainWindow_->geometry().center() - rect().center());
    }
  }
  QDialog::showEvent(event);
}

void TFormSetupDevice::EnableSettings(bool on) {
  ComboBoxFrameSize->setEnabled(on);
  ComboBoxTimeZone->setEnabled(on);
  for (QSlider *s : GSensor) s->setEnabled(on);
  ButtonWrite->setEnabled(on);
}

void TFormSetupDevice::SetDrives(const QList<TSetupDrive> &drives) {
  EnableSettings(false);
  drives_ = drives;
  data_.clear();
  path_.clear();
  ComboBoxDevice->clear();
  for (const TSetupDrive &d : drives) ComboBoxDevice->addItem(DriveItemText(d));
  ComboBoxDevice->setPlaceholderText(drives.isEmpty() ? L("SetupDevice_NoDrives") : QString());
  ComboBoxDevice->setCurrentIndex(-1);
  if (drives.size() == 1) {
    ComboBoxDevice->setCurrentIndex(0);
    LoadDrive(0);
  }
  SetCustomText();
}

void TFormSetupDevice::LoadDrive(int index) {
  EnableSettings(false);
  data_.clear();
  if (index < 0 || index >= drives_.size()) return;
  path_ = QDir(drives_[index].MountPoint).filePath("setup.cfg");
  QString error;
  data_ = ReadSetupFile(path_, &error);
  if (data_.isEmpty() && !error.isEmpty()) Inform(error, true);
  if (data_.isEmpty() && Ask(L("SetupDevice_NoConfig") + "\n\n" + ComboBoxDevice->itemText(index)))
    data_ = SetupTemplate();
  if (data_.isEmpty()) return;

  EnableSettings(true);
  const TSetupValues v = ReadSetupValues(data_);
  loading_ = true;
  const int row = FrameSizeRowOf(v.FrameCode);
  ComboBoxFrameSize->setCurrentIndex(row);
  OnFrameSizeChosen(row, false);
  ComboBoxTimeZone->setCurrentIndex(v.TimeZone + 12);
  for (int i = 0; i < 3; ++i) GSensor[i]->setValue(v.Sensor[i]);
  loading_ = false;
}

void TFormSetupDevice::OnFrameSizeChosen(int row, bool byUser) {
  if (row < 0 || data_.size() < kSetupMinSize) return;
  if (row < kFrameSizeRows) {
    data_[kSetupFrameByte] = static_cast<char>(FrameSize(row).Code);
  } else if (byUser && !loading_) {
    const int code =
        AskCode(labelFrameSize_->text() + " " + ComboBoxFrameSize->itemText(row),
                L("SetupDevice_EnterOther") + ":", static_cast<uint8_t>(data_[kSetupFrameByte]));
    if (code >= 0) data_[kSetupFrameByte] = static_cast<char>(code & 0xFF);
  }
  SetCustomText();
}

void TFormSetupDevice::SetCustomText() {
  const int custom = kFrameSizeRows;
  ComboBoxFrameSize->setItemText(
      custom, data_.size() >= kSetupMinSize
                  ? CustomFrameSizeText(static_cast<uint8_t>(data_[kSetupFrameByte]))
                  : L("SetupDevice_OtherSize"));
}

bool TFormSetupDevice::Write() {
  if (data_.size() < kSetupMinSize) return false;
  if (ComboBoxFrameSize->currentIndex() < 0) {
    Inform(labelFrameSize_->text(), false);
    return false;
  }
  TSetupValues v;
  v.FrameCode = static_cast<uint8_t>(data_[kSetupFrameByte]);
  v.TimeZone = ComboBoxTimeZone->currentIndex() - 12;
  for (int i = 0; i < 3; ++i) v.Sensor[i] = GSensor[i]->value();
  const QByteArray out = ApplySetupValues(data_, v);
  QString error;
  if (!WriteSetupFile(path_, out, &error)) {
    Inform(error, true);
    return false;
  }
  data_ = out;
  Inform("Ok", false);
  accept();
  return true;
}

}  // namespace tachora
