// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/menu_bar_view.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "app/software_update.h"
#include "capture/exposure_format.h"
#include "capture/preview_controller.h"
#include "model/camera_store.h"
#include "platform/session/user_defaults.h"
#include "views/auto_toggle.h"
#include "views/control_slider.h"
#include "views/icons.h"
#include "views/look.h"
#include "views/preview_layer_view.h"
#include "views/preview_pane.h"
#include "views/sidebar_section.h"
#include "views/snapshot_command.h"
#include "views/value_viewer.h"

namespace velto::app {

namespace {

const QString kMenuClient = QStringLiteral("menu");
const QString kMirrorKey = QStringLiteral("overlay.mirror");
constexpr int kPreviewWidth = MenuBarView::kWidth - 2 * MenuBarView::kPadding;  // 292
constexpr int kCornerRadius = 8;
constexpr int kGap = 4;  // between the tray icon (or pointer) and the panel
constexpr int kNoteMs = 8000;  // as long as the window's hint line keeps a note

// The connected camera's symbol: the green of a live camera, as the main window's status uses.
const QColor kLiveGreen(40, 170, 75);

QString zoomFactor(const CameraStore& store, std::int64_t v) {
  const auto it = store.ranges().find(ControlID::zoom);
  if (it == store.ranges().end() || it->second.min <= 0) return QString::number(v);
  return QString::asprintf("%.2f", double(v) / double(it->second.min)) + QChar(0x00D7);
}

QFrame* divider(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Plain);
  line->setForegroundRole(QPalette::Mid);
  return line;
}

// One vertical placement beside `anchor`: below it when it sits in the upper half of the work
// area, else above; the other side when the first does not fit and the other does.
int besideVertically(const QRect& anchor, int height, const QRect& available) {
  const int below = anchor.bottom() + 1 + kGap;
  const int above = anchor.top() - kGap - height;
  const bool fitsBelow = below + height <= available.bottom() + 1;
  const bool fitsAbove = above >= available.top();
  if (anchor.center().y() < available.center().y()) return fitsBelow || !fitsAbove ? below : above;
  return fitsAbove || !fitsBelow ? above : below;
}

}  // namespace

QPoint panelPosition(std::optional<QRect> iconGeometry, QPoint pointer, QSize panelSize, QRect available) {
  const bool known = iconGeometry && iconGeometry->isValid() && !iconGeometry->isEmpty();
  const QRect anchor = known ? *iconGeometry : QRect(pointer, QSize(1, 1));
  const int w = panelSize.width();
  const int h = panelSize.height();
  int x = 0;
  int y = 0;
  if (anchor.right() < available.left()) {  // a vertical bar on the left
    x = anchor.right() + 1 + kGap;
    y = anchor.center().y() - h / 2;
  } else if (anchor.left() > available.right()) {  // on the right
    x = anchor.left() - kGap - w;
    y = anchor.center().y() - h / 2;
  } else {  // a horizontal bar, or the pointer anywhere
    x = anchor.center().x() - w / 2;
    y = besideVertically(anchor, h, available);
  }
  // Inside the work area; a panel larger than it keeps its top-left corner visible.
  x = std::max(available.left(), std::min(x, available.right() + 1 - w));
  y = std::max(available.top(), std::min(y, available.bottom() + 1 - h));
  return {x, y};
}

PanelPlacement panelPlacement(QStringView platformName) {
  // "wayland", and the plugins named after it ("wayland-egl", "wayland-brcm").
  return platformName.startsWith(u"wayland") ? PanelPlacement::byCompositor : PanelPlacement::besideIcon;
}

QSize miniPreviewSize(std::optional<QSizeF> frameSize) {
  double aspect = 16.0 / 9.0;
  if (frameSize && frameSize->width() > 0 && frameSize->height() > 0) aspect = frameSize->width() / frameSize->height();
  // A camera reporting a sliver of a picture must not push the panel off the screen.
  aspect = std::clamp(std::isfinite(aspect) ? aspect : 16.0 / 9.0, 0.5, 4.0);
  return {kPreviewWidth, int(std::lround(kPreviewWidth / aspect))};
}

// --- Small pieces -------------------------------------------------------------------------------

