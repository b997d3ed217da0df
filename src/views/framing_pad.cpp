// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/framing_pad.h"

#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "model/camera_store.h"
#include "views/value_viewer.h"

namespace velto::views {

namespace framing {

double zoomFactor(const std::optional<ControlRange>& zoom, std::int64_t value) {
  if (!zoom || zoom->min <= 0) return 1.0;
  return std::max(double(value) / double(zoom->min), 1.0);
}

double normalized(const std::optional<ControlRange>& range, std::int64_t value) {
  if (!range || range->min >= range->max) return 0.0;
  const double mid = (double(range->min) + double(range->max)) / 2;
  const double half = (double(range->max) - double(range->min)) / 2;
  return (double(value) - mid) / half;
}

QRectF padRect(const QRectF& available) {
  if (available.width() <= 0 || available.height() <= 0) return {};
  QSizeF size = available.size();
  if (size.width() * 9 > size.height() * 16) size.setWidth(size.height() * 16 / 9);
  else size.setHeight(size.width() * 9 / 16);
  return QRectF(available.center() - QPointF(size.width() / 2, size.height() / 2), size);
}

QRectF viewportRect(const QSizeF& pad, double zf, double npan, double ntilt) {
  const QSizeF view = pad / zf;
  const QPointF centre(pad.width() / 2 + npan * (pad.width() - view.width()) / 2,
                       pad.height() / 2 - ntilt * (pad.height() - view.height()) / 2);
  return QRectF(centre - QPointF(view.width() / 2, view.height() / 2), view);
}

std::pair<double, double> positionAt(const QPointF& pointer, const QSizeF& pad, const QSizeF& viewport) {
  const double gx = (pad.width() - viewport.width()) / 2;
  const double gy = (pad.height() - viewport.height()) / 2;
  const double npan = gx > 0 ? std::clamp((pointer.x() - pad.width() / 2) / gx, -1.0, 1.0) : 0.0;
  const double ntilt = gy > 0 ? std::clamp((pad.height() / 2 - pointer.y()) / gy, -1.0, 1.0) : 0.0;
  return {npan, ntilt};
}

std::int64_t targetValue(const ControlRange& range, double n) {
  const double exact = (double(range.min) + double(range.max)) / 2 + n * (double(range.max) - double(range.min)) / 2;
  std::int64_t value = range.clamp(std::llround(exact));
  // Snapping rounds half up, which can pass a max that is off the step grid: the pad's values
  // stay inside the range, so take the grid point below it then.
  if (range.step > 1 && value > range.max && value - range.step >= range.min) value -= range.step;
  return value;
}

std::vector<std::pair<ControlID, std::int64_t>> writes(const std::vector<Axis>& axes, double npan, double ntilt) {
  std::vector<std::pair<ControlID, std::int64_t>> out;
  for (ControlID id : {ControlID::pan, ControlID::tilt}) {
    const auto axis = std::find_if(axes.begin(), axes.end(), [id](const Axis& a) { return a.id == id; });
    if (axis == axes.end() || !axis->range) continue;
    const std::int64_t target = targetValue(*axis->range, id == ControlID::pan ? npan : ntilt);
    if (target != axis->value) out.emplace_back(id, target);
  }
  return out;
}

}  // namespace framing

namespace {

constexpr double kHintZoom = 1.01;   // at or below this the view cannot move: say so
constexpr double kKeyStep = 0.1;     // an arrow key moves the view a tenth of its travel
const char* const kTip = QT_TRANSLATE_NOOP("velto::views::FramingPad", "Drag to pan and tilt the zoomed view");
const char* const kHint = QT_TRANSLATE_NOOP("velto::views::FramingPad", "Zoom in to pan and tilt");
const char* const kKeysTip = QT_TRANSLATE_NOOP(
    "velto::views::FramingPad",
    "Arrow keys move the view and Home centres it. Anywhere in the window: Ctrl+Shift with the arrow keys or Home, "
    "and Ctrl++ and Ctrl+- to zoom.");

}  // namespace

FramingPad::FramingPad(CameraStore& store, QWidget* parent) : QWidget(parent), store_(store) {
  setToolTip(tr(kTip) + QLatin1Char('\n') + tr(kKeysTip));
  setAccessibleName(tr("Pan and tilt"));
  setAccessibleDescription(tr(kTip));
  setFocusPolicy(Qt::StrongFocus);
  QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  policy.setHeightForWidth(true);
  setSizePolicy(policy);
  connect(&store_, &CameraStore::rangesChanged, this, &FramingPad::storeChanged);
  connect(&store_, &CameraStore::valuesChanged, this, &FramingPad::storeChanged);
  connect(&store_, &CameraStore::deviceChanged, this, [this] {
    // A drag never carries over to another camera (or to the same one found again).
    dragging_ = false;
    storeChanged();
  });
  connect(&store_, &CameraStore::resettingChanged, this, &FramingPad::storeChanged);
  storeChanged();
}

bool FramingPad::isAvailable() const { return store_.supports(ControlID::pan) || store_.supports(ControlID::tilt); }

std::optional<ControlRange> FramingPad::range(ControlID id) const {
  const auto it = store_.ranges().find(id);
  if (it == store_.ranges().end()) return std::nullopt;
  return it->second;
}

double FramingPad::zoomFactor() const { return framing::zoomFactor(range(ControlID::zoom), store_.value(ControlID::zoom)); }

QRectF FramingPad::padArea() const { return framing::padRect(QRectF(rect())); }

QRectF FramingPad::viewportArea() const {
  const QRectF pad = padArea();
  const QRectF view = framing::viewportRect(pad.size(), zoomFactor(),
                                            framing::normalized(range(ControlID::pan), store_.value(ControlID::pan)),
                                            framing::normalized(range(ControlID::tilt), store_.value(ControlID::tilt)));
  return view.translated(pad.topLeft());
}

QSize FramingPad::sizeHint() const { return {240, heightForWidth(240)}; }

QSize FramingPad::minimumSizeHint() const { return {128, heightForWidth(128)}; }

int FramingPad::heightForWidth(int width) const { return (width * 9 + 8) / 16; }

void FramingPad::storeChanged() {
  if (holdWhileAway(*this, store_)) return;
  // Only a pad inside a form hides itself; a pad on its own (a test) just draws nothing.
  if (parentWidget() && isVisibleTo(parentWidget()) != isAvailable()) setVisible(isAvailable());
  update();
}

void FramingPad::paintEvent(QPaintEvent*) {
  // While a reset has the camera away the pad keeps its place, an empty field.
  const bool available = isAvailable();
  if (!available && !isAwayForReset(store_)) return;
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QPalette& pal = palette();
  const QRectF pad = padArea();
  if (pad.isEmpty()) return;

  // The faintest foreground: the text colour, barely there, on light and dark palettes alike.
  QColor field = pal.color(QPalette::WindowText);
  field.setAlphaF(0.1f);
  p.setPen(Qt::NoPen);
  p.setBrush(field);
  p.drawRoundedRect(pad, 4, 4);
  if (!available) return;

  const QColor accent = pal.color(QPalette::Highlight);
  QColor wash = accent;
  wash.setAlphaF(0.25f);
  const QRectF view = viewportArea();
  p.setBrush(wash);
  p.drawRoundedRect(view, 3, 3);
  // The 1.5 px border lies inside the viewport's edge.
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(accent, 1.5));
  p.drawRoundedRect(view.adjusted(0.75, 0.75, -0.75, -0.75), 2.25, 2.25);

