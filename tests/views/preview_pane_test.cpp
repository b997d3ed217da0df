// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The preview pane over a real store (a simulated C200) and a preview controller fed frames as
// the session would: where the picture goes, what a click means, which placeholder or overlay
// shows in which state, and that the picture layer paints the newest frame as it should, when told
// of one.
#include "views/preview_pane.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

#include "preview_fixture.h"
#include "qt_printers.h"
#include "views/preview_layer_view.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using State = PreviewController::State;
using Tool = Calibrator::Tool;
using views::PreviewPane;

const CameraKey kC200{0x291a, 0x3369};

// A readable frame whose left half is red and right half blue.
Frame halves(int width, int height) {
  Frame frame = Frame::filled(width, height, width * 4 + 32, 255);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = frame.mutablePixels() + std::size_t(y) * frame.bytesPerRow();
    for (int x = 0; x < width; ++x) {
      const bool left = x < width / 2;
      row[4 * x + 0] = left ? 0 : 255;  // blue
      row[4 * x + 1] = 0;
      row[4 * x + 2] = left ? 255 : 0;  // red
    }
  }
  return frame;
}

// The intervals of the timers running under `widget`: what wakes the process while it shows.
std::vector<int> runningTimers(const QWidget& widget) {
  std::vector<int> intervals;
  for (const QTimer* timer : widget.findChildren<QTimer*>()) {
    if (timer->isActive()) intervals.push_back(timer->interval());
  }
  return intervals;
}

class PreviewPaneTest : public testing::PreviewFixture {
 protected:
  void startPreview() {
    preview->start("window", std::nullopt, kC200);
    QCoreApplication::processEvents();
  }
  std::unique_ptr<PreviewPane> makePane(QSize size, views::PreviewOverlays overlays = {}) {
    auto pane = std::make_unique<PreviewPane>(*store, *preview, calibrator);
    pane->setOverlays(overlays);
    pane->resize(size);
    pane->show();
    QCoreApplication::processEvents();
    return pane;
  }
  void tick(int seconds) {
    for (int i = 0; i < seconds; ++i) {
      clock.advance(1s);
      QCoreApplication::processEvents();
    }
  }
  static void click(PreviewPane& pane, QPoint at) {
    QWidget* target = pane.childAt(at);
    ASSERT_NE(target, nullptr);
    QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(&pane, at));
  }
  static QWidget* part(PreviewPane& pane, const char* name) { return pane.findChild<QWidget*>(name); }
};

TEST_F(PreviewPaneTest, PictureIsSixteenByNineUntilStatisticsThenFitsTheirAspect) {
  startStore(false);
  startPreview();
  auto pane = makePane({1000, 400});
  EXPECT_EQ(pane->pictureRect(), QRect(144, 0, 711, 400));

  frames(Frame::filled(640, 480, 640 * 4, 128));
  EXPECT_EQ(pane->pictureRect(), QRect(233, 0, 533, 400)) << "a 4:3 camera is pillar-boxed";

  // A frame that cannot be read gives statistics with empty lists: still a picture box, no crash.
  std::vector<std::uint8_t> truncated(64);
  frames(Frame(1280, 720, 1280 * 4, truncated.data(), truncated.size(), nullptr));
  ASSERT_TRUE(preview->stats());
  EXPECT_TRUE(preview->stats()->luma.empty());
  EXPECT_EQ(pane->pictureRect(), QRect(144, 0, 711, 400));
  EXPECT_TRUE(part(*pane, "histogram")->isVisible());
  QImage shown(pane->size(), QImage::Format_RGB32);
  pane->render(&shown);
  EXPECT_EQ(shown.pixel(500, 200), qRgb(0, 0, 0)) << "nothing readable is painted as black";

  frames(Frame::filled(640, 0, 640 * 4, 128));
  EXPECT_EQ(pane->pictureRect(), QRect(144, 0, 711, 400)) << "no height: 16:9";
}

