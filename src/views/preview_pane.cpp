// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/preview_pane.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cmath>

#include "capture/calibrator.h"
#include "capture/preview_controller.h"
#include "model/camera_store.h"
#include "views/histogram_view.h"
#include "views/icons.h"
#include "views/look.h"
#include "views/preview_layer_view.h"

namespace velto::views {

using Tool = Calibrator::Tool;

QSizeF fittedSize(QSizeF available, std::optional<QSizeF> videoSize) {
  const double w = available.width();
  const double h = available.height();
  const double containerAspect = w / std::max(h, 1.0);
  const double videoAspect = videoSize && videoSize->height() > 0 && videoSize->width() > 0
                                 ? videoSize->width() / videoSize->height()
                                 : 16.0 / 9.0;
  if (videoAspect >= containerAspect) return {w, w / videoAspect};
  return {h * videoAspect, h};
}

QPointF framePoint(QPointF location, QSizeF box, bool mirrored) {
  const double x = std::clamp(location.x() / std::max(box.width(), 1.0), 0.0, 1.0);
  const double y = std::clamp(location.y() / std::max(box.height(), 1.0), 0.0, 1.0);
  return {mirrored ? 1 - x : x, y};
}

// A busy indicator that wakes the main thread once a second: three dots, one lit, the light
// moving on by one dot each second. A spinner turning smoothly would cost a repaint (and a
// wake-up of the whole process) a dozen times a second for as long as a frozen camera recovers.
// The steps land on whole seconds, so every indicator on screen steps in the same wake-up.
class Pulse : public QWidget {
 public:
  Pulse(QWidget* parent, QSize size, std::optional<QColor> color = std::nullopt)
      : QWidget(parent), color_(color), timer_(new QTimer(this)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedSize(size);
    timer_->setTimerType(Qt::VeryCoarseTimer);
    timer_->setInterval(kStep);
    connect(timer_, &QTimer::timeout, this, [this] {
      lit_ = (lit_ + 1) % kDots;
      update();
    });
  }

 protected:
  void showEvent(QShowEvent*) override { timer_->start(); }
  void hideEvent(QHideEvent*) override { timer_->stop(); }
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const double d = width() / 4.0;  // three dots and the gaps between them fill the width
    QColor color = color_.value_or(palette().color(QPalette::WindowText));
    for (int i = 0; i < kDots; ++i) {
      color.setAlphaF(i == lit_ ? 1.0f : 0.35f);
      painter.setBrush(color);
      painter.drawEllipse(QPointF(width() / 2.0 + (i - 1) * 1.4 * d, height() / 2.0), d / 2, d / 2);
    }
  }

 private:
  static constexpr int kDots = 3;
  static constexpr std::chrono::milliseconds kStep{1000};
  std::optional<QColor> color_;
  QTimer* timer_;
  int lit_ = 0;
};

// --- Capsule ------------------------------------------------------------------------------------

namespace {
constexpr int kCapsulePadX = 12;
constexpr int kCapsulePadY = 6;
constexpr int kCapsuleSpacing = 8;
}  // namespace

Capsule::Capsule(QWidget* parent, bool busy) : QLabel(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFont(smallerFont(font()));  // the callout size
  setTextFormat(Qt::PlainText);
  if (busy) pulse_ = new Pulse(this, QSize(22, 16));
}

QSize Capsule::sizeHint() const {
  const QFontMetrics fm(font());
  // Rounded up from the fractional advance: a width rounded down makes elidedText() cut a long
  // text's last letters although it fits.
  int w = int(std::ceil(QFontMetricsF(font()).horizontalAdvance(text()))) + 1 + 2 * kCapsulePadX;
  int h = fm.height() + 2 * kCapsulePadY;
  if (pulse_) {
    w += pulse_->width() + kCapsuleSpacing;
    h = std::max(h, pulse_->height() + 2 * kCapsulePadY);
  }
  return {w, h};
}

void Capsule::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  // The window's own colour, a little translucent, like a floating bar over the picture.
  QColor material = palette().color(QPalette::Window);
  material.setAlphaF(0.88f);
  const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  painter.setPen(QPen(palette().color(QPalette::Mid), 1));
  painter.setBrush(material);
  painter.drawRoundedRect(r, r.height() / 2, r.height() / 2);
  int x = kCapsulePadX;
  if (pulse_) {
    pulse_->move(x, (height() - pulse_->height()) / 2);
    x += pulse_->width() + kCapsuleSpacing;
  }
  painter.setPen(palette().color(QPalette::WindowText));
  const QRect textRect(x, 0, width() - x - kCapsulePadX, height());
  painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                   QFontMetrics(font()).elidedText(text(), Qt::ElideRight, textRect.width()));
}

