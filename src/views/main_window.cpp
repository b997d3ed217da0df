// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QFocusEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QShowEvent>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>
#include <algorithm>
#include <array>

#include "capture/preview_controller.h"
#include "model/camera_store.h"
#include "platform/session/user_defaults.h"
#include "views/controls_sidebar.h"
#include "views/format_picker.h"
#include "views/framing_pad.h"
#include "views/icons.h"
#include "views/snapshot_command.h"

namespace velto::views {

namespace {

using Tool = Calibrator::Tool;

// The tables' texts are marked here and translated where the window shows them.
const char* const kToolTip = QT_TRANSLATE_NOOP(
    "velto::views::MainWindow",
    "Pick a tool, then click the preview: white balance wants something neutral grey/white; exposure wants your "
    "face or subject.");
const QString kGeometryKey = QStringLiteral("window.geometry");
const QString kToolKey = QStringLiteral("window.tool");
constexpr QSize kDefaultSize(1100, 680);
// A zoom key moves as far through the zoom range as an arrow key moves the framing pad's view.
constexpr double kZoomStep = 0.1;

// Tools are stored by name, so saved choices survive a change in the order of the tools.
struct ToolEntry {
  Tool tool;
  const char* name;
  const char* title;
  std::string_view symbol;
  Qt::Key key;  // with Ctrl
};
constexpr std::array<ToolEntry, 3> kTools{{
    {Tool::none, "none", QT_TRANSLATE_NOOP("velto::views::MainWindow", "Pointer"), "cursorarrow", Qt::Key_1},
    {Tool::whiteBalance, "whiteBalance", QT_TRANSLATE_NOOP("velto::views::MainWindow", "Click to Set White Balance"),
     "eyedropper", Qt::Key_2},
    {Tool::exposure, "exposure", QT_TRANSLATE_NOOP("velto::views::MainWindow", "Click to Set Exposure"),
     "camera.metering.spot", Qt::Key_3},
}};

struct TargetEntry {
  const char* title;
  double value;
};
constexpr std::array<TargetEntry, 3> kTargets{{{QT_TRANSLATE_NOOP("velto::views::MainWindow", "Darker"), 0.4},
                                               {QT_TRANSLATE_NOOP("velto::views::MainWindow", "Normal"), 0.5},
                                               {QT_TRANSLATE_NOOP("velto::views::MainWindow", "Brighter"), 0.6}}};

struct OverlayToggle {
  const char* key;
  bool PreviewOverlays::*member;
  bool byDefault;
  const char* title;
  std::string_view symbol;
  const char* toolTip;
  Qt::Key shortcut;  // with Ctrl+Shift: Ctrl+Shift+S and the arrows stay free for snapshots and framing
};
constexpr std::array<OverlayToggle, 4> kOverlays{{
    {"overlay.grid", &PreviewOverlays::grid, false, QT_TRANSLATE_NOOP("velto::views::MainWindow", "Grid"),
     "squareshape.split.3x3", QT_TRANSLATE_NOOP("velto::views::MainWindow", "Rule-of-thirds grid"), Qt::Key_G},
    {"overlay.clipping", &PreviewOverlays::clipping, false, QT_TRANSLATE_NOOP("velto::views::MainWindow", "Clipping"),
     "exclamationmark.triangle",
     QT_TRANSLATE_NOOP("velto::views::MainWindow", "Highlight blown highlights (red) and crushed shadows (blue)"),
     Qt::Key_C},
    {"overlay.histogram", &PreviewOverlays::histogram, true, QT_TRANSLATE_NOOP("velto::views::MainWindow", "Histogram"),
     "chart.bar.xaxis", QT_TRANSLATE_NOOP("velto::views::MainWindow", "Histogram"), Qt::Key_H},
    {"overlay.mirror", &PreviewOverlays::mirror, true, QT_TRANSLATE_NOOP("velto::views::MainWindow", "Mirror"),
     "arrow.left.and.right.righttriangle.left.righttriangle.right",
     QT_TRANSLATE_NOOP("velto::views::MainWindow", "Mirror the preview (affects only this window, not other apps)"),
     Qt::Key_M},
}};

QWidget* expanding(QWidget* parent) {
  auto* spacer = new QWidget(parent);
  spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  return spacer;
}

QString withShortcut(const QString& text, const QKeySequence& keys) {
  return text + QStringLiteral(" (") + keys.toString(QKeySequence::NativeText) + QLatin1Char(')');
}

// Wayland compositors place windows themselves and tell no client where they are.
bool placesWindows() { return !QGuiApplication::platformName().startsWith(QLatin1String("wayland")); }

struct SavedGeometry {
  std::optional<QPoint> position;  // of the frame
  QSize size;
  bool maximized = false;
};

// What "window.geometry" holds, when it holds something usable.
std::optional<SavedGeometry> savedGeometry(const UserDefaults& defaults) {
  const std::optional<QByteArray> data = defaults.data(kGeometryKey);
  if (!data) return std::nullopt;
  const QJsonObject object = QJsonDocument::fromJson(*data).object();
  SavedGeometry saved;
  saved.size = QSize(object.value(QLatin1String("width")).toInt(), object.value(QLatin1String("height")).toInt());
  if (saved.size.width() <= 0 || saved.size.height() <= 0) return std::nullopt;
  const QJsonValue x = object.value(QLatin1String("x")), y = object.value(QLatin1String("y"));
  if (x.isDouble() && y.isDouble()) saved.position = QPoint(x.toInt(), y.toInt());
  saved.maximized = object.value(QLatin1String("maximized")).toBool();
  return saved;
}

// The preview draws no focus of its own: a ring in the accent colour around it while it holds
// focus that came from the keyboard (a click into the picture is a calibration, not a request to
// see where the focus is).
class FocusRing : public QWidget {
 public:
  explicit FocusRing(QWidget* target) : QWidget(target->parentWidget()), target_(target) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
    target->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::FocusIn: {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        // The window coming back or a popup closing keeps what the focus looked like before.
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
          fromKeyboard_ = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason;
        }
        break;
      }
      case QEvent::FocusOut:
      case QEvent::Move:
      case QEvent::Resize:
        break;
      default:
        return QWidget::eventFilter(watched, event);
    }
    setGeometry(target_->geometry());
    setVisible(fromKeyboard_ && target_->hasFocus());
    raise();
    return QWidget::eventFilter(watched, event);
  }

  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
    painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
  }

 private:
  QWidget* target_;
  bool fromKeyboard_ = false;
};

}  // namespace

