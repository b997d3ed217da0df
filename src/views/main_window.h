// The main window: the live preview beside the controls sidebar, with the click-to-set tools and
// the overlay switches in the toolbar. The overlay choices are kept in the user defaults
// ("overlay.grid", "overlay.histogram", "overlay.clipping", "overlay.mirror"). While the window
// is shown it is the preview's client "window", asking again for the picture whenever the store's
// camera moves to another location; hiding or closing it lets the picture go and cancels a
// calibration in progress (the chosen tool stays).
//
// Main thread.
#pragma once

#include <QMainWindow>
#include <cstdint>
#include <optional>

#include "views/preview_pane.h"

class QAction;
class QButtonGroup;
class QComboBox;
class QMenu;
class QToolBar;

namespace velto {
class UserDefaults;
}

namespace velto::views {

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
  // The application's own commands (About, Quit, ...) in a menu button at the toolbar's end, made
  // on the first call. The actions stay the caller's.
  void addMenuActions(const QList<QAction*>& actions);

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void buildToolBar();
  void showTool();
  void startPreview();
  void stopPreview();

  CameraStore& store_;
  PreviewController& preview_;
  Calibrator& calibrator_;
  UserDefaults& defaults_;
  PreviewPane* pane_ = nullptr;
  QButtonGroup* tools_ = nullptr;
  QComboBox* target_ = nullptr;
  QAction* targetAction_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  QMenu* menu_ = nullptr;
  // Whether this window is the preview's client, and the location it last asked for.
  bool client_ = false;
  std::optional<std::uint32_t> startedFor_;
};

}  // namespace velto::views