QString pausedText(const video::CameraHolder& holder) {
  //: %1 is the program that uses the camera now, %2 its process ID.
  return PreviewPane::tr("Paused while %1 (PID %2) uses the camera")
      .arg(QString::fromStdString(holder.name))
      .arg(holder.pid);
}

RecoveringBadge::RecoveringBadge(QWidget* parent) : Capsule(parent, true) {
  setText(tr("Reconnecting camera…"));
}

// --- The placeholder ----------------------------------------------------------------------------

// A centred image, title and description in white on the pane's black.
class Placeholder : public QWidget {
 public:
  explicit Placeholder(QWidget* parent) : QWidget(parent) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, Qt::white);
    p.setColor(QPalette::Text, Qt::white);
    setPalette(p);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing));
    layout->addStretch(1);
    image_ = new QLabel(this);
    image_->setAlignment(Qt::AlignCenter);
    title_ = new QLabel(this);
    title_->setAlignment(Qt::AlignCenter);
    QFont titleFont = title_->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.35);
    title_->setFont(titleFont);
    description_ = new QLabel(this);
    description_->setAlignment(Qt::AlignCenter);
    description_->setWordWrap(true);
    QPalette dim = description_->palette();
    dim.setColor(QPalette::WindowText, QColor(255, 255, 255, 190));
    description_->setPalette(dim);
    layout->addWidget(image_, 0, Qt::AlignHCenter);
    layout->addSpacing(4);
    layout->addWidget(title_, 0, Qt::AlignHCenter);
    layout->addWidget(description_, 0, Qt::AlignHCenter);
    layout->addStretch(1);
  }

  void present(std::string_view symbol, const QString& title, const QString& description) {
    if (title_->text() != title) {
      image_->setPixmap(icon(symbol, Qt::white).pixmap(48, 48));
      title_->setText(title);
    }
    description_->setText(description);
    fitDescription();
    setAccessibleName(title);
    setAccessibleDescription(description);
    QWidget::show();
  }
  QString title() const { return title_->text(); }

 protected:
  void resizeEvent(QResizeEvent*) override { fitDescription(); }

 private:
  // A wrapped label does not ask for the height of the width it gets when centred: give it both.
  void fitDescription() {
    const int w = std::max(120, std::min(400, width() - 48));
    description_->setFixedSize(w, std::max(0, description_->heightForWidth(w)));
  }

  QLabel* image_;
  QLabel* title_;
  QLabel* description_;
};

// --- The picture box's overlay: grid, spot marker, clicks, cursor -------------------------------

class PictureOverlay : public QWidget {
 public:
  PictureOverlay(QWidget* parent, CameraStore& store, PreviewController& preview, Calibrator& calibrator)
      : QWidget(parent), store_(store), preview_(preview), calibrator_(calibrator), pulse_(new Pulse(this, QSize(14, 14), Qt::white)) {
    pulse_->hide();
    setMouseTracking(true);
  }

  void setState(bool grid, bool mirror) {
    grid_ = grid;
    mirror_ = mirror;
    // Over the picture the pointer says whether a click does something.
    setCursor(calibrator_.tool() == Tool::none ? Qt::ArrowCursor : Qt::CrossCursor);
    const auto centre = markerCentre();
    pulse_->setVisible(centre && calibrator_.busy());
    if (centre) pulse_->move((*centre - QPointF(pulse_->width(), pulse_->height()) / 2).toPoint());
    update();
  }