QRect fitWindowToScreen(QRect wanted, QRect available, QSize least) {
  const int width = std::max(least.width(), std::min(wanted.width(), available.width()));
  const int height = std::min(std::max(wanted.height(), least.height()), available.height());
  // Right and bottom edges pulled in first, so that a window wider than the screen keeps its left.
  const int x = std::max(available.left(), std::min(wanted.left(), available.right() + 1 - width));
  const int y = std::max(available.top(), std::min(wanted.top(), available.bottom() + 1 - height));
  return QRect(x, y, width, height);
}

MainWindow::MainWindow(CameraStore& store, PreviewController& preview, Calibrator& calibrator, UserDefaults& defaults,
                       QWidget* parent)
    : QMainWindow(parent), store_(store), preview_(preview), calibrator_(calibrator), defaults_(defaults) {
  setWindowTitle(QStringLiteral("Velto Camera"));  // the application's name, the same in every language

  PreviewOverlays overlays;
  for (const OverlayToggle& toggle : kOverlays) {
    overlays.*toggle.member = defaults_.boolean(QString::fromLatin1(toggle.key)).value_or(toggle.byDefault);
  }
  // The toolbar is made first: the focus moves in the order widgets are made, toolbar first.
  buildToolBar(overlays);
  buildContent();
  buildFramingKeys();
  pane_->setOverlays(overlays);
  loadGeometry();

  if (const std::optional<QByteArray> name = defaults_.data(kToolKey)) {
    for (const ToolEntry& entry : kTools) {
      if (*name == entry.name) calibrator_.setTool(entry.tool);
    }
  }

  connect(&calibrator_, &Calibrator::toolChanged, this, &MainWindow::showTool);
  connect(&calibrator_, &Calibrator::exposureTargetChanged, this, &MainWindow::showTool);
  // The picture follows the store's camera: a new location (another camera, unplugged,
  // re-enumerated elsewhere) is asked for again.
  connect(&store_, &CameraStore::deviceChanged, this, [this] {
    const auto& device = store_.device();
    const std::optional<std::uint32_t> location = device ? std::optional(device->locationID) : std::nullopt;
    if (client_ && location != startedFor_) startPreview();
    showDevice();
    showFraming();
  });
  connect(&store_, &CameraStore::rangesChanged, this, &MainWindow::showFraming);
  connect(snapshots_, &SnapshotCommand::note, pane_, &PreviewPane::showNote);
  showTool();
  showDevice();
}

