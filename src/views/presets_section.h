// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The sidebar's presets: a "+" that saves the current settings under a name (greyed, its tooltip
// saying why, while there are kMaxPresets), one row per preset
// (click applies it, a checkmark marks the active one), a context menu to update, rename or
// delete, and drag-and-drop to reorder. Rebuilt from the store's list on every change; a row
// names its preset by id, so a preset deleted behind the view makes its row do nothing.
#pragma once

#include <QPointer>
#include <QUuid>
#include <QWidget>
#include <optional>
#include <set>

class QLabel;
class QListWidget;
class QMenu;
class QToolButton;

namespace velto {
class CameraStore;
}

namespace velto::views {

class PresetNameDialog;

class PresetsSection : public QWidget {
  Q_OBJECT

 public:
  explicit PresetsSection(CameraStore& store, QWidget* parent = nullptr);

  // Which naming dialog is open: a new preset, or a rename of the preset with `rename`.
  struct NamingTarget {
    std::optional<QUuid> rename;
  };

  // Opens the naming dialog (window-modal, returns at once).
  void startNaming(NamingTarget target);
  // The open naming dialog, null when none; closed when the camera it was opened for goes away.
  PresetNameDialog* namingDialog() const;
  // The context menu of the preset in row `row` (null for no such row); the caller owns it.
  QMenu* contextMenu(int row);
  // Moves the presets at `rows` before the one at `destination`, as a drop does.
  void move(const std::set<int>& rows, int destination);

  QListWidget* list() const { return list_; }
  QToolButton* addButton() const { return add_; }

 private:
  void render();
  void renderActive();
  void finishNaming(int result);
  void dismissNaming();
  std::optional<QUuid> idAt(int row) const;

  CameraStore& store_;
  QToolButton* add_;
  QLabel* empty_;
  QListWidget* list_;
  QPointer<PresetNameDialog> dialog_;
  std::optional<NamingTarget> naming_;
  std::uint64_t namingFor_ = 0;  // registry ID of the camera the dialog was opened for
};

}  // namespace velto::views
