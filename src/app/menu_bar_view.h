// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The tray's panel: the connected camera with a reset button, a live mini preview, one-click
// presets, the auto toggles and the three most used sliders, the update notice and the buttons
// that open the window, check for updates and quit. The shell shows it as a frameless popup
// beside the tray icon (popUp); Escape or a click outside closes it.
//
// While the panel is on screen its mini preview is the preview's client "menu"; hiding the panel
// (or the camera going away under it) lets that client go, so capture stops unless the window
// still shows the picture. Sections follow the store, the preview and the updater on their change
// signals; the panel keeps no camera state of its own. Main thread.
//
// Wayland lets no client place a window of its own, and a StatusNotifier host does not say where
// its icon is: there the panel is a small undecorated window that the compositor places (most
// centre it, as they do a dialog). It asks for the keyboard (with the activation token a host
// hands the tray icon, where it does) and closes on Escape and as soon as another window becomes
// active, as a popup does on a click outside.
#pragma once

#include <QPoint>
#include <QRect>
#include <QList>
#include <QSize>
#include <QSizeF>
#include <QStringView>
#include <QWidget>
#include <cstdint>
#include <optional>

class QAbstractButton;
class QLabel;
class QToolButton;

namespace velto {
class CameraStore;
class PreviewController;
class SoftwareUpdate;
class UserDefaults;
}  // namespace velto

namespace velto::views {
class PreviewLayerView;
class RecoveringBadge;
class SnapshotCommand;
}  // namespace velto::views

namespace velto::app {

// Where the panel's top-left corner goes: beside the tray icon at `iconGeometry` (below an icon on
// a top bar, above one on a bottom bar, to the side of one on a vertical bar), else at `pointer`
// (the icon's place unknown, as with most StatusNotifier hosts); always inside `available`, the
// screen's work area, as far as the panel fits. Pure.
QPoint panelPosition(std::optional<QRect> iconGeometry, QPoint pointer, QSize panelSize, QRect available);

// Who decides where the panel goes: the application, beside the tray icon (X11 and the
// platforms that let a client place its windows), or the compositor (Wayland).
enum class PanelPlacement { besideIcon, byCompositor };
// The placement the windowing system `platformName` (as QGuiApplication::platformName() names it:
// "xcb", "wayland", "wayland-egl", ...) allows. Pure.
PanelPlacement panelPlacement(QStringView platformName);

// The mini preview's box for frames of `frameSize`: 292 wide, as high as the picture's aspect asks
// (16:9 without a usable size; aspects beyond 1:2 and 4:1 are held there). Pure.
QSize miniPreviewSize(std::optional<QSizeF> frameSize);

// The picture in the panel: black, rounded, mirrored like the window's ("overlay.mirror").
class MiniPreview : public QWidget {
  Q_OBJECT

 public:
  MiniPreview(CameraStore& store, PreviewController& preview, UserDefaults& defaults, QWidget* parent = nullptr);
  ~MiniPreview() override;

  // Whether this preview holds the "menu" client now.
  bool isClient() const { return client_; }
  // The text over black when there is no picture to show; empty while the picture shows.
  QString placeholderText() const;
  views::PreviewLayerView& layer() { return *layer_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void refresh();
  void layOutNotes();  // the reconnecting badge and the paused note, centred
  void start();
  void stop();

  CameraStore& store_;
  PreviewController& preview_;
  UserDefaults& defaults_;
  views::PreviewLayerView* layer_;
  QLabel* placeholder_;
  views::RecoveringBadge* badge_;
  QLabel* pausedNote_;
  QWidget* corners_;
  bool client_ = false;
  std::optional<std::uint32_t> startedFor_;
};

class MenuBarView : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 320;
  static constexpr int kPadding = 14;

  // The shared objects must outlive the panel. `placement`: the running platform's unless given.
  MenuBarView(CameraStore& store, PreviewController& preview, SoftwareUpdate& updates, UserDefaults& defaults,
              QWidget* parent = nullptr, std::optional<PanelPlacement> placement = std::nullopt);

  // Shows the panel and asks for the keyboard. Placed beside the icon: beside the tray icon at
  // `iconGeometry` (none, or an empty rectangle: at the pointer) on the screen under it; placed
  // by the compositor: wherever it puts a new window, `iconGeometry` unused.
  void popUp(std::optional<QRect> iconGeometry);

  MiniPreview* miniPreview() const { return mini_; }
  views::SnapshotCommand& snapshots() { return *snapshots_; }
  // The preset rows in the store's order (checked: the active preset).
  QList<QAbstractButton*> presetRows() const;

 signals:
  void openWindowRequested();
  // "Check for Updates…" and the update notice; the shell asks the updater.
  void checkForUpdatesRequested();
  void quitRequested();
  // The panel left the screen (Escape, a click outside, a command that opens something else).
  void dismissed();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  QWidget* buildCameraBody(PreviewController& preview, UserDefaults& defaults, QWidget* parent);
  void place();
  void renderHeader();
  void renderPresets();
  void renderChecks();
  void renderUpdates();

  CameraStore& store_;
  SoftwareUpdate& updates_;
  const PanelPlacement placement_;
  QLabel* symbol_;
  class ElidingLabel* name_;
  QToolButton* reset_;
  QToolButton* snapshot_;
  views::SnapshotCommand* snapshots_;
  QLabel* error_;
  QLabel* note_;  // what a notification would have said, where the desktop shows none
  class QTimer* noteTimer_;
  QWidget* body_;
  MiniPreview* mini_;
  QWidget* presets_;
  QWidget* presetRows_;
  QToolButton* refocus_;
  QToolButton* notice_;
  QToolButton* check_;
  // Where popUp() was asked to show the panel: the icon's geometry, else the pointer.
  std::optional<QRect> anchor_;
  QPoint pointer_;
};

}  // namespace velto::app