MainWindow::~MainWindow() {
  if (isVisible()) keepGeometry();
  if (client_) stopPreview();
}

void MainWindow::buildToolBar(const PreviewOverlays& overlays) {
  auto* bar = new QToolBar(tr("Toolbar"), this);
  toolBar_ = bar;
  bar->setObjectName(QStringLiteral("toolbar"));
  bar->setMovable(false);
  bar->setFloatable(false);
  bar->setContextMenuPolicy(Qt::PreventContextMenu);
  bar->setIconSize(QSize(16, 16));
  bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
  addToolBar(Qt::TopToolBarArea, bar);

  // The snapshot at the start, where the eye begins.
  snapshots_ = new SnapshotCommand(preview_, this);
  QAction* snapshot = snapshots_->action();
  snapshot->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
  snapshot->setToolTip(withShortcut(snapshot->text(), snapshot->shortcut()) + QLatin1Char('\n') +
                       tr("Saves the picture at the camera's full resolution in Pictures/Velto Camera"));
  bar->addAction(snapshot);
  if (auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(snapshot))) {
    button->setObjectName(QStringLiteral("snapshotButton"));
    button->setFocusPolicy(Qt::StrongFocus);
    button->setAccessibleName(snapshot->text());
  }
  // The picture's format beside the snapshot whose size it decides.
  auto* format = new FormatPicker(preview_, bar);
  format->setObjectName(QStringLiteral("formatPicker"));
  bar->addWidget(format);

  // The tool picker, one row of exclusive buttons, and the Target picker beside it in one piece
  // that keeps its width while the Target picker is hidden: the tools never move under the pointer.
  bar->addWidget(expanding(bar));
  auto* centre = new QWidget(bar);
  auto* centreRow = new QHBoxLayout(centre);
  centreRow->setContentsMargins(0, 0, 0, 0);
  auto* picker = new QWidget(centre);
  picker->setObjectName(QStringLiteral("tool"));
  picker->setAccessibleName(tr("Tool"));
  const QString toolTip = tr(kToolTip);
  picker->setToolTip(toolTip);
  auto* segments = new QHBoxLayout(picker);
  segments->setContentsMargins(0, 0, 0, 0);
  segments->setSpacing(0);
  tools_ = new QActionGroup(this);
  tools_->setExclusive(true);
  for (const ToolEntry& entry : kTools) {
    const QString title = tr(entry.title);
    auto* action = new QAction(icon(entry.symbol), title, tools_);
    action->setCheckable(true);
    action->setData(int(entry.tool));
    action->setShortcut(QKeySequence(Qt::CTRL | entry.key));
    action->setToolTip(withShortcut(title, action->shortcut()) + QLatin1Char('\n') + toolTip);
    auto* button = new QToolButton(picker);
    button->setDefaultAction(action);
    button->setIconSize(QSize(16, 16));
    button->setAccessibleName(title);
    button->setFocusPolicy(Qt::StrongFocus);
    segments->addWidget(button);
  }
  connect(tools_, &QActionGroup::triggered, this,
          [this](QAction* action) { chooseTool(Tool(action->data().toInt())); });
  addActions(tools_->actions());
  centreRow->addWidget(picker);

  target_ = new QComboBox(centre);
  target_->setObjectName(QStringLiteral("target"));
  target_->setAccessibleName(tr("Target"));
  target_->setToolTip(tr("How bright the clicked spot should end up"));
  for (const TargetEntry& entry : kTargets) target_->addItem(tr(entry.title), entry.value);
  QSizePolicy policy = target_->sizePolicy();
  policy.setRetainSizeWhenHidden(true);
  target_->setSizePolicy(policy);
  connect(target_, &QComboBox::activated, this, [this](int index) {
    calibrator_.setExposureTarget(target_->itemData(index).toDouble());
  });
  // As wide as the Target picker on the other side, so that the tools sit in the middle.
  auto* balance = new QWidget(centre);
  balance->setFixedWidth(target_->sizeHint().width());
  centreRow->insertWidget(0, balance);
  centreRow->addWidget(target_);
  bar->addWidget(centre);
  bar->addWidget(expanding(bar));

  for (const OverlayToggle& toggle : kOverlays) {
    auto* action = bar->addAction(icon(toggle.symbol), tr(toggle.title));
    const QString key = QString::fromLatin1(toggle.key);
    action->setObjectName(key);
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | toggle.shortcut));
    action->setToolTip(withShortcut(tr(toggle.toolTip), action->shortcut()));
    action->setCheckable(true);
    action->setChecked(overlays.*toggle.member);
    connect(action, &QAction::toggled, this, [this, key, member = toggle.member](bool on) {
      defaults_.setBoolean(key, on);
      PreviewOverlays shown = pane_->overlays();
      shown.*member = on;
      pane_->setOverlays(shown);
    });
    if (QWidget* button = bar->widgetForAction(action)) button->setFocusPolicy(Qt::StrongFocus);
    overlays_.append(action);
  }

  // Escape puts a click-to-set tool down, unless something in front (a pop-up, a dialog, a field
  // being edited) wants the key first.
  pointerEscape_ = new QAction(tr("Pointer"), this);
  pointerEscape_->setShortcut(QKeySequence(Qt::Key_Escape));
  connect(pointerEscape_, &QAction::triggered, this, [this] { chooseTool(Tool::none); });
  addAction(pointerEscape_);
}