  // Where the user clicked: the stored point is the camera's, so mirror it back.
  std::optional<QPointF> markerCentre() const {
    const auto& point = calibrator_.point();
    if (!point) return std::nullopt;
    return QPointF((mirror_ ? 1 - point->x() : point->x()) * width(), point->y() * height());
  }

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton || calibrator_.tool() == Tool::none) return;
    calibrator_.run(framePoint(event->position(), size(), mirror_), store_, preview_.analyzer());
  }

  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (grid_) {
      painter.setPen(QPen(QColor(255, 255, 255, 115), 1));
      // On pixel centres, so a line is one crisp pixel wide at any ratio.
      for (int i = 1; i <= 2; ++i) {
        const double x = std::round(width() * i / 3.0) - 0.5;
        const double y = std::round(height() * i / 3.0) - 0.5;
        painter.drawLine(QPointF(x, 0), QPointF(x, height()));
        painter.drawLine(QPointF(0, y), QPointF(width(), y));
      }
    }
    if (const auto centre = markerCentre()) {
      painter.setBrush(Qt::NoBrush);
      painter.setPen(QPen(QColor(0, 0, 0, 128), 1));
      painter.drawEllipse(*centre, 15, 15);
      painter.setPen(QPen(Qt::white, 2));
      painter.drawEllipse(*centre, 13, 13);
    }
  }

 private:
  CameraStore& store_;
  PreviewController& preview_;
  Calibrator& calibrator_;
  Pulse* pulse_;
  bool grid_ = false;
  bool mirror_ = false;
};

// --- The pane -----------------------------------------------------------------------------------

namespace {
constexpr QSize kHistogramSize(220, 96);
constexpr int kHistogramInset = 12;
constexpr int kHintAboveHistogram = 120;
constexpr int kHintAboveEdge = 16;
constexpr int kNoteMs = 8000;  // long enough to read a file name twice
}  // namespace

PreviewPane::PreviewPane(CameraStore& store, PreviewController& preview, Calibrator& calibrator, QWidget* parent)
    : QWidget(parent), store_(store), preview_(preview), calibrator_(calibrator) {
  setAccessibleName(tr("Preview"));
  placeholder_ = new Placeholder(this);
  placeholder_->setObjectName(QStringLiteral("placeholder"));
  video_ = new QWidget(this);
  layer_ = new PreviewLayerView(preview, video_);
  box_ = new PictureOverlay(video_, store, preview, calibrator);
  histogram_ = new HistogramView(video_);
  histogram_->setObjectName(QStringLiteral("histogram"));
  histogram_->resize(kHistogramSize);
  histogram_->setAttribute(Qt::WA_TransparentForMouseEvents);
  hint_ = new Capsule(video_);
  hint_->setObjectName(QStringLiteral("hint"));
  badge_ = new RecoveringBadge(video_);
  badge_->setObjectName(QStringLiteral("recoveringBadge"));
  pausedNote_ = new Capsule(video_);
  pausedNote_->setObjectName(QStringLiteral("pausedNote"));

  for (auto signal : {&PreviewController::stateChanged, &PreviewController::statsChanged,
                      &PreviewController::recoveringChanged, &PreviewController::problemChanged,
                      &PreviewController::pausedChanged}) {
    connect(&preview, signal, this, &PreviewPane::refresh);
  }
  for (auto signal : {&Calibrator::toolChanged, &Calibrator::pointChanged, &Calibrator::busyChanged,
                      &Calibrator::messageChanged}) {
    connect(&calibrator, signal, this, &PreviewPane::refresh);
  }
  connect(&store, &CameraStore::resettingChanged, this, &PreviewPane::refresh);
  noteTimer_ = new QTimer(this);
  noteTimer_->setSingleShot(true);
  noteTimer_->setInterval(kNoteMs);
  auto endNote = [this] {
    noteTimer_->stop();
    note_.clear();
    refresh();
  };
  connect(noteTimer_, &QTimer::timeout, this, endNote);
  connect(&calibrator, &Calibrator::toolChanged, this, endNote);
  refresh();
}

void PreviewPane::showNote(const QString& text) {
  note_ = text;
  noteTimer_->start();
  refresh();
}

void PreviewPane::setOverlays(PreviewOverlays overlays) {
  overlays_ = overlays;
  refresh();
}

QRect PreviewPane::pictureRect() const {
  return video_->isHidden() ? QRect() : layer_->geometry();
}

QString PreviewPane::placeholderTitle() const {
  return placeholder_->isHidden() ? QString() : placeholder_->title();
}

std::optional<QPointF> PreviewPane::markerCentre() const {
  const auto centre = box_->markerCentre();
  if (!centre || video_->isHidden()) return std::nullopt;
  return *centre + box_->geometry().topLeft();
}

