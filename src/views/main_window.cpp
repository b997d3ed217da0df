#include "views/main_window.h"

#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QShowEvent>
#include <QToolBar>
#include <QToolButton>
#include <array>

#include "capture/calibrator.h"
#include "capture/preview_controller.h"
#include "model/camera_store.h"
#include "platform/session/user_defaults.h"
#include "views/controls_sidebar.h"
#include "views/icons.h"

namespace velto::views {

namespace {

using Tool = Calibrator::Tool;

const QString kToolTip = QStringLiteral(
    "Pick a tool, then click the preview: white balance wants something neutral grey/white; exposure wants your "
    "face or subject.");

struct ToolEntry {
  Tool tool;
  const char* title;
  std::string_view symbol;
};
constexpr std::array<ToolEntry, 3> kTools{{
    {Tool::none, "Pointer", "cursorarrow"},
    {Tool::whiteBalance, "Click to Set White Balance", "eyedropper"},
    {Tool::exposure, "Click to Set Exposure", "camera.metering.spot"},
}};

struct TargetEntry {
  const char* title;
  double value;
};
constexpr std::array<TargetEntry, 3> kTargets{{{"Darker", 0.4}, {"Normal", 0.5}, {"Brighter", 0.6}}};

struct OverlayToggle {
  const char* key;
  bool PreviewOverlays::*member;
  bool byDefault;
  const char* title;
  std::string_view symbol;
  const char* toolTip;
};
constexpr std::array<OverlayToggle, 4> kOverlays{{
    {"overlay.grid", &PreviewOverlays::grid, false, "Grid", "squareshape.split.3x3", "Rule-of-thirds grid"},
    {"overlay.clipping", &PreviewOverlays::clipping, false, "Clipping", "exclamationmark.triangle",
     "Highlight blown highlights (red) and crushed shadows (blue)"},
    {"overlay.histogram", &PreviewOverlays::histogram, true, "Histogram", "chart.bar.xaxis", "Histogram"},
    {"overlay.mirror", &PreviewOverlays::mirror, true, "Mirror",
     "arrow.left.and.right.righttriangle.left.righttriangle.right",
     "Mirror the preview (affects only this window, not other apps)"},
}};

QWidget* expanding(QWidget* parent) {
  auto* spacer = new QWidget(parent);
  spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  return spacer;
}

}  // namespace

MainWindow::MainWindow(CameraStore& store, PreviewController& preview, Calibrator& calibrator, UserDefaults& defaults,
                       QWidget* parent)
    : QMainWindow(parent), store_(store), preview_(preview), calibrator_(calibrator), defaults_(defaults) {
  setWindowTitle(QStringLiteral("Velto Camera"));

  auto* content = new QWidget(this);
  auto* row = new QHBoxLayout(content);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  pane_ = new PreviewPane(store, preview, calibrator, content);
  pane_->setMinimumWidth(kMinimumPreviewWidth);
  pane_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  auto* divider = new QFrame(content);
  divider->setFrameShape(QFrame::VLine);
  divider->setFrameShadow(QFrame::Plain);
  divider->setForegroundRole(QPalette::Mid);
  auto* sidebar = new ControlsSidebar(store, content);
  sidebar->setObjectName(QStringLiteral("sidebar"));
  sidebar->setFixedWidth(kSidebarWidth);
  row->addWidget(pane_, 1);
  row->addWidget(divider);
  row->addWidget(sidebar);
  content->setMinimumHeight(kMinimumHeight);
  setCentralWidget(content);

  PreviewOverlays overlays;
  for (const OverlayToggle& toggle : kOverlays) {
    overlays.*toggle.member = defaults_.boolean(QString::fromLatin1(toggle.key)).value_or(toggle.byDefault);
  }
  pane_->setOverlays(overlays);
  buildToolBar();
  resize(1100, 680);

  connect(&calibrator_, &Calibrator::toolChanged, this, &MainWindow::showTool);
  connect(&calibrator_, &Calibrator::exposureTargetChanged, this, &MainWindow::showTool);
  // The picture follows the store's camera: a new location (another camera, unplugged,
  // re-enumerated elsewhere) is asked for again.
  connect(&store_, &CameraStore::deviceChanged, this, [this] {
    const auto& device = store_.device();
    const std::optional<std::uint32_t> location = device ? std::optional(device->locationID) : std::nullopt;
    if (client_ && location != startedFor_) startPreview();
  });
  showTool();
}

MainWindow::~MainWindow() {
  if (client_) stopPreview();
}

void MainWindow::buildToolBar() {
  auto* bar = new QToolBar(QStringLiteral("Toolbar"), this);
  toolBar_ = bar;
  bar->setObjectName(QStringLiteral("toolbar"));
  bar->setMovable(false);
  bar->setFloatable(false);
  bar->setContextMenuPolicy(Qt::PreventContextMenu);
  bar->setIconSize(QSize(16, 16));
  bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
  addToolBar(Qt::TopToolBarArea, bar);

  // The tool picker: one row of exclusive buttons, centred.
  bar->addWidget(expanding(bar));
  auto* picker = new QWidget(bar);
  picker->setObjectName(QStringLiteral("tool"));
  picker->setAccessibleName(QStringLiteral("Tool"));
  picker->setToolTip(kToolTip);
  auto* segments = new QHBoxLayout(picker);
  segments->setContentsMargins(0, 0, 0, 0);
  segments->setSpacing(0);
  tools_ = new QButtonGroup(picker);
  tools_->setExclusive(true);
  for (const ToolEntry& entry : kTools) {
    auto* button = new QToolButton(picker);
    const QString title = QString::fromLatin1(entry.title);
    button->setIcon(icon(entry.symbol));
    button->setIconSize(QSize(16, 16));
    button->setCheckable(true);
    button->setAccessibleName(title);
    button->setToolTip(title + QLatin1Char('\n') + kToolTip);
    button->setFocusPolicy(Qt::StrongFocus);
    tools_->addButton(button, int(entry.tool));
    segments->addWidget(button);
  }
  connect(tools_, &QButtonGroup::idClicked, this, [this](int id) { calibrator_.setTool(Tool(id)); });
  bar->addWidget(picker);

  target_ = new QComboBox(bar);
  target_->setObjectName(QStringLiteral("target"));
  target_->setAccessibleName(QStringLiteral("Target"));
  target_->setToolTip(QStringLiteral("How bright the clicked spot should end up"));
  for (const TargetEntry& entry : kTargets) target_->addItem(QString::fromLatin1(entry.title), entry.value);
  connect(target_, &QComboBox::activated, this, [this](int index) {
    calibrator_.setExposureTarget(target_->itemData(index).toDouble());
  });
  targetAction_ = bar->addWidget(target_);
  bar->addWidget(expanding(bar));

  for (const OverlayToggle& toggle : kOverlays) {
    auto* action = bar->addAction(icon(toggle.symbol), QString::fromLatin1(toggle.title));
    const QString key = QString::fromLatin1(toggle.key);
    action->setObjectName(key);
    action->setToolTip(QString::fromLatin1(toggle.toolTip));
    action->setCheckable(true);
    action->setChecked(pane_->overlays().*toggle.member);
    connect(action, &QAction::toggled, this, [this, key, member = toggle.member](bool on) {
      defaults_.setBoolean(key, on);
      PreviewOverlays overlays = pane_->overlays();
      overlays.*member = on;
      pane_->setOverlays(overlays);
    });
    if (QWidget* button = bar->widgetForAction(action)) button->setFocusPolicy(Qt::StrongFocus);
  }
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
    auto* button = new QToolButton(toolBar_);
    button->setObjectName(QStringLiteral("menu"));
    button->setIcon(menuIcon(palette()));
    button->setIconSize(QSize(16, 16));
    button->setToolTip(QStringLiteral("Menu"));
    button->setAccessibleName(QStringLiteral("Menu"));
    button->setFocusPolicy(Qt::StrongFocus);
    // Popped up by hand rather than through setMenu(), which would draw an arrow beside the bars.
    connect(button, &QToolButton::clicked, this, [this, button] {
      // Under the button, right edges aligned: the button sits at the window's right end.
      menu_->popup(button->mapToGlobal(QPoint(button->width() - menu_->sizeHint().width(), button->height())));
    });
    toolBar_->addSeparator();
    toolBar_->addWidget(button);
  }
  menu_->addActions(actions);
  // Their shortcuts work anywhere in the window, the menu shown or not.
  addActions(actions);
}

void MainWindow::showTool() {
  const Tool tool = calibrator_.tool();
  if (QAbstractButton* button = tools_->button(int(tool))) button->setChecked(true);
  // The Target picker belongs to the exposure tool alone.
  targetAction_->setVisible(tool == Tool::exposure);
  int nearest = 0;
  for (int i = 1; i < int(kTargets.size()); ++i) {
    if (std::abs(kTargets[i].value - calibrator_.exposureTarget()) <
        std::abs(kTargets[nearest].value - calibrator_.exposureTarget())) {
      nearest = i;
    }
  }
  target_->setCurrentIndex(nearest);
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
  QMainWindow::showEvent(event);
  // Restoring a minimised window is spontaneous and changes nothing.
  if (!event->spontaneous() && !client_) startPreview();
}

void MainWindow::hideEvent(QHideEvent* event) {
  QMainWindow::hideEvent(event);
  // Closed or hidden by the application; a minimised window keeps its picture.
  if (!event->spontaneous() && client_) stopPreview();
}

}  // namespace velto::views
