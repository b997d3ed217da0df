// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/controls_sidebar.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "capture/exposure_format.h"
#include "model/camera_store.h"
#include "views/auto_toggle.h"
#include "views/control_slider.h"
#include "views/flag_toggle.h"
#include "views/framing_pad.h"
#include "views/icons.h"
#include "views/look.h"
#include "views/option_picker.h"
#include "views/power_line_picker.h"
#include "views/presets_section.h"
#include "views/sidebar_section.h"
#include "views/value_viewer.h"
#include "views/wheel_guard.h"

namespace velto::views {
namespace {

QString colourTemperature(std::int64_t v) { return QString::number(v) + QStringLiteral(" K"); }

// Zoom as a factor of the range's start ("1.75×"), or the raw number when the range starts below 1.
ValueFormat zoomFactor(const CameraStore& store) {
  return [&store](std::int64_t v) {
    auto it = store.ranges().find(ControlID::zoom);
    if (it == store.ranges().end() || it->second.min < 1) return QString::number(v);
    return QString::number(double(v) / double(it->second.min), 'f', 2) + QChar(0x00D7);
  };
}

// A check box with a second, explanatory line under its text.
QWidget* toggleWithSubtitle(QCheckBox* check, const QString& subtitle, QWidget* parent) {
  auto* row = new QWidget(parent);
  auto* column = new QVBoxLayout(row);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  check->setParent(row);
  column->addWidget(check);
  column->addWidget(checkBoxSubtitle(check, subtitle, row));
  return row;
}

}  // namespace

ControlsSidebar::ControlsSidebar(CameraStore& store, QWidget* parent) : QWidget(parent), store_(store) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  pages_ = new QStackedWidget(this);
  column->addWidget(pages_);
  pages_->addWidget(buildPlaceholder());

  scroll_ = new QScrollArea(pages_);
  scroll_->setWidgetResizable(true);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // Tab goes through the controls (the form scrolls to each); the frame itself is no stop.
  scroll_->setFocusPolicy(Qt::NoFocus);
  scroll_->setAccessibleName(tr("Camera settings"));
  scroll_->setWidget(buildForm());
  pages_->addWidget(scroll_);

  connect(&store_, &CameraStore::deviceChanged, this, [this] {
    // A confirmation asked about a camera that has gone answers nothing.
    if (!store_.device() && confirm_) confirm_->close();
    renderSections();
    renderCamera();
  });
  connect(&store_, &CameraStore::rangesChanged, this, &ControlsSidebar::renderSections);
  connect(&store_, &CameraStore::camerasChanged, this, &ControlsSidebar::renderCamera);
  connect(&store_, &CameraStore::preferredCameraChanged, this, &ControlsSidebar::renderCamera);
  connect(&store_, &CameraStore::lastErrorChanged, this, &ControlsSidebar::renderCamera);
  connect(&store_, &CameraStore::resettingChanged, this, [this] {
    renderSections();
    renderCamera();
  });
  connect(&store_, &CameraStore::keepLockedChanged, this, &ControlsSidebar::renderBehavior);
  connect(&store_, &CameraStore::launchAtLoginChanged, this, &ControlsSidebar::renderBehavior);
  connect(&store_, &CameraStore::openWindowAtLaunchChanged, this, &ControlsSidebar::renderBehavior);
  renderSections();
  renderCamera();
  renderBehavior();
  reportShowingValues(this, store_);
}

bool ControlsSidebar::showsPlaceholder() const { return pages_->currentIndex() == 0; }

QMessageBox* ControlsSidebar::resetConfirmation() const { return confirm_; }

QWidget* ControlsSidebar::section(const QString& title) const { return sections_.value(title); }

QWidget* ControlsSidebar::buildPlaceholder() {
  auto* page = new QWidget(pages_);
  auto* column = new QVBoxLayout(page);
  column->addStretch(1);
  auto* symbol = new QLabel(page);
  symbol->setPixmap(icon("video.slash").pixmap(QSize(48, 48), qApp->devicePixelRatio(), QIcon::Disabled));
  symbol->setAlignment(Qt::AlignCenter);
  column->addWidget(symbol);
  auto* title = new QLabel(tr("No Camera Connected"), page);
  QFont big = title->font();
  big.setBold(true);
  big.setPointSizeF(big.pointSizeF() * 1.3);
  title->setFont(big);
  title->setAlignment(Qt::AlignCenter);
  column->addWidget(title);
  auto* description = new QLabel(tr("Plug in your Anker PowerConf C200 and it will appear here."), page);
  description->setForegroundRole(QPalette::PlaceholderText);
  description->setAlignment(Qt::AlignCenter);
  description->setWordWrap(true);
  column->addWidget(description);
  column->addStretch(1);
  return page;
}