void PreviewPane::refresh() {
  using State = PreviewController::State;
  const State state = preview_.state();
  const auto& problem = preview_.problem();
  // The capture layer's words for the problem, in the user's language where it has marked them.
  const QString problemText = !problem                    ? QString()
                              : problem->message.isEmpty() ? QString::fromStdString(problem->text)
                                                           : problem->message.translated();
  if (state == State::unauthorized) {
    placeholder_->present("lock.shield", tr("Camera Access Needed"),
                          tr("Velto Camera can't open the camera's video device (permission denied). Add your user "
                             "to the video group or install the udev rule, then reconnect the camera. Controls work "
                             "without it."));
  } else if (state == State::noCamera && !store_.isResetting()) {
    placeholder_->present("video.slash", tr("No Camera"), tr("Connect your camera to see a preview."));
  } else if (state == State::running && problem && problem->kind == video::SessionError::Kind::busy) {
    placeholder_->present("video.slash", tr("Camera in Use"),
                          //: %1 says which camera is in use, or which program (and PID) uses it.
                          tr("%1 Close the other application to see the preview here. Controls work without it.")
                              .arg(problemText));
  } else if (state == State::running && problem && problem->kind == video::SessionError::Kind::missingElement) {
    placeholder_->present("video.slash", tr("No Preview"), problemText);
  } else {
    placeholder_->hide();
  }
  video_->setVisible(placeholder_->isHidden());

  const auto& stats = preview_.stats();
  layer_->setMirrored(overlays_.mirror);
  layer_->setOverlay(overlays_.clipping && stats && stats->clipping ? stats->clipping : std::nullopt);
  histogram_->setVisible(overlays_.histogram && stats.has_value());
  if (!histogram_->isHidden()) histogram_->setStats(stats);

  if (const auto& message = calibrator_.userMessage()) hint_->setText(message->translated());
  else if (!note_.isEmpty()) hint_->setText(note_);
  else if (calibrator_.tool() == Tool::whiteBalance) hint_->setText(tr("Click something that should be white or grey"));
  else if (calibrator_.tool() == Tool::exposure) hint_->setText(tr("Click the spot that should be correctly exposed"));
  else hint_->setText(QString());
  hint_->setVisible(!hint_->text().isEmpty());
  // A reset asked for by hand reconnects the camera as the watchdog's own recovery does.
  badge_->setVisible(preview_.recovering() || store_.isResetting());
  // Let go for another program: the last picture stays, greyed, under who has the camera.
  const auto& paused = preview_.pausedFor();
  layer_->setDimmed(paused.has_value());
  pausedNote_->setText(paused ? pausedText(*paused) : QString());
  pausedNote_->setVisible(paused.has_value() && badge_->isHidden());
  layOut();
  box_->setState(overlays_.grid, overlays_.mirror);
}

void PreviewPane::layOut() {
  const QRect all = rect();
  placeholder_->setGeometry(all);
  video_->setGeometry(all);
  const auto& stats = preview_.stats();
  const QSizeF fitted = fittedSize(all.size(), stats ? std::optional(stats->size) : std::nullopt);
  const QSize box(int(std::lround(fitted.width())), int(std::lround(fitted.height())));
  const QRect picture(QPoint((all.width() - box.width()) / 2, (all.height() - box.height()) / 2), box);
  layer_->setGeometry(picture);
  box_->setGeometry(picture);
  histogram_->move(all.width() - kHistogramInset - kHistogramSize.width(),
                   all.height() - kHistogramInset - kHistogramSize.height());
  const QSize hint = hint_->sizeHint().boundedTo(QSize(std::max(0, all.width() - 24), all.height()));
  const int above = overlays_.histogram ? kHintAboveHistogram : kHintAboveEdge;
  hint_->setGeometry((all.width() - hint.width()) / 2, all.height() - above - hint.height(), hint.width(), hint.height());
  const QSize badge = badge_->sizeHint();
  badge_->setGeometry(QRect(QPoint((all.width() - badge.width()) / 2, (all.height() - badge.height()) / 2), badge));
  const QSize paused = pausedNote_->sizeHint().boundedTo(QSize(std::max(0, all.width() - 24), all.height()));
  pausedNote_->setGeometry(
      QRect(QPoint((all.width() - paused.width()) / 2, (all.height() - paused.height()) / 2), paused));
}

void PreviewPane::paintEvent(QPaintEvent*) {
  QPainter(this).fillRect(rect(), Qt::black);
}

void PreviewPane::resizeEvent(QResizeEvent*) {
  layOut();
  box_->setState(overlays_.grid, overlays_.mirror);
}

}  // namespace velto::views