// A one-line label that ends in "…" when its text is wider than the room it gets.
class ElidingLabel : public QLabel {
 public:
  explicit ElidingLabel(QWidget* parent) : QLabel(parent) { setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred); }

  void setFullText(const QString& text) {
    full_ = text;
    setAccessibleName(text);
    elide();
  }
  const QString& fullText() const { return full_; }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QLabel::resizeEvent(event);
    elide();
  }

 private:
  void elide() {
    const QString shown = fontMetrics().elidedText(full_, Qt::ElideRight, std::max(0, width()));
    setText(shown);
    setToolTip(shown == full_ ? QString() : full_);
  }

  QString full_;
};

namespace {

// The panel's colour outside a rounded rectangle, laid over the picture's corners.
class RoundCorners : public QWidget {
 public:
  explicit RoundCorners(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_TransparentForMouseEvents); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath outside;
    outside.addRect(rect());
    QPainterPath inside;
    inside.addRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
    painter.fillPath(outside.subtracted(inside), palette().color(QPalette::Window));
  }
};

// A preset as a full-width row: its name, and a checkmark while it is the active one. Applies on
// click (and Space). Checked for assistive tools, but only the store changes that.
class PresetRow : public QAbstractButton {
 public:
  PresetRow(const QString& name, QWidget* parent) : QAbstractButton(parent) {
    setText(name);
    setAccessibleName(name);
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  }

  QSize sizeHint() const override { return {kPreviewWidth, std::max(fontMetrics().height(), 16) + 8}; }

 protected:
  void nextCheckState() override {}

  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (underMouse() || hasFocus() || isDown()) {
      QColor wash = palette().color(QPalette::Highlight);
      wash.setAlphaF(isDown() ? 0.35f : hasFocus() ? 0.25f : 0.15f);
      painter.setPen(Qt::NoPen);
      painter.setBrush(wash);
      painter.drawRoundedRect(QRectF(rect()), 5, 5);
    }
    constexpr int inset = 6;
    const QRect check(width() - inset - 16, (height() - 16) / 2, 16, 16);
    const QRect label(inset, 0, check.left() - 2 * inset, height());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(label, Qt::AlignVCenter | Qt::AlignLeft, fontMetrics().elidedText(text(), Qt::ElideRight, label.width()));
    if (isChecked()) views::icon("checkmark").paint(&painter, check);
  }
};

}  // namespace

// --- Mini preview -------------------------------------------------------------------------------

MiniPreview::MiniPreview(CameraStore& store, PreviewController& preview, UserDefaults& defaults, QWidget* parent)
    : QWidget(parent), store_(store), preview_(preview), defaults_(defaults) {
  setObjectName(QStringLiteral("miniPreview"));
  setAccessibleName(tr("Preview"));
  layer_ = new views::PreviewLayerView(preview, this);
  placeholder_ = new QLabel(this);
  placeholder_->setAlignment(Qt::AlignCenter);
  placeholder_->setWordWrap(true);
  // Secondary text on black: white, dimmed, in the caption size.
  QPalette dim = placeholder_->palette();
  dim.setColor(QPalette::WindowText, QColor::fromRgbF(1, 1, 1, 0.6f));
  placeholder_->setPalette(dim);
  QFont caption = placeholder_->font();
  caption.setPointSizeF(caption.pointSizeF() * 0.9);
  placeholder_->setFont(caption);
  badge_ = new views::RecoveringBadge(this);
  // Who has the camera, over the greyed picture: white on a dark, rounded backing, wrapped on two
  // lines where the panel is too narrow for one.
  pausedNote_ = new QLabel(this);
  pausedNote_->setObjectName(QStringLiteral("pausedNote"));
  pausedNote_->setAlignment(Qt::AlignCenter);
  pausedNote_->setWordWrap(true);
  pausedNote_->setFont(caption);
  pausedNote_->setStyleSheet(QStringLiteral("QLabel { color: white; background: rgba(0, 0, 0, 150); border-radius: 8px;"
                                            " padding: 4px 10px; }"));
  corners_ = new RoundCorners(this);

  for (auto signal : {&PreviewController::stateChanged, &PreviewController::statsChanged,
                      &PreviewController::recoveringChanged, &PreviewController::pausedChanged}) {
    connect(&preview_, signal, this, &MiniPreview::refresh);
  }
  connect(&store_, &CameraStore::resettingChanged, this, &MiniPreview::refresh);
  // Another camera, or the same one back at another place: ask for its picture.
  connect(&store_, &CameraStore::deviceChanged, this, [this] {
    const auto& device = store_.device();
    if (client_ && (device ? std::optional(device->locationID) : std::nullopt) != startedFor_) start();
  });
  refresh();
}