void MainWindow::buildContent() {
  content_ = new QWidget(this);
  auto* row = new QHBoxLayout(content_);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  pane_ = new PreviewPane(store_, preview_, calibrator_, content_);
  pane_->setMinimumWidth(kMinimumPreviewWidth);
  pane_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  // On the way from the toolbar to the sidebar, so that keyboard users pass the picture too.
  pane_->setFocusPolicy(Qt::StrongFocus);
  new FocusRing(pane_);
  auto* divider = new QFrame(content_);
  divider->setFrameShape(QFrame::VLine);
  divider->setFrameShadow(QFrame::Plain);
  divider->setForegroundRole(QPalette::Mid);
  auto* sidebar = new ControlsSidebar(store_, content_);
  sidebar->setObjectName(QStringLiteral("sidebar"));
  sidebar->setFixedWidth(kSidebarWidth);
  row->addWidget(pane_, 1);
  row->addWidget(divider);
  row->addWidget(sidebar);
  content_->setMinimumHeight(kMinimumHeight);
  setCentralWidget(content_);
}

namespace {

// The desktop's "open-menu" symbol, else three bars in the palette's text colour.
QIcon menuIcon(const QPalette& palette) {
  QIcon themed = QIcon::fromTheme(QStringLiteral("open-menu-symbolic"));
  if (!themed.isNull()) return themed;
  QIcon drawn;
  for (const qreal ratio : {1.0, 2.0}) {
    QPixmap pixmap(QSize(16, 16) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette.color(QPalette::WindowText), 1.5, Qt::SolidLine, Qt::RoundCap));
    for (const qreal y : {4.0, 8.0, 12.0}) painter.drawLine(QPointF(2.5, y), QPointF(13.5, y));
    painter.end();
    drawn.addPixmap(pixmap);
  }
  return drawn;
}

}  // namespace