QWidget* ControlsSidebar::buildForm() {
  form_ = new QWidget;
  auto* column = new QVBoxLayout(form_);
  column->setSpacing(column->spacing() * 3);
  // Sections are known by their English titles (section()), and show them translated.
  auto add = [&](const char* title, QWidget* section) {
    sections_.insert(QString::fromLatin1(title), section);
    column->addWidget(section);
  };
  // `emptyNote` says why a section that is always listed has no rows on this camera.
  auto titled = [&](const char* title, const QString& emptyNote = QString()) {
    auto* section = new QWidget(form_);
    const SectionParts parts = buildSection(section, tr(title));
    add(title, section);
    followRows(parts.box, emptyNote);
    if (!emptyNote.isEmpty()) controlSections_.push_back(section);
    return parts;
  };

  add("Camera", buildCameraSection(form_));
  presets_ = new PresetsSection(store_, form_);
  add("Presets", presets_);

  //: The auto-mode switch at the top of a section (Exposure, White Balance, Focus).
  const QString automatic = tr("Auto");
  SectionParts exposure = titled(QT_TR_NOOP("Exposure"), tr("This camera sets its exposure by itself."));
  exposure.rows->addWidget(new AutoToggle(store_, ControlID::autoExposure, automatic, exposure.box));
  exposure.rows->addWidget(new ControlSlider(store_, ControlID::exposure, true, &ExposureFormat::string, exposure.box));
  exposure.rows->addWidget(new ControlSlider(store_, ControlID::brightness, false, {}, exposure.box));
  exposure.rows->addWidget(new ControlSlider(store_, ControlID::gain, false, {}, exposure.box));
  exposure.rows->addWidget(new ControlSlider(store_, ControlID::backlightCompensation, false, {}, exposure.box));
  exposure.rows->addWidget(new PowerLinePicker(store_, exposure.box));

  SectionParts white = titled(QT_TR_NOOP("White Balance"), tr("This camera sets its white balance by itself."));
  white.rows->addWidget(new AutoToggle(store_, ControlID::autoWhiteBalance, automatic, white.box));
  white.rows->addWidget(new ControlSlider(store_, ControlID::whiteBalance, false, colourTemperature, white.box));

  SectionParts focus = titled(QT_TR_NOOP("Focus"), tr("This camera has a fixed focus."));
  refocus_ = headerButton(tr("Refocus"), tr("Restart autofocus if the image is soft"), sections_.value("Focus"));
  focus.header->addWidget(refocus_);
  connect(refocus_, &QToolButton::clicked, this, [this] { store_.refocus(); });
  focus.rows->addWidget(new AutoToggle(store_, ControlID::autoFocus, automatic, focus.box));
  focus.rows->addWidget(new ControlSlider(store_, ControlID::focus, false, {}, focus.box));

  SectionParts image = titled(QT_TR_NOOP("Image"), tr("This camera offers no image adjustments."));
  for (ControlID id : {ControlID::contrast, ControlID::saturation, ControlID::sharpness, ControlID::gamma, ControlID::hue}) {
    image.rows->addWidget(new ControlSlider(store_, id, false, {}, image.box));
  }
  image.rows->addWidget(new FlagToggle(
      store_, ControlID::hdr, tr("Tames bright windows and lights at the cost of a slightly darker image."), image.box));
  image.rows->addWidget(
      new FlagToggle(store_, ControlID::horizontalFlip, tr("Mirrors the camera's output in every app."), image.box));

  SectionParts mic = titled(QT_TR_NOOP("Microphone"));
  mic.rows->addWidget(new OptionPicker(store_, ControlID::micPickup, {{0, tr("360° Room")}, {90, tr("90° Front")}},
                                       tr("90° focuses on the person in front of the camera; 360° picks up the whole room"),
                                       mic.box));

  SectionParts framing = titled(QT_TR_NOOP("Framing"));
  resetFraming_ = headerButton(tr("Reset"), QString(), sections_.value("Framing"));
  resetFraming_->setAccessibleName(tr("Reset framing"));
  framing.header->addWidget(resetFraming_);
  connect(resetFraming_, &QToolButton::clicked, this, [this] {
    std::vector<ControlID> list;
    for (ControlID id : {ControlID::zoom, ControlID::pan, ControlID::tilt}) {
      if (store_.device() && store_.device()->supports(id)) list.push_back(id);
    }
    store_.resetToDefaults(list);
  });
  framing.rows->addWidget(new OptionPicker(store_, ControlID::fieldOfView,
                                           {{95, QStringLiteral("95°")}, {78, QStringLiteral("78°")}, {65, QStringLiteral("65°")}},
                                           tr("Camera preset; sets zoom to 1.00×, 1.75× or 2.95×"), framing.box));
  framing.rows->addWidget(new ControlSlider(store_, ControlID::zoom, false, zoomFactor(store_), framing.box));
  framing.rows->addWidget(new FramingPad(store_, framing.box));  // pan and tilt: no sliders of their own

  add("Behavior", buildBehaviorSection(form_));
  column->addStretch(1);
  return form_;
}