MiniPreview::~MiniPreview() {
  if (client_) stop();
}

QString MiniPreview::placeholderText() const { return placeholder_->isHidden() ? QString() : placeholder_->text(); }

void MiniPreview::refresh() {
  const bool denied = preview_.state() == PreviewController::State::unauthorized;
  // Let go for another program: the last picture stays, greyed, under who has the camera.
  const auto& paused = preview_.pausedFor();
  placeholder_->setText(denied ? tr("Camera access needed for preview") : QString());
  placeholder_->setVisible(denied);
  layer_->setVisible(!denied);
  layer_->setDimmed(paused.has_value());
  pausedNote_->setText(paused ? views::pausedText(*paused) : QString());
  pausedNote_->setVisible(!denied && paused);
  layOutNotes();
  badge_->setVisible(!denied && (preview_.recovering() || store_.isResetting()));
  const auto& stats = preview_.stats();
  setFixedSize(miniPreviewSize(stats ? std::optional(stats->size) : std::nullopt));
}

void MiniPreview::layOutNotes() {
  const QRect all = rect();
  const QSize badge = badge_->sizeHint().boundedTo(all.size());
  badge_->setGeometry(QRect(QPoint((all.width() - badge.width()) / 2, (all.height() - badge.height()) / 2), badge));
  const int width = std::min(pausedNote_->sizeHint().width(), all.width() - 24);
  const QSize note(width, pausedNote_->heightForWidth(width));
  pausedNote_->setGeometry(QRect(QPoint((all.width() - note.width()) / 2, (all.height() - note.height()) / 2), note));
}

void MiniPreview::start() {
  const auto& device = store_.device();
  startedFor_ = device ? std::optional(device->locationID) : std::nullopt;
  client_ = true;
  preview_.start(kMenuClient, startedFor_, device ? std::optional(device->key) : std::nullopt);
}

void MiniPreview::stop() {
  client_ = false;
  preview_.stop(kMenuClient);
}

void MiniPreview::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The window may have changed the setting since the panel was last open.
  layer_->setMirrored(defaults_.boolean(kMirrorKey).value_or(true));
  if (!client_) start();
}

void MiniPreview::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (client_) stop();
}

void MiniPreview::resizeEvent(QResizeEvent*) {
  const QRect all = rect();
  layer_->setGeometry(all);
  placeholder_->setGeometry(all.adjusted(12, 0, -12, 0));
  layOutNotes();
  corners_->setGeometry(all);
  corners_->raise();
}

void MiniPreview::paintEvent(QPaintEvent*) { QPainter(this).fillRect(rect(), Qt::black); }

// --- The panel ----------------------------------------------------------------------------------

namespace {

PanelPlacement resolved(std::optional<PanelPlacement> placement) {
  return placement.value_or(panelPlacement(QGuiApplication::platformName()));
}

// Beside the icon a popup: it grabs the pointer and closes on a click outside. A popup without a
// parent window cannot be shown as one on Wayland, and Qt's grab compares global positions that
// a Wayland client does not know: there it is a tool window the compositor places and focuses.
Qt::WindowFlags panelFlags(PanelPlacement placement) {
  return (placement == PanelPlacement::besideIcon ? Qt::Popup : Qt::Tool) | Qt::FramelessWindowHint;
}

}  // namespace

