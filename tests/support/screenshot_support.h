// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// What the programs that draw the application's pictures for scripts/screenshots share: their
// command line, the event loop run until something shows, a simulated camera streaming in real
// time, and the dark palette. Not for tests: these wait in real time.
#pragma once

#include <QApplication>
#include <QDir>
#include <QPalette>
#include <QStyleFactory>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

#include <QTemporaryDir>

#include "capture/preview_controller.h"
#include "eventually.h"
#include "model/camera_store.h"
#include "platform/session/login_item.h"
#include "platform/session/user_defaults.h"
#include "platform/video/gst_capture_backend.h"
#include "sim/profile.h"
#include "sim/sim_server.h"
#include "support/system_clock.h"

namespace velto::testing {

// The picture directory (created) and whether only the ratio-2 picture is wanted ("--scaled").
struct ScreenshotRun {
  QString out;
  bool scaledOnly = false;
};

// Call before the QApplication exists: the offscreen platform unless another is asked for.
inline void prepareScreenshotPlatform() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
}

// Call once the QApplication exists: the Fusion style, and the arguments (usage on standard error
// and none when they are wrong).
inline std::optional<ScreenshotRun> screenshotRun(const char* program) {
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  const QStringList arguments = QCoreApplication::arguments();
  if (arguments.size() < 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY [--scaled]\n", program);
    return std::nullopt;
  }
  ScreenshotRun run{arguments[1], arguments.contains(QStringLiteral("--scaled"))};
  QDir().mkpath(run.out);
  return run;
}

// The screenshot programs wait up to 8 s for a camera or a picture.
inline bool waitFor(const std::function<bool()>& condition, int ms = 8000) { return eventually(condition, ms); }

// Runs the event loop for `ms`: frames painted, spinners turned.
inline void pump(int ms) {
  eventually([] { return false; }, ms);
}

// A simulated camera plugged into `directory`, streaming `width` × `height` in real time.
inline std::unique_ptr<sim::SimServer> plugStreaming(sim::Profile profile, const QString& directory, const char* id,
                                                     int width, int height) {
  sim::ServerOptions options;
  options.directory = directory.toStdString();
  options.id = id;
  options.width = width;
  options.height = height;
  auto server = std::make_unique<sim::SimServer>(std::move(profile), options, [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  });
  std::string error;
  if (!server->startThread(&error)) std::fprintf(stderr, "cannot plug %s: %s\n", id, error.c_str());
  return server;
}

// A dark desktop palette, for the pictures of the dark look.
inline QPalette darkPalette() {
  QPalette p;
  const QColor window(42, 42, 46), base(30, 30, 33), text(232, 232, 235), disabled(128, 128, 132);
  for (auto [role, colour] : {std::pair{QPalette::Window, window}, {QPalette::WindowText, text}, {QPalette::Base, base},
                              {QPalette::AlternateBase, window}, {QPalette::Text, text},
                              {QPalette::Button, QColor(54, 54, 58)}, {QPalette::ButtonText, text},
                              {QPalette::ToolTipBase, base}, {QPalette::ToolTipText, text},
                              {QPalette::PlaceholderText, disabled}, {QPalette::Highlight, QColor(53, 132, 228)},
                              {QPalette::HighlightedText, QColor(Qt::white)}, {QPalette::Light, QColor(70, 70, 74)},
                              {QPalette::Midlight, QColor(60, 60, 64)}, {QPalette::Mid, QColor(36, 36, 40)},
                              {QPalette::Dark, QColor(22, 22, 24)}, {QPalette::Shadow, QColor(Qt::black)}}) {
    p.setColor(role, colour);
  }
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) p.setColor(QPalette::Disabled, role, disabled);
  // As dark desktop themes do: a disabled slider's fill is grey, not the accent colour.
  p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(88, 88, 92));
  return p;
}

// What every picture starts from: a settings folder of its own, a simulated C200 streaming
// 1280 × 720 into a simulator directory there, and a store and a preview on that directory only.
struct ScreenshotWorld {
  static CameraStore::Options storeOptions(const QString& simDirectory) {
    CameraStore::Options options;
    options.registry.simDirectory = simDirectory.toStdString();
    options.registry.sysfsRoot.clear();
    options.watchHotplug = false;
    options.watchWake = false;
    return options;
  }
  static video::GstCaptureOptions captureOptions(const QString& simDirectory) {
    video::GstCaptureOptions capture;
    capture.sysfsRoot.clear();
    capture.simDirectory = simDirectory.toStdString();
    capture.watchDevices = false;
    return capture;
  }

  QTemporaryDir home;
  const QString simDirectory = home.filePath(QStringLiteral("sim"));
  std::unique_ptr<sim::SimServer> c200 = plugStreaming(sim::c200Profile(), simDirectory, "c200", 1280, 720);
  SystemClock clock;
  UserDefaults defaults{home.filePath(QStringLiteral("velto-camera.conf"))};
  LoginItem login{QStringLiteral("velto-camera"), home.filePath(QStringLiteral("autostart"))};
  CameraStore store{clock, defaults, login, storeOptions(simDirectory)};
  PreviewController preview{clock, std::make_unique<video::GstCaptureBackend>(captureOptions(simDirectory)),
                            [this] { store.resetCamera(); }};
};

}  // namespace velto::testing