QWidget* ControlsSidebar::buildCameraSection(QWidget* parent) {
  auto* section = new QWidget(parent);
  const SectionParts parts = buildSection(section, QString());

  cameraValueRow_ = new QWidget(parts.box);
  auto* valueLine = new QHBoxLayout(cameraValueRow_);
  valueLine->setContentsMargins(0, 0, 0, 0);
  valueLine->addWidget(new QLabel(tr("Camera"), cameraValueRow_));
  valueLine->addStretch(1);
  cameraName_ = new QLabel(cameraValueRow_);
  cameraName_->setForegroundRole(QPalette::PlaceholderText);
  cameraName_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  valueLine->addWidget(cameraName_);
  parts.rows->addWidget(cameraValueRow_);

  cameraPickerRow_ = new QWidget(parts.box);
  auto* pickerLine = new QHBoxLayout(cameraPickerRow_);
  pickerLine->setContentsMargins(0, 0, 0, 0);
  auto* pickerLabel = new QLabel(tr("Camera"), cameraPickerRow_);
  pickerLine->addWidget(pickerLabel);
  cameraPicker_ = new QComboBox(cameraPickerRow_);
  cameraPicker_->setAccessibleName(tr("Camera"));
  takeWheelOnlyWithFocus(cameraPicker_);
  cameraPicker_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  cameraPicker_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  pickerLabel->setBuddy(cameraPicker_);
  pickerLine->addWidget(cameraPicker_, 1);
  parts.rows->addWidget(cameraPickerRow_);
  connect(cameraPicker_, &QComboBox::activated, this, [this](int index) {
    const QVariant key = cameraPicker_->itemData(index, Qt::UserRole + 1);
    if (key.isValid()) store_.setPreferredCamera(CameraKey{quint16(key.toUInt() >> 16), quint16(key.toUInt() & 0xFFFF)});
  });

  resetCamera_ = new QPushButton(tr("Reset Camera"), parts.box);
  resetCamera_->setAccessibleName(tr("Reset Camera"));  // also while it reads "Resetting…"
  resetCamera_->setToolTip(
      tr("Reconnect the camera on USB, as if unplugged and plugged back in. Use if the picture is black or frozen."));
  connect(resetCamera_, &QPushButton::clicked, this, [this] { store_.resetCamera(); });
  auto* buttonLine = new QHBoxLayout;
  buttonLine->addWidget(resetCamera_);
  buttonLine->addStretch(1);
  parts.rows->addLayout(buttonLine);

  error_ = errorLabel(parts.box);
  error_->setWordWrap(true);
  error_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  parts.rows->addWidget(error_);
  return section;
}

QWidget* ControlsSidebar::buildBehaviorSection(QWidget* parent) {
  auto* section = new QWidget(parent);
  const SectionParts parts = buildSection(section, tr("Behavior"));
  keepLocked_ = new QCheckBox(tr("Keep settings locked"));
  parts.rows->addWidget(toggleWithSubtitle(
      keepLocked_, tr("Reapplies your settings if the camera resets or another app changes them."), parts.box));
  launchAtLogin_ = new QCheckBox(tr("Launch at login"), parts.box);
  parts.rows->addWidget(launchAtLogin_);
  openWindow_ = new QCheckBox(tr("Open this window at launch"), parts.box);
  parts.rows->addWidget(openWindow_);
  auto* reset = new QPushButton(tr("Reset Camera to Defaults…"), parts.box);
  reset->setToolTip(tr("Set every control of the camera back to the camera's own default. Asks first."));
  auto* buttonLine = new QHBoxLayout;
  buttonLine->addWidget(reset);
  buttonLine->addStretch(1);
  parts.rows->addLayout(buttonLine);

  connect(keepLocked_, &QCheckBox::clicked, this, [this](bool on) {
    store_.setKeepLocked(on);
    renderBehavior();
  });
  connect(launchAtLogin_, &QCheckBox::clicked, this, [this](bool on) {
    store_.setLaunchAtLogin(on);  // a failure shows as the store's message
    renderBehavior();
  });
  connect(openWindow_, &QCheckBox::clicked, this, [this](bool on) {
    store_.setOpenWindowAtLaunch(on);
    renderBehavior();
  });
  connect(reset, &QPushButton::clicked, this, &ControlsSidebar::confirmReset);
  return section;
}