MenuBarView::MenuBarView(CameraStore& store, PreviewController& preview, SoftwareUpdate& updates,
                         UserDefaults& defaults, QWidget* parent, std::optional<PanelPlacement> placement)
    : QWidget(parent, panelFlags(resolved(placement))),
      store_(store),
      updates_(updates),
      placement_(resolved(placement)) {
  setObjectName(QStringLiteral("menuBarPanel"));
  setAccessibleName(QStringLiteral("Velto Camera"));  // the application's name
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSizeConstraint(QLayout::SetFixedSize);  // the popup follows its sections
  auto* column = new QWidget(this);
  column->setFixedWidth(kWidth);
  outer->addWidget(column);
  auto* stack = new QVBoxLayout(column);
  stack->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
  stack->setSpacing(12);

  // Header: the camera and its reset.
  auto* header = new QHBoxLayout();
  header->setContentsMargins(0, 0, 0, 0);
  symbol_ = new QLabel(column);
  symbol_->setObjectName(QStringLiteral("cameraSymbol"));
  symbol_->setFixedSize(16, 16);
  name_ = new ElidingLabel(column);
  name_->setObjectName(QStringLiteral("cameraName"));
  QFont headline = name_->font();
  headline.setBold(true);
  name_->setFont(headline);
  reset_ = new QToolButton(column);
  reset_->setObjectName(QStringLiteral("resetCamera"));
  reset_->setAutoRaise(true);
  reset_->setIcon(views::icon("arrow.clockwise"));
  reset_->setIconSize(QSize(16, 16));
  reset_->setFocusPolicy(Qt::StrongFocus);
  reset_->setAccessibleName(tr("Reset Camera"));
  reset_->setToolTip(
      tr("Reset Camera: reconnect it on USB, as if unplugged and plugged back in. Use if the picture is black or frozen."));
  connect(reset_, &QToolButton::clicked, this, [this] { store_.resetCamera(); });
  snapshots_ = new views::SnapshotCommand(preview, this);
  snapshot_ = new QToolButton(column);
  snapshot_->setObjectName(QStringLiteral("snapshot"));
  snapshot_->setAutoRaise(true);
  snapshot_->setDefaultAction(snapshots_->action());
  snapshot_->setIconSize(QSize(16, 16));
  snapshot_->setFocusPolicy(Qt::StrongFocus);
  snapshot_->setAccessibleName(snapshots_->action()->text());
  snapshots_->action()->setToolTip(
      tr("Take Snapshot: save the picture at the camera's full resolution in Pictures/Velto Camera"));
  header->addWidget(symbol_);
  header->addWidget(name_, 1);
  header->addWidget(snapshot_);
  header->addWidget(reset_);
  stack->addLayout(header);
  // The store's message (a reset that failed, ...), as the window shows it.
  error_ = views::errorLabel(column);
  error_->setObjectName(QStringLiteral("error"));
  error_->setWordWrap(true);
  stack->addWidget(error_);
  note_ = new QLabel(column);
  note_->setObjectName(QStringLiteral("note"));
  note_->setWordWrap(true);
  note_->hide();
  views::makeSecondary(note_);
  stack->addWidget(note_);
  noteTimer_ = new QTimer(this);
  noteTimer_->setSingleShot(true);
  noteTimer_->setInterval(kNoteMs);
  connect(noteTimer_, &QTimer::timeout, note_, &QLabel::hide);
  connect(snapshots_, &views::SnapshotCommand::note, this, [this](const QString& text) {
    note_->setText(text);
    note_->show();
    noteTimer_->start();
  });

  body_ = buildCameraBody(preview, defaults, column);
  stack->addWidget(body_);
  stack->addWidget(divider(column));

  notice_ = new QToolButton(column);
  notice_->setObjectName(QStringLiteral("updateNotice"));
  notice_->setAutoRaise(true);
  notice_->setFocusPolicy(Qt::StrongFocus);
  connect(notice_, &QToolButton::clicked, this, [this] {
    hide();
    emit checkForUpdatesRequested();
  });
  stack->addWidget(notice_, 0, Qt::AlignLeft);

  // Footer.
  auto* footer = new QHBoxLayout();
  footer->setContentsMargins(0, 0, 0, 0);
  // Borderless, as in the desktop's own tray popups: three framed buttons do not fit 292 px.
  auto footerButton = [column](const QString& text, const char* name) {
    auto* button = new QToolButton(column);
    button->setText(text);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
  };
  auto* open = footerButton(tr("Open Velto Camera"), "openWindow");
  connect(open, &QToolButton::clicked, this, [this] {
    hide();
    emit openWindowRequested();
  });
  check_ = footerButton(tr("Check for Updates…"), "checkForUpdates");
  connect(check_, &QToolButton::clicked, this, [this] {
    hide();
    emit checkForUpdatesRequested();
  });
  auto* quit = footerButton(tr("Quit"), "quit");
  connect(quit, &QToolButton::clicked, this, &MenuBarView::quitRequested);
  footer->setSpacing(2);
  footer->addWidget(open);
  footer->addStretch(1);
  footer->addWidget(check_);
  footer->addWidget(quit);
  stack->addLayout(footer);

  connect(&store_, &CameraStore::deviceChanged, this, [this] {
    renderHeader();
    renderPresets();
  });
  connect(&store_, &CameraStore::resettingChanged, this, &MenuBarView::renderHeader);
  connect(&store_, &CameraStore::lastErrorChanged, this, &MenuBarView::renderHeader);
  connect(&store_, &CameraStore::presetsChanged, this, &MenuBarView::renderPresets);
  connect(&store_, &CameraStore::valuesChanged, this, &MenuBarView::renderChecks);
  connect(&updates_, &SoftwareUpdate::pendingVersionChanged, this, &MenuBarView::renderUpdates);
  renderHeader();
  renderPresets();
  renderUpdates();
  // The panel shows values: while it is on screen the camera is read back as for the window.
  views::reportShowingValues(this, store_);
}

