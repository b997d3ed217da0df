// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "capture/calibrator.h"

#include <cmath>
#include <utility>

#include "capture/exposure_format.h"
#include "capture/frame_analyzer.h"
#include "capture/illinois_search.h"
#include "model/camera_store.h"

namespace velto {
namespace {

using namespace std::chrono_literals;

constexpr auto kSettle = 250ms;    // the camera takes up a new value
constexpr auto kFramePoll = 10ms;  // looking for a fresh frame
constexpr int kFramePolls = 100;   // about a second, then the newest frame is used anyway
constexpr double kPatchRadius = 0.015;  // of the frame height: about 32 × 32 pixels at 1080 lines

}  // namespace

struct Calibrator::Search {
  Tool tool;
  QPointF point;
  CameraStore* store;
  FrameAnalyzer* analyzer;
  IllinoisSearch search;
  double target = 0.5;  // exposure only
  std::vector<Color> samples;

  ControlID control() const { return tool == Tool::whiteBalance ? ControlID::whiteBalance : ControlID::exposure; }
  // Writing a search position: white balance in kelvin, exposure on a log scale.
  std::int64_t valueAt(double position) const {
    return std::llround(tool == Tool::whiteBalance ? position : std::exp(position));
  }
  // The error at the spot's colour; none when the colour cannot be used.
  std::optional<double> error(const Color& c) const {
    if (tool == Tool::whiteBalance) {
      if (c[0] <= 0.01 || c[2] <= 0.01) return std::nullopt;
      return std::log(c[0] / c[2]);
    }
    const double y = 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
    return std::log(std::max(y, 0.002) / target);
  }
};

Calibrator::Calibrator(Clock& clock, QObject* parent) : QObject(parent), clock_(clock) {}

Calibrator::~Calibrator() = default;

void Calibrator::setTool(Tool tool) {
  if (tool == tool_) return;
  tool_ = tool;
  setMessage(std::nullopt);  // it spoke of the other tool
  emit toolChanged();
}

void Calibrator::setExposureTarget(double target) {
  if (target == exposureTarget_) return;
  exposureTarget_ = target;
  emit exposureTargetChanged();
}

void Calibrator::run(QPointF point, CameraStore& store, FrameAnalyzer& analyzer) {
  cancel();
  setPoint(point);
  setMessage(std::nullopt);
  if (tool_ == Tool::none) return;

  const bool wb = tool_ == Tool::whiteBalance;
  const ControlID control = wb ? ControlID::whiteBalance : ControlID::exposure;
  const auto range = store.ranges().find(control);
  if (!store.supports(control) || range == store.ranges().end()) {
    report(wb ? UserText(QT_TRANSLATE_NOOP("Messages", "This camera has no manual white balance."))
              : UserText(QT_TRANSLATE_NOOP("Messages", "This camera has no manual exposure.")),
           store, std::nullopt);
    return;
  }
  setBusy(true);
  const ControlID autoControl = wb ? ControlID::autoWhiteBalance : ControlID::autoExposure;
  if (store.supports(autoControl)) store.setAuto(autoControl, false);
  const double lo = wb ? double(range->second.min) : std::log(std::max<double>(range->second.min, 1));
  const double hi = wb ? double(range->second.max) : std::log(std::max<double>(range->second.max, 2));
  search_ = std::make_shared<Search>(Search{tool_, point, &store, &analyzer,
                                            wb ? IllinoisSearch(lo, hi, 0.01, 25) : IllinoisSearch(lo, hi, 0.03, 0.02),
                                            exposureTarget_, {}});
  step(search_);
}

void Calibrator::cancel() {
  search_.reset();
  wait_.cancel();
  setBusy(false);
  setPoint(std::nullopt);
}

void Calibrator::step(std::shared_ptr<Search> search) {
  const std::optional<double> next = search->search.next();
  if (!next) {
    // The result, written once more: the last probe may have been elsewhere.
    const ControlID control = search->control();
    search->store->set(control, search->valueAt(*search->search.result()));
    const std::int64_t value = search->store->value(control);
    finish(search,
           search->tool == Tool::whiteBalance
               ? UserText(QT_TRANSLATE_NOOP("Messages", "White balance set to %1 K"), {UserText::verbatim(QString::number(value))})
               : UserText(QT_TRANSLATE_NOOP("Messages", "Exposure set to %1"),
                          {UserText::verbatim(ExposureFormat::string(value))}),
           control);
    return;
  }
  search->store->set(search->control(), search->valueAt(*next));
  measure(search, [this, search](std::optional<Color> color) {
    const std::optional<double> f = color ? search->error(*color) : std::nullopt;
    if (!f) {
      finish(search,
             search->tool == Tool::whiteBalance
                 ? UserText(QT_TRANSLATE_NOOP("Messages", "Couldn't read that spot — pick a brighter neutral area."))
                 : UserText(QT_TRANSLATE_NOOP("Messages", "Couldn't read that spot.")),
             std::nullopt);
      return;
    }
    search->search.measured(*f);
    step(search);
  });
}

void Calibrator::measure(std::shared_ptr<Search> search, std::function<void(std::optional<Color>)> done) {
  search->samples.clear();
  wait_ = clock_.singleShot(this, kSettle, [this, search, done] {
    if (!current(search)) return;
    waitForFrames(search, search->analyzer->frameCount() + 3, kFramePolls,
                  [this, search, done] { sample(search, 3, done); });
  });
}

void Calibrator::sample(std::shared_ptr<Search> search, int left, std::function<void(std::optional<Color>)> done) {
  if (left == 0) {
    const auto& samples = search->samples;
    if (samples.empty()) return done(std::nullopt);
    Color mean{0, 0, 0};
    for (const Color& c : samples) {
      for (int i = 0; i < 3; ++i) mean[i] += c[i] / static_cast<double>(samples.size());
    }
    return done(mean);
  }
  // Each sample from a frame newer than the last.
  waitForFrames(search, search->analyzer->frameCount() + 1, kFramePolls, [this, search, left, done] {
    if (auto c = search->analyzer->averageColor(search->point, kPatchRadius)) search->samples.push_back(*c);
    sample(search, left - 1, done);
  });
}

void Calibrator::waitForFrames(std::shared_ptr<Search> search, std::int64_t target, int polls, std::function<void()> done) {
  if (!current(search)) return;
  if (search->analyzer->frameCount() >= target || polls == 0) return done();
  wait_ = clock_.singleShot(this, kFramePoll, [this, search, target, polls, done] {
    waitForFrames(search, target, polls - 1, done);
  });
}

void Calibrator::finish(const std::shared_ptr<Search>& search, UserText message, std::optional<ControlID> reported) {
  if (!current(search)) return;
  search_.reset();
  report(std::move(message), *search->store, reported);
  setPoint(std::nullopt);
  setBusy(false);
}

void Calibrator::setBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  emit busyChanged();
}

void Calibrator::setPoint(std::optional<QPointF> point) {
  if (point == point_) return;
  point_ = point;
  emit pointChanged();
}

void Calibrator::report(UserText message, CameraStore& store, std::optional<ControlID> control) {
  setMessage(std::move(message));
  const auto camera = store.device() ? std::optional(store.device()->registryID) : std::nullopt;
  messageWatch_[0] = connect(&store, &CameraStore::deviceChanged, this, [this, &store, camera] {
    if ((store.device() ? std::optional(store.device()->registryID) : std::nullopt) != camera) setMessage(std::nullopt);
  });
  messageWatch_[1] = connect(&store, &QObject::destroyed, this, [this] { setMessage(std::nullopt); });
  if (control) {
    messageWatch_[2] = connect(&store, &CameraStore::valuesChanged, this, [this, &store, id = *control, v = store.value(*control)] {
      if (store.value(id) != v) setMessage(std::nullopt);
    });
  }
}

void Calibrator::setMessage(std::optional<UserText> message) {
  for (auto& watch : messageWatch_) disconnect(std::exchange(watch, {}));
  if (message == message_) return;
  message_ = std::move(message);
  emit messageChanged();
}

}  // namespace velto