  if (zoomFactor() <= kHintZoom) {
    QFont caption = font();
    caption.setPointSizeF(caption.pointSizeF() > 0 ? caption.pointSizeF() * 0.85 : 8);
    p.setFont(caption);
    QColor secondary = pal.color(QPalette::WindowText);
    secondary.setAlphaF(0.6f);
    p.setPen(secondary);
    p.drawText(pad, Qt::AlignCenter | Qt::TextWordWrap, tr(kHint));
  }

  if (hasFocus()) {
    p.setPen(QPen(accent, 2));
    p.drawRoundedRect(pad.adjusted(1, 1, -1, -1), 3, 3);
  }
}

void FramingPad::moveTo(double npan, double ntilt) {
  // Only axes of the camera open now; a camera that has gone supports nothing.
  std::vector<framing::Axis> axes;
  for (ControlID id : {ControlID::pan, ControlID::tilt}) {
    if (store_.supports(id)) axes.push_back({id, range(id), store_.value(id)});
  }
  for (const auto& [id, value] : framing::writes(axes, npan, ntilt)) store_.set(id, value);
}

void FramingPad::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !isAvailable()) return QWidget::mousePressEvent(event);
  dragging_ = true;
  mouseMoveEvent(event);
}

void FramingPad::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return QWidget::mouseMoveEvent(event);
  const QRectF pad = padArea();
  const QSizeF view = pad.size() / zoomFactor();
  const auto [npan, ntilt] = framing::positionAt(event->position() - pad.topLeft(), pad.size(), view);
  moveTo(npan, ntilt);
  event->accept();
}

void FramingPad::mouseReleaseEvent(QMouseEvent* event) {
  // The last position written stands; the release itself writes nothing.
  if (event->button() == Qt::LeftButton) dragging_ = false;
  QWidget::mouseReleaseEvent(event);
}

void FramingPad::keyPressEvent(QKeyEvent* event) {
  if (!isAvailable() || zoomFactor() <= kHintZoom) return QWidget::keyPressEvent(event);
  double npan = std::clamp(framing::normalized(range(ControlID::pan), store_.value(ControlID::pan)), -1.0, 1.0);
  double ntilt = std::clamp(framing::normalized(range(ControlID::tilt), store_.value(ControlID::tilt)), -1.0, 1.0);
  switch (event->key()) {
    case Qt::Key_Left: npan -= kKeyStep; break;
    case Qt::Key_Right: npan += kKeyStep; break;
    case Qt::Key_Up: ntilt += kKeyStep; break;
    case Qt::Key_Down: ntilt -= kKeyStep; break;
    case Qt::Key_Home: npan = ntilt = 0; break;
    default: return QWidget::keyPressEvent(event);
  }
  moveTo(std::clamp(npan, -1.0, 1.0), std::clamp(ntilt, -1.0, 1.0));
  event->accept();
}

void FramingPad::changeEvent(QEvent* event) {
  if (event->type() == QEvent::PaletteChange || event->type() == QEvent::EnabledChange) update();
  QWidget::changeEvent(event);
}

}  // namespace velto::views
