// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The main window: the live preview beside the controls sidebar, with the snapshot button, the
// click-to-set tools and the overlay switches in the toolbar. Keys move the camera's view from
// anywhere in the window: Ctrl+Shift with the arrows pans and tilts as the framing pad's own arrows
// do, Ctrl+Shift+Home centres it, Ctrl++ (or Ctrl+=) and Ctrl+- zoom. The overlay choices, the window's size and position and
// the last chosen tool are kept in the user defaults ("overlay.grid", "overlay.histogram",
// "overlay.clipping", "overlay.mirror", "window.geometry", "window.tool"). While the window is
// shown it is the preview's client "window", asking again for the picture whenever the store's
// camera moves to another location; hiding or closing it lets the picture go and cancels a
// calibration in progress (the chosen tool stays).
//
// Main thread.
#pragma once

#include <QMainWindow>
#include <QRect>
#include <cstdint>
#include <optional>

#include "capture/calibrator.h"
#include "views/preview_pane.h"

class QAction;
class QActionGroup;
class QComboBox;
class QMenu;
class QToolBar;
class QToolButton;

namespace velto {
class UserDefaults;
}

namespace velto::views {
class SnapshotCommand;
}

namespace velto::views {

// Where a window that wants `wanted` (its frame) goes on a screen whose free area is `available`:
// no larger than that area and inside it, but never narrower than `least`. A screen lower than
// `least` gets a window as high as the screen. A window too wide for the screen starts at its
// left edge.
QRect fitWindowToScreen(QRect wanted, QRect available, QSize least);

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kMinimumPreviewWidth = 480;
  static constexpr int kSidebarWidth = 340;
  static constexpr int kMinimumHeight = 520;

  // The shared objects must outlive the window; `defaults` is the store's settings file.
  MainWindow(CameraStore& store, PreviewController& preview, Calibrator& calibrator, UserDefaults& defaults,
             QWidget* parent = nullptr);
  ~MainWindow() override;

  PreviewPane& pane() { return *pane_; }
  SnapshotCommand& snapshots() { return *snapshots_; }
  // The menu button at the toolbar's end, made on the first call: the tools and the overlays
  // first, then `actions`, the application's own commands (About, Quit, ...), which stay the
  // caller's. Later calls append to it.
  void addMenuActions(const QList<QAction*>& actions);

 signals:
  // The window left the screen, closed or hidden by the application (not minimised).
  void closed();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void buildToolBar(const PreviewOverlays& overlays);
  void buildContent();
  void buildFramingKeys();
  void showFraming();
  // Presses the framing pad's own key `key`, so that both move the view by the same steps.
  void pressPadKey(Qt::Key key);
  void zoomBy(int direction);
  void loadGeometry();
  void keepGeometry();
  void fitToScreen();
  void chooseTool(Calibrator::Tool tool);
  void showTool();
  void showDevice();
  void startPreview();
  void stopPreview();

  CameraStore& store_;
  PreviewController& preview_;
  Calibrator& calibrator_;
  UserDefaults& defaults_;
  QWidget* content_ = nullptr;
  PreviewPane* pane_ = nullptr;
  QActionGroup* tools_ = nullptr;
  QList<QAction*> overlays_;
  SnapshotCommand* snapshots_ = nullptr;
  QList<QAction*> framing_;  // zoom in, zoom out, then pan, tilt and centre
  QAction* pointerEscape_ = nullptr;
  QComboBox* target_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  QMenu* menu_ = nullptr;
  // Whether the window has been on screen: from then on its position is its own.
  bool shownBefore_ = false;
  // Whether this window is the preview's client, and the location it last asked for.
  bool client_ = false;
  std::optional<std::uint32_t> startedFor_;
};

}  // namespace velto::views