void MainWindow::addMenuActions(const QList<QAction*>& actions) {
  if (menu_ == nullptr) {
    menu_ = new QMenu(this);
    // The window's own commands, with their shortcuts beside them, then the application's.
    menu_->addAction(snapshots_->action());
    menu_->addSeparator();
    menu_->addActions(tools_->actions());
    menu_->addSeparator();
    menu_->addActions(overlays_);
    menu_->addSeparator();
    QMenu* framing = menu_->addMenu(tr("Pan and Zoom"));
    framing->setObjectName(QStringLiteral("framingMenu"));
    framing->addActions(framing_.mid(0, 2));
    framing->addSeparator();
    framing->addActions(framing_.mid(2));
    menu_->addSeparator();
    auto* button = new QToolButton(toolBar_);
    button->setObjectName(QStringLiteral("menu"));
    button->setIcon(menuIcon(palette()));
    button->setIconSize(QSize(16, 16));
    button->setToolTip(tr("Menu"));
    button->setAccessibleName(tr("Menu"));
    button->setFocusPolicy(Qt::StrongFocus);
    // Popped up by hand rather than through setMenu(), which would draw an arrow beside the bars.
    connect(button, &QToolButton::clicked, this, [this, button] {
      // Under the button, right edges aligned: the button sits at the window's right end.
      menu_->popup(button->mapToGlobal(QPoint(button->width() - menu_->sizeHint().width(), button->height())));
    });
    toolBar_->addSeparator();
    toolBar_->addWidget(button);
    // Made after the window's content, it would come last in the focus order; it belongs to the toolbar.
    if (QWidget* last = toolBar_->widgetForAction(overlays_.last())) setTabOrder(last, button);
  }
  menu_->addActions(actions);
  // Their shortcuts work anywhere in the window, the menu shown or not.
  addActions(actions);
}

void MainWindow::buildFramingKeys() {
  auto add = [this](const char* name, const QString& title, QList<QKeySequence> keys, auto run) {
    auto* action = new QAction(title, this);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcuts(keys);
    connect(action, &QAction::triggered, this, run);
    addAction(action);
    framing_.append(action);
  };
  // Ctrl+Shift with the arrows: the plain arrows belong to the focused slider or pad, Ctrl+Alt
  // with them switches workspaces on GNOME and Xfce, Alt+Down opens a focused pop-up list, and
  // Meta with them tiles windows.
  add("zoomIn", tr("Zoom In"), {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
      [this] { zoomBy(1); });
  add("zoomOut", tr("Zoom Out"), {QKeySequence(Qt::CTRL | Qt::Key_Minus)}, [this] { zoomBy(-1); });
  add("panLeft", tr("Pan Left"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Left)}, [this] { pressPadKey(Qt::Key_Left); });
  add("panRight", tr("Pan Right"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Right)},
      [this] { pressPadKey(Qt::Key_Right); });
  add("tiltUp", tr("Tilt Up"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Up)}, [this] { pressPadKey(Qt::Key_Up); });
  add("tiltDown", tr("Tilt Down"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Down)},
      [this] { pressPadKey(Qt::Key_Down); });
  add("centre", tr("Centre the View"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Home)},
      [this] { pressPadKey(Qt::Key_Home); });
  showFraming();
}

void MainWindow::showFraming() {
  const bool zoom = store_.supports(ControlID::zoom);
  const bool pan = store_.supports(ControlID::pan);
  const bool tilt = store_.supports(ControlID::tilt);
  const std::array<bool, 7> enabled{zoom, zoom, pan, pan, tilt, tilt, pan || tilt};
  for (int i = 0; i < framing_.size(); ++i) framing_[i]->setEnabled(enabled[std::size_t(i)]);
}

void MainWindow::pressPadKey(Qt::Key key) {
  auto* pad = findChild<FramingPad*>();
  if (pad == nullptr) return;
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QCoreApplication::sendEvent(pad, &press);
}

void MainWindow::zoomBy(int direction) {
  const auto found = store_.ranges().find(ControlID::zoom);
  if (!store_.supports(ControlID::zoom) || found == store_.ranges().end()) return;
  const ControlRange& range = found->second;
  const std::int64_t now = store_.value(ControlID::zoom);
  const double target = std::clamp(framing::normalized(range, now) + direction * kZoomStep, -1.0, 1.0);
  std::int64_t next = framing::targetValue(range, target);
  // A range of a few steps still moves one step per key.
  if (next == now) next = std::clamp(now + direction * std::max<std::int64_t>(range.step, 1), range.min, range.max);
  if (next != now) store_.set(ControlID::zoom, next);
}

void MainWindow::chooseTool(Tool tool) {
  calibrator_.setTool(tool);
  for (const ToolEntry& entry : kTools) {
    if (entry.tool == tool) defaults_.setData(kToolKey, QByteArray(entry.name));
  }
}

