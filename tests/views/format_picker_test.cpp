// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The format picker over a preview controller whose scripted backend offers a few modes: what it
// lists, what choosing does, and a picture of it open (format-picker.png beside the test).
#include "views/format_picker.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QAbstractItemView>
#include <QTest>

#include "capture/preview_controller.h"
#include "capture/scripted_backend.h"
#include "sim/profile.h"
#include "support/manual_clock.h"

namespace velto::views {
namespace {

const video::CaptureMode kFullHD{video::fourccOf("MJPG"), 1920, 1080, 30};
const video::CaptureMode kHD{video::fourccOf("MJPG"), 1280, 720, 30};
const video::CaptureMode kVGA{video::fourccOf("YUY2"), 640, 480, 30};

class FormatPickerTest : public ::testing::Test {
 protected:
  FormatPickerTest() {
    auto owned = std::make_unique<testing::ScriptedBackend>();
    backend = owned.get();
    backend->present = {testing::device("0x1100000291a3369", "C200 VendorID_10522 ProductID_13161")};
    backend->offered = {kFullHD, kHD, kVGA};
    preview = std::make_unique<PreviewController>(clock, std::move(owned), [] {});
  }

  ManualClock clock;
  testing::ScriptedBackend* backend = nullptr;
  std::unique_ptr<PreviewController> preview;
};

TEST_F(FormatPickerTest, ListsAutomaticThenTheModesAndChoosingStreamsIn) {
  FormatPicker picker(*preview);
  QComboBox* combo = picker.comboBox();
  EXPECT_FALSE(combo->isEnabled()) << "no camera has told its modes yet";
  EXPECT_EQ(combo->currentText(), "Automatic");

  preview->start("window", 0x01100000, CameraKey{0x291a, 0x3369});
  QCoreApplication::processEvents();
  ASSERT_TRUE(combo->isEnabled());
  ASSERT_EQ(combo->count(), 5) << "Automatic, a separator, three modes";
  EXPECT_EQ(combo->itemText(2), QString::fromUtf8("1920 × 1080 · 30 fps · MJPEG"));
  EXPECT_EQ(combo->itemText(4), QString::fromUtf8("640 × 480 · 30 fps · YUY2"));

  combo->setCurrentIndex(3);
  emit combo->activated(3);
  EXPECT_EQ(preview->chosenMode(), kHD);
  ASSERT_FALSE(backend->modesSet.empty());
  EXPECT_EQ(backend->modesSet.back(), kHD);

  // Automatic again; a choice the camera stops offering shows as automatic.
  emit combo->activated(0);
  EXPECT_EQ(preview->chosenMode(), std::nullopt);
  EXPECT_EQ(backend->modesSet.back(), std::nullopt);
  preview->chooseMode(video::CaptureMode{video::fourccOf("MJPG"), 2560, 1440, 30});
  EXPECT_EQ(combo->currentIndex(), 0);

  // A picture of it open with the C200's modes, for people to look at.
  backend->offered = video::modesFromConfiguration(sim::c200Profile().configuration);
  preview->start("menu", 0x01100000, CameraKey{0x291a, 0x3369});
  QCoreApplication::processEvents();
  ASSERT_EQ(combo->count(), 2 + 22);
  preview->chooseMode(kHD);
  picker.resize(picker.sizeHint().expandedTo(QSize(360, 0)));
  picker.show();
  combo->showPopup();
  QCoreApplication::processEvents();
  QWidget* popup = combo->view()->window();
  QImage shot(QSize(picker.width(), picker.height() + popup->height() + 8), QImage::Format_ARGB32_Premultiplied);
  shot.fill(picker.palette().window().color());
  picker.render(&shot);
  popup->render(&shot, QPoint(shot.width() - popup->width(), picker.height() + 4));
  combo->hidePopup();
  EXPECT_TRUE(shot.save(QDir(QCoreApplication::applicationDirPath()).filePath("format-picker.png")));
}

}  // namespace
}  // namespace velto::views