void ControlsSidebar::confirmReset() {
  if (confirm_ || !store_.device()) return;
  confirm_ = new QMessageBox(QMessageBox::Warning, tr("Reset Camera to Defaults"),
                             tr("Reset every camera setting to its factory default?"), QMessageBox::Cancel, this);
  QPushButton* reset = confirm_->addButton(tr("Reset"), QMessageBox::DestructiveRole);
  confirm_->setDefaultButton(QMessageBox::Cancel);
  confirm_->setAttribute(Qt::WA_DeleteOnClose);
  const std::uint64_t camera = store_.device()->registryID;
  connect(confirm_, &QMessageBox::buttonClicked, this, [this, reset, camera](QAbstractButton* button) {
    // Only for the camera it was asked about.
    if (button == reset && store_.device() && store_.device()->registryID == camera) store_.resetToDefaults();
  });
  confirm_->open();
}

void ControlsSidebar::renderCamera() {
  const auto& cameras = store_.cameras();
  const bool picker = cameras.size() >= 2;
  cameraPickerRow_->setVisible(picker);
  // While a reset has the camera off the bus it is still the camera shown, and coming back.
  const std::optional<ConnectedCamera>& shown = store_.device() ? store_.device() : store_.resettingCamera();
  cameraValueRow_->setVisible(!picker && shown.has_value());
  cameraName_->setText(shown ? shown->name : QString());
  if (picker) {
    cameraPicker_->clear();
    int selected = -1;
    for (const CameraSummary& camera : cameras) {
      cameraPicker_->addItem(camera.name, QVariant(quint32(camera.locationID)));
      cameraPicker_->setItemData(cameraPicker_->count() - 1,
                                 QVariant(quint32(camera.key.vendorID) << 16 | camera.key.productID), Qt::UserRole + 1);
      // Cameras of one model share a key: the first of them is the chosen entry.
      if (selected < 0 && camera.key == store_.preferredCamera()) selected = cameraPicker_->count() - 1;
    }
    cameraPicker_->setCurrentIndex(selected);
  }
  resetCamera_->setVisible(shown.has_value());
  resetCamera_->setEnabled(!store_.isResetting());
  resetCamera_->setText(store_.isResetting() ? tr("Resetting…") : tr("Reset Camera"));
  const std::optional<UserText>& error = store_.lastErrorMessage();
  error_->setText(error ? error->translated() : QString());
  error_->setVisible(error.has_value());
}

void ControlsSidebar::renderSections() {
  // A camera that a reset took off the bus keeps the form.
  pages_->setCurrentIndex(store_.device() || store_.isResetting() ? 1 : 0);
  presets_->setEnabled(store_.device().has_value());
  // While a reset has the camera away, the sections stay as they are and their rows hold (greyed,
  // holdWhileAway): the same camera coming back moves nothing.
  const bool away = isAwayForReset(store_);
  refocus_->setEnabled(!away);
  resetFraming_->setEnabled(!away);
  if (away) return;
  // Until the camera's ranges are read nothing is known of its controls: no section claims it
  // has none.
  for (QWidget* section : controlSections_) section->setVisible(store_.isConnected());
  const bool framing = store_.supports(ControlID::zoom) || store_.supports(ControlID::pan) || store_.supports(ControlID::tilt);
  sections_.value("Microphone")->setVisible(store_.supports(ControlID::micPickup));
  sections_.value("Framing")->setVisible(framing);
  refocus_->setVisible(store_.supports(ControlID::autoFocus));
}

void ControlsSidebar::renderBehavior() {
  keepLocked_->setChecked(store_.keepLocked());
  launchAtLogin_->setChecked(store_.launchAtLogin());
  openWindow_->setChecked(store_.openWindowAtLaunch());
}

}  // namespace velto::views
