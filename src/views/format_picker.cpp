// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/format_picker.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>

#include "capture/preview_controller.h"
#include "views/wheel_guard.h"

namespace velto::views {
namespace {

// Item data: the mode's stored form; empty for Automatic.
QVariant keyOf(const std::optional<video::CaptureMode>& mode) {
  return mode ? QVariant(QString::fromStdString(video::modeKey(*mode))) : QVariant(QString());
}

}  // namespace

FormatPicker::FormatPicker(PreviewController& preview, QWidget* parent) : QWidget(parent), preview_(preview) {
  auto* line = new QHBoxLayout(this);
  line->setContentsMargins(0, 0, 0, 0);
  title_ = new QLabel(tr("Video format"), this);
  combo_ = new QComboBox(this);
  combo_->setAccessibleName(title_->text());
  combo_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  takeWheelOnlyWithFocus(combo_);
  title_->setBuddy(combo_);
  line->addWidget(title_);
  line->addStretch(1);
  line->addWidget(combo_);
  setToolTip(tr("The format, size and frame rate the camera sends. Automatic picks the largest picture up to "
                "1920 × 1080 at the best rate."));

  connect(combo_, &QComboBox::activated, this, [this](int index) {
    const QString key = combo_->itemData(index).toString();
    preview_.chooseMode(key.isEmpty() ? std::nullopt : video::parseModeKey(key.toStdString()));
    refresh();
  });
  connect(&preview_, &PreviewController::modesChanged, this, &FormatPicker::refresh);
  connect(&preview_, &PreviewController::chosenModeChanged, this, &FormatPicker::refresh);
  refresh();
}

QString FormatPicker::label(const video::CaptureMode& mode) {
  return tr("%1 × %2 · %3 fps · %4")
      .arg(mode.width)
      .arg(mode.height)
      .arg(mode.fps)
      .arg(QString::fromStdString(video::formatName(mode.fourcc)));
}

void FormatPicker::refresh() {
  const std::vector<video::CaptureMode>& modes = preview_.modes();
  QStringList wanted;
  for (const video::CaptureMode& mode : modes) wanted.append(keyOf(mode).toString());
  if (combo_->count() == 0 || shown_ != wanted) {
    shown_ = wanted;
    combo_->clear();
    combo_->addItem(tr("Automatic"), keyOf(std::nullopt));
    if (!modes.empty()) combo_->insertSeparator(1);
    for (const video::CaptureMode& mode : modes) combo_->addItem(label(mode), keyOf(mode));
  }
  // A choice the camera does not offer streams as automatic, and shows so.
  const int index = combo_->findData(keyOf(preview_.chosenMode()));
  combo_->setCurrentIndex(index >= 0 ? index : 0);
  combo_->setEnabled(!modes.empty());
}

}  // namespace velto::views
