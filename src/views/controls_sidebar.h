// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The main window's right-hand column: every camera setting in a scrolling column of titled
// sections (camera, presets, exposure, white balance, focus, image, microphone, framing,
// behaviour), or a "No Camera Connected" placeholder while no camera is open. Sections and rows
// appear and vanish with the connected camera's controls; everything is read from and written to
// the store.
#pragma once

#include <QHash>
#include <QPointer>
#include <QWidget>
#include <vector>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QMessageBox;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QToolButton;

namespace velto {
class CameraStore;
}

namespace velto::views {

class PresetsSection;

class ControlsSidebar : public QWidget {
  Q_OBJECT

 public:
  explicit ControlsSidebar(CameraStore& store, QWidget* parent = nullptr);

  // The placeholder while no camera is open, else the form.
  bool showsPlaceholder() const;
  // A section by its header ("Exposure", "Framing", ...), null for none; "Camera" is the untitled
  // first section.
  QWidget* section(const QString& title) const;
  PresetsSection* presets() const { return presets_; }
  // The open "Reset Camera to Defaults…" confirmation, null when none.
  QMessageBox* resetConfirmation() const;
  // Asks for the confirmation (window-modal, returns at once).
  void confirmReset();

 private:
  QWidget* buildForm();
  QWidget* buildPlaceholder();
  QWidget* buildCameraSection(QWidget* parent);
  QWidget* buildBehaviorSection(QWidget* parent);
  void renderCamera();
  void renderSections();
  void renderBehavior();

  CameraStore& store_;
  QStackedWidget* pages_;
  QScrollArea* scroll_;
  QWidget* form_;
  PresetsSection* presets_;
  QHash<QString, QWidget*> sections_;
  std::vector<QWidget*> controlSections_;  // exposure, white balance, focus, image: always listed

  // Camera section.
  QLabel* cameraName_;
  QWidget* cameraValueRow_;
  QWidget* cameraPickerRow_;
  QComboBox* cameraPicker_;
  QPushButton* resetCamera_;
  QLabel* error_;
  // Section extras.
  QToolButton* refocus_;
  QToolButton* resetFraming_;
  // Behaviour.
  QCheckBox* keepLocked_;
  QCheckBox* launchAtLogin_;
  QCheckBox* openWindow_;
  QPointer<QMessageBox> confirm_;
};

}  // namespace velto::views