TEST_F(PreviewPaneTest, AMirroredClickIsStoredUnmirroredAndMarkedUnderThePointer) {
  startStore();
  startPreview();
  views::PreviewOverlays overlays;
  overlays.mirror = true;
  auto pane = makePane({800, 450}, overlays);
  const QRect box = pane->pictureRect();
  const QPoint leftEdge(box.left() + 1, box.center().y());

  click(*pane, leftEdge);
  EXPECT_FALSE(calibrator.point()) << "the pointer tool does nothing";
  EXPECT_FALSE(calibrator.message());
  EXPECT_EQ(pane->childAt(leftEdge)->cursor().shape(), Qt::ArrowCursor);

  calibrator.setTool(Tool::exposure);
  EXPECT_EQ(pane->childAt(leftEdge)->cursor().shape(), Qt::CrossCursor);
  click(*pane, leftEdge);
  ASSERT_TRUE(calibrator.point());
  EXPECT_NEAR(calibrator.point()->x(), 1.0, 0.01);
  EXPECT_NEAR(calibrator.point()->y(), 0.5, 0.01);
  ASSERT_TRUE(pane->markerCentre());
  EXPECT_NEAR(pane->markerCentre()->x(), leftEdge.x(), 1.0);
  EXPECT_NEAR(pane->markerCentre()->y(), leftEdge.y(), 1.0);
  EXPECT_TRUE(calibrator.busy());

  overlays.mirror = false;
  pane->setOverlays(overlays);
  click(*pane, leftEdge);
  EXPECT_NEAR(calibrator.point()->x(), 0.0, 0.01);
}

TEST_F(PreviewPaneTest, PlaceholdersSayWhyThereIsNoPicture) {
  startStore(false);
  capture->denied = true;
  startPreview();
  auto pane = makePane({800, 450});
  ASSERT_EQ(preview->state(), State::unauthorized);
  EXPECT_EQ(pane->placeholderTitle(), "Camera Access Needed");
  EXPECT_TRUE(pane->pictureRect().isEmpty());

  capture->denied = false;
  capture->present.clear();
  startPreview();
  ASSERT_EQ(preview->state(), State::noCamera);
  EXPECT_EQ(pane->placeholderTitle(), "No Camera");
  tick(6);  // the watchdog keeps looking for the camera
  ASSERT_TRUE(preview->recovering());
  EXPECT_FALSE(part(*pane, "recoveringBadge")->isVisible()) << "the badge belongs to the picture";

  capture->present = {testing::ScriptedCapture::c200()};
  tick(5);
  ASSERT_EQ(preview->state(), State::running);
  EXPECT_TRUE(part(*pane, "recoveringBadge")->isVisible());
  const QPointF centre = QRectF(part(*pane, "recoveringBadge")->geometry()).center();
  EXPECT_NEAR(centre.x(), 400, 1);
  EXPECT_NEAR(centre.y(), 225, 1);
  // A recovery may last minutes with nothing else moving: the badge wakes the process at most
  // once a second, and not at all once it is gone.
  for (int interval : runningTimers(*pane)) EXPECT_GE(interval, 1000);

  capture->fail({video::SessionError::Kind::busy, "Anker PowerConf C200 is in use by another application.",
                 UserText::verbatim(QStringLiteral("Anker PowerConf C200 is in use by another application.")),
                 std::nullopt});
  QCoreApplication::processEvents();
  EXPECT_EQ(pane->placeholderTitle(), "Camera in Use");
  EXPECT_TRUE(runningTimers(*pane).empty()) << "the badge went with the picture";

  frames(Frame::filled(64, 36, 256, 128));  // frames flow again, as the watchdog sees
  tick(1);
  EXPECT_EQ(pane->placeholderTitle(), "");
  EXPECT_FALSE(pane->pictureRect().isEmpty());
}