void MainWindow::showTool() {
  const Tool tool = calibrator_.tool();
  for (QAction* action : tools_->actions()) {
    if (Tool(action->data().toInt()) == tool) action->setChecked(true);
  }
  // The Target picker belongs to the exposure tool alone.
  target_->setVisible(tool == Tool::exposure);
  pointerEscape_->setEnabled(tool != Tool::none);
  int nearest = 0;
  for (int i = 1; i < int(kTargets.size()); ++i) {
    if (std::abs(kTargets[i].value - calibrator_.exposureTarget()) <
        std::abs(kTargets[nearest].value - calibrator_.exposureTarget())) {
      nearest = i;
    }
  }
  target_->setCurrentIndex(nearest);
}

void MainWindow::showDevice() {
  // Without a camera there is no picture to click or to draw over, nor one to measure with: the
  // tools rest while a reset has the camera off the bus too.
  const bool camera = store_.device().has_value();
  tools_->setEnabled(camera);
  target_->setEnabled(camera);
  for (QAction* action : overlays_) action->setEnabled(camera);
}

void MainWindow::loadGeometry() {
  resize(kDefaultSize);
  const std::optional<SavedGeometry> saved = savedGeometry(defaults_);
  if (!saved) return;
  resize(saved->size);
  if (saved->position && placesWindows()) move(*saved->position);
  if (saved->maximized) setWindowState(windowState() | Qt::WindowMaximized);
}

void MainWindow::keepGeometry() {
  const bool maximized = isMaximized();
  const QRect normal = maximized ? normalGeometry() : geometry();
  QJsonObject object{{QStringLiteral("width"), normal.width()}, {QStringLiteral("height"), normal.height()}};
  if (placesWindows()) {
    const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    const QPoint position = maximized ? normal.topLeft() - QPoint(frame.left(), frame.top()) : pos();
    object.insert(QStringLiteral("x"), position.x());
    object.insert(QStringLiteral("y"), position.y());
  }
  if (maximized) object.insert(QStringLiteral("maximized"), true);
  defaults_.setData(kGeometryKey, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

void MainWindow::fitToScreen() {
  if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized)) return;
  // Known once the window has had a frame; the window manager fits a first frame itself.
  const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
  const QSize frameSize(frame.left() + frame.right(), frame.top() + frame.bottom());
  // A position of our own: saved, or where the window was before it was hidden.
  const bool positioned = placesWindows() && (shownBefore_ || testAttribute(Qt::WA_Moved));
  QScreen* screen = positioned ? QGuiApplication::screenAt(QRect(pos(), size() + frameSize).center()) : nullptr;
  if (screen == nullptr) screen = this->screen();
  const QRect available = screen->availableGeometry();

  content_->setMinimumHeight(kMinimumHeight);
  layout()->activate();
  const QSize least = minimumSize() + frameSize;
  const QRect fitted =
      fitWindowToScreen(QRect(positioned ? pos() : available.topLeft(), size() + frameSize), available, least);
  // On a screen lower than that, the sidebar and the picture give way and the sidebar scrolls.
  if (fitted.height() < least.height()) {
    content_->setMinimumHeight(std::max(0, kMinimumHeight - (least.height() - fitted.height())));
    layout()->activate();
  }
  resize(fitted.size() - frameSize);
  if (positioned) move(fitted.topLeft());
}

void MainWindow::startPreview() {
  const auto& device = store_.device();
  startedFor_ = device ? std::optional(device->locationID) : std::nullopt;
  client_ = true;
  preview_.start(QStringLiteral("window"), startedFor_, device ? std::optional(device->key) : std::nullopt);
}

void MainWindow::stopPreview() {
  client_ = false;
  preview_.stop(QStringLiteral("window"));
  calibrator_.cancel();
}

void MainWindow::showEvent(QShowEvent* event) {
  // Sent before the window reaches the screen: a screen smaller than the window wants, or one
  // that is gone, is met before anything is drawn.
  if (!event->spontaneous()) {
    fitToScreen();
    shownBefore_ = true;
  }
  QMainWindow::showEvent(event);
  // Restoring a minimised window is spontaneous and changes nothing.
  if (!event->spontaneous() && !client_) startPreview();
}

void MainWindow::hideEvent(QHideEvent* event) {
  QMainWindow::hideEvent(event);
  // Closed or hidden by the application; a minimised window keeps its picture.
  if (!event->spontaneous()) {
    keepGeometry();
    if (client_) stopPreview();
    emit closed();
  }
}

}  // namespace velto::views