QWidget* MenuBarView::buildCameraBody(PreviewController& preview, UserDefaults& defaults, QWidget* parent) {
  using views::AutoToggle;
  using views::ControlSlider;
  auto* body = new QWidget(parent);
  body->setObjectName(QStringLiteral("cameraBody"));
  auto* stack = new QVBoxLayout(body);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->setSpacing(12);
  mini_ = new MiniPreview(store_, preview, defaults, body);
  stack->addWidget(mini_, 0, Qt::AlignHCenter);

  // Presets: a caption over one row each, then a divider; absent without presets.
  presets_ = new QWidget(body);
  presets_->setObjectName(QStringLiteral("presets"));
  auto* presetsColumn = new QVBoxLayout(presets_);
  presetsColumn->setContentsMargins(0, 0, 0, 0);
  presetsColumn->setSpacing(2);
  auto* caption = new QLabel(tr("Presets"), presets_);
  views::makeSecondary(caption);
  presetsColumn->addWidget(caption);
  presetRows_ = new QWidget(presets_);
  auto* rows = new QVBoxLayout(presetRows_);
  rows->setContentsMargins(0, 0, 0, 0);
  rows->setSpacing(0);
  presetsColumn->addWidget(presetRows_);
  presetsColumn->addSpacing(10);  // with the 2 above: the panel's 12 before the divider
  presetsColumn->addWidget(divider(presets_));
  stack->addWidget(presets_);

  // The auto modes, Refocus beside auto focus.
  auto* toggles = new QWidget(body);
  toggles->setObjectName(QStringLiteral("toggles"));
  auto* togglesColumn = new QVBoxLayout(toggles);
  togglesColumn->setContentsMargins(0, 0, 0, 0);
  togglesColumn->setSpacing(6);
  togglesColumn->addWidget(new AutoToggle(store_, ControlID::autoExposure, std::nullopt, toggles));
  togglesColumn->addWidget(new AutoToggle(store_, ControlID::autoWhiteBalance, std::nullopt, toggles));
  auto* focusRow = new QHBoxLayout();
  focusRow->setContentsMargins(0, 0, 0, 0);
  focusRow->addWidget(new AutoToggle(store_, ControlID::autoFocus, std::nullopt, toggles));
  focusRow->addStretch(1);
  refocus_ = views::headerButton(tr("Refocus"), tr("Restart autofocus if the image is soft"), toggles);
  refocus_->setObjectName(QStringLiteral("refocus"));
  refocus_->setFocusPolicy(Qt::StrongFocus);
  connect(refocus_, &QToolButton::clicked, this, [this] { store_.refocus(); });
  focusRow->addWidget(refocus_);
  togglesColumn->addLayout(focusRow);
  stack->addWidget(toggles);

  stack->addWidget(new ControlSlider(store_, ControlID::exposure, true, &ExposureFormat::string, body));
  stack->addWidget(new ControlSlider(store_, ControlID::whiteBalance, false,
                                     [](std::int64_t v) { return QString::number(v) + QStringLiteral(" K"); }, body));
  stack->addWidget(new ControlSlider(store_, ControlID::zoom, false,
                                     [this](std::int64_t v) { return zoomFactor(store_, v); }, body));
  return body;
}