TEST_F(PreviewPaneTest, HintLineClearsTheHistogramAndShowsMessagesVerbatim) {
  startStore(false);  // no camera: the calibrator answers at once
  startPreview();
  views::PreviewOverlays overlays;
  overlays.histogram = true;
  auto pane = makePane({800, 500}, overlays);
  auto* hint = qobject_cast<views::Capsule*>(part(*pane, "hint"));
  EXPECT_FALSE(hint->isVisible()) << "no tool, no message";

  calibrator.setTool(Tool::exposure);
  EXPECT_EQ(hint->text(), "Click the spot that should be correctly exposed");
  EXPECT_EQ(hint->geometry().bottom() + 1, 500 - 120) << "above the histogram even before statistics";
  EXPECT_FALSE(part(*pane, "histogram")->isVisible());

  frames(Frame::filled(640, 360, 640 * 4, 128));
  EXPECT_EQ(part(*pane, "histogram")->geometry(), QRect(800 - 12 - 220, 500 - 12 - 96, 220, 96));
  EXPECT_TRUE(part(*pane, "histogram")->isVisible());

  overlays.histogram = false;
  pane->setOverlays(overlays);
  EXPECT_EQ(hint->geometry().bottom() + 1, 500 - 16);
  EXPECT_FALSE(part(*pane, "histogram")->isVisible());

  click(*pane, pane->pictureRect().center());
  EXPECT_EQ(hint->text(), "This camera has no manual exposure.");
  calibrator.setTool(Tool::whiteBalance);
  EXPECT_EQ(hint->text(), "Click something that should be white or grey") << "the message spoke of the other tool";
}

TEST_F(PreviewPaneTest, LayerPaintsTheNewestFrameMirroredWithAHardEdgedOverlay) {
  views::PreviewLayerView layer(*preview);
  layer.resize(64, 36);
  QImage shown(layer.size(), QImage::Format_RGB32);
  layer.render(&shown);
  EXPECT_EQ(shown.pixel(32, 18), qRgb(0, 0, 0)) << "black before the first frame";

  capture->deliver(halves(320, 180));
  EXPECT_TRUE(layer.refresh());
  EXPECT_FALSE(layer.refresh()) << "nothing new, no repaint";
  layer.render(&shown);
  EXPECT_EQ(shown.pixel(4, 18), qRgb(255, 0, 0));
  EXPECT_EQ(shown.pixel(60, 18), qRgb(0, 0, 255));
  EXPECT_EQ(layer.framesPainted(), 1);

  layer.setMirrored(true);
  QImage overlay(4, 1, QImage::Format_RGBA8888_Premultiplied);
  overlay.fill(Qt::transparent);
  overlay.setPixel(0, 0, qRgba(0, 255, 0, 255));
  layer.setOverlay(overlay);
  layer.render(&shown);
  EXPECT_EQ(shown.pixel(4, 18), qRgb(0, 0, 255)) << "mirrored";
  // The overlay is mirrored with the picture: its first cell covers the right quarter.
  EXPECT_EQ(shown.pixel(47, 18), qRgb(255, 0, 0)) << "untouched up to the cell's edge";
  EXPECT_EQ(shown.pixel(48, 18), qRgb(0, 255, 0)) << "the cell, hard-edged";
  EXPECT_EQ(layer.framesPainted(), 1) << "a repaint of the same frame";
}

// Counts the paint events of the widget it watches.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    paints += event->type() == QEvent::Paint;
    return false;
  }
};

TEST_F(PreviewPaneTest, LayerRepaintsOncePerNoticeOfNewerFramesAndNeverWithoutFrames) {
  // The notice, then the repaint it asks for: each a round of posted events.
  auto handleEvents = [] {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  };
  views::PreviewLayerView layer(*preview);
  layer.resize(64, 36);
  layer.show();
  handleEvents();
  PaintCounter counter;
  layer.installEventFilter(&counter);
  handleEvents();
  EXPECT_EQ(counter.paints, 0) << "no frame, no repaint";

  for (int grey : {40, 80, 120}) capture->deliver(Frame::filled(32, 18, 128, static_cast<std::uint8_t>(grey)));
  handleEvents();
  EXPECT_EQ(counter.paints, 1) << "three frames before the main thread looked: one repaint";
  capture->deliver(Frame::filled(32, 18, 128, 160));
  handleEvents();
  EXPECT_EQ(counter.paints, 2);
  EXPECT_EQ(layer.framesPainted(), 2);

  layer.hide();
  capture->deliver(Frame::filled(32, 18, 128, 200));
  handleEvents();
  layer.show();
  handleEvents();
  layer.removeEventFilter(&counter);
  QImage shown(layer.size(), QImage::Format_RGB32);
  layer.render(&shown);
  EXPECT_EQ(shown.pixel(32, 18), qRgb(200, 200, 200)) << "the frame that came while hidden, once shown";
  EXPECT_EQ(layer.framesPainted(), 3);
}

}  // namespace
}  // namespace velto
