// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The picture's format, size and rate as a pop-up picker: "Automatic" (the preview picks), then
// each mode the camera offers, largest first, as "1920 × 1080 · 30 fps · MJPEG". Choosing one
// makes the preview stream in it and remembers it for the camera's model. Disabled while the
// camera has told no modes (none found yet, or it cannot be asked).
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include "platform/video/capture_mode.h"

class QComboBox;
class QLabel;

namespace velto {
class PreviewController;
}

namespace velto::views {

class FormatPicker : public QWidget {
  Q_OBJECT

 public:
  explicit FormatPicker(PreviewController& preview, QWidget* parent = nullptr);

  QComboBox* comboBox() const { return combo_; }

  // A mode in the picker's words.
  static QString label(const video::CaptureMode& mode);

 private:
  void refresh();

  PreviewController& preview_;
  QLabel* title_;
  QComboBox* combo_;
  QStringList shown_;  // the modes listed, as stored
};

}  // namespace velto::views
