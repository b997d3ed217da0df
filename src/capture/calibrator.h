// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Click-to-set white balance and exposure. With a tool chosen, a click in the preview starts a
// search over the manual control's range: the calibrator switches the automatic mode off, writes
// candidate values through the store and measures the clicked spot in the live frames after each
// write, until the spot is neutral (white balance) or at the target brightness (exposure). The
// outcome is one line of text. One search at a time; a new click cancels the running one.
//
// Main thread. Every wait (the camera settling, fresh frames) runs on the injected clock.
#pragma once

#include <QObject>
#include <QPointF>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "support/clock.h"
#include "support/user_text.h"
#include "uvc/controls.h"

namespace velto {

class CameraStore;
class FrameAnalyzer;

class Calibrator : public QObject {
  Q_OBJECT

 public:
  enum class Tool { none, whiteBalance, exposure };

  explicit Calibrator(Clock& clock, QObject* parent = nullptr);
  ~Calibrator() override;

  Tool tool() const { return tool_; }
  void setTool(Tool tool);
  // The luminance (0…1) the clicked spot should end at: 0.4, 0.5 or 0.6 in the window.
  double exposureTarget() const { return exposureTarget_; }
  void setExposureTarget(double target);
  bool busy() const { return busy_; }
  // The clicked spot (normalised, origin top left) while it is marked.
  const std::optional<QPointF>& point() const { return point_; }
  // The outcome of the last search, in English. It goes as soon as it could mislead: when the tool
  // changes, when the camera changes, and when the value it reports is changed in any other way (a
  // slider, a preset, another program). userMessage is the same outcome for the views to translate.
  std::optional<QString> message() const { return message_ ? std::optional(message_->english()) : std::nullopt; }
  const std::optional<UserText>& userMessage() const { return message_; }

  // Starts a search for the active tool at `point`. `store` and `analyzer` must outlive it.
  void run(QPointF point, CameraStore& store, FrameAnalyzer& analyzer);
  // Stops a running search: nothing more is written; `message` stays as it is.
  void cancel();

 signals:
  void toolChanged();
  void exposureTargetChanged();
  void busyChanged();
  void pointChanged();
  void messageChanged();

 private:
  struct Search;
  using Color = std::array<double, 3>;

  // Waits for the camera to settle and for fresh frames, then averages the spot over three frames.
  void measure(std::shared_ptr<Search> search, std::function<void(std::optional<Color>)> done);
  void sample(std::shared_ptr<Search> search, int left, std::function<void(std::optional<Color>)> done);
  void waitForFrames(std::shared_ptr<Search> search, std::int64_t target, int polls, std::function<void()> done);
  void step(std::shared_ptr<Search> search);
  // Ends `search` with `message`, which reports the value of `reported` when given.
  void finish(const std::shared_ptr<Search>& search, UserText message, std::optional<ControlID> reported);
  bool current(const std::shared_ptr<Search>& search) const { return search == search_; }

  void setBusy(bool busy);
  void setPoint(std::optional<QPointF> point);
  void setMessage(std::optional<UserText> message);
  // Shows `message` about the camera `store` has now and, when given, the value of `control`.
  void report(UserText message, CameraStore& store, std::optional<ControlID> control);

  Clock& clock_;
  Tool tool_ = Tool::none;
  double exposureTarget_ = 0.5;
  bool busy_ = false;
  std::optional<QPointF> point_;
  std::optional<UserText> message_;
  std::shared_ptr<Search> search_;  // the running search; a callback of any other is stale
  TimerHandle wait_;                // the search's pending sleep
  QMetaObject::Connection messageWatch_[3];  // the store changes that end the message
};

}  // namespace velto