void MenuBarView::renderHeader() {
  // While a reset has the camera off the bus it is still the camera shown, and coming back.
  const auto& device = store_.device() ? store_.device() : store_.resettingCamera();
  if (device) {
    symbol_->setPixmap(views::icon("video.fill", kLiveGreen).pixmap(QSize(16, 16), devicePixelRatioF()));
  } else {
    symbol_->setPixmap(
        views::icon("video.slash", palette().color(QPalette::PlaceholderText)).pixmap(QSize(16, 16), devicePixelRatioF()));
  }
  symbol_->setAccessibleName(device ? tr("Camera connected") : tr("No camera"));
  name_->setFullText(device ? device->name : tr("No camera connected"));
  reset_->setVisible(device.has_value());
  snapshot_->setVisible(store_.device().has_value());
  reset_->setEnabled(!store_.isResetting());
  body_->setVisible(device.has_value());
  const std::optional<UserText>& error = store_.lastErrorMessage();
  error_->setText(error ? error->translated() : QString());
  error_->setVisible(error.has_value());
  refocus_->setVisible(store_.supports(ControlID::autoFocus));
}

void MenuBarView::renderPresets() {
  // Rebuilt on every change of the list: rows hold a preset's id, never a position.
  for (QWidget* row : presetRows_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) delete row;
  for (const Preset& preset : store_.presets()) {
    auto* row = new PresetRow(preset.name, presetRows_);
    row->setProperty("presetID", preset.id);
    connect(row, &QAbstractButton::clicked, this, [this, id = preset.id] {
      const auto& presets = store_.presets();
      const auto it = std::find_if(presets.begin(), presets.end(), [&](const Preset& p) { return p.id == id; });
      if (it != presets.end()) store_.applyPreset(*it);
    });
    presetRows_->layout()->addWidget(row);
  }
  presets_->setVisible(!store_.presets().isEmpty());
  renderChecks();
}

void MenuBarView::renderChecks() {
  const std::optional<QUuid> active = store_.activePresetID();
  for (auto* row : presetRows_->findChildren<QAbstractButton*>(Qt::FindDirectChildrenOnly)) {
    row->setChecked(active && row->property("presetID").toUuid() == *active);
  }
  refocus_->setVisible(store_.supports(ControlID::autoFocus));
}

void MenuBarView::renderUpdates() {
  const auto& pending = updates_.pendingVersion();
  notice_->setText(pending ? tr("Update Available: Version %1").arg(*pending) : QString());
  notice_->setAccessibleName(notice_->text());
  notice_->setVisible(pending.has_value());
  check_->setVisible(updates_.isEnabled() && !pending);
}

QList<QAbstractButton*> MenuBarView::presetRows() const {
  return presetRows_->findChildren<QAbstractButton*>(Qt::FindDirectChildrenOnly);
}

void MenuBarView::popUp(std::optional<QRect> iconGeometry) {
  anchor_ = iconGeometry && !iconGeometry->isEmpty() ? iconGeometry : std::nullopt;
  pointer_ = QCursor::pos();
  adjustSize();
  if (placement_ == PanelPlacement::besideIcon) place();
  show();
  raise();
  activateWindow();
}

void MenuBarView::place() {
  const QPoint at = anchor_ ? anchor_->center() : pointer_;
  QScreen* screen = QGuiApplication::screenAt(at);
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  move(panelPosition(anchor_, pointer_, size(), screen->availableGeometry()));
}

void MenuBarView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // A section that comes or goes while open: stay beside the icon and on the screen.
  if (isVisible() && placement_ == PanelPlacement::besideIcon) place();
}

void MenuBarView::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  if (placement_ != PanelPlacement::byCompositor) return;
  // The compositor draws neither frame nor shadow around an undecorated window, and it puts the
  // panel over other windows, often of the same grey: a faint hairline shows where it ends.
  QPainter painter(this);
  QColor edge = palette().color(QPalette::WindowText);
  edge.setAlphaF(0.3f);
  painter.setPen(edge);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void MenuBarView::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Cancel)) {
    event->accept();
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void MenuBarView::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  emit dismissed();
}

void MenuBarView::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // The grey of "no camera" follows a light or dark palette.
  if (event->type() == QEvent::PaletteChange) renderHeader();
  // Where the compositor places the panel there is no popup grab: another window taking the
  // keyboard (a click on it, Alt+Tab) is the click outside.
  if (event->type() == QEvent::ActivationChange && placement_ == PanelPlacement::byCompositor && isVisible() &&
      !isActiveWindow()) {
    close();
  }
}

}  // namespace velto::app
