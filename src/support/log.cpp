// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "support/log.h"

#include <QString>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "support/log_categories.h"

namespace velto {

Q_LOGGING_CATEGORY(lcUsb, "velto.usb", QtInfoMsg)
Q_LOGGING_CATEGORY(lcUvc, "velto.uvc", QtInfoMsg)
Q_LOGGING_CATEGORY(lcModel, "velto.model", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCapture, "velto.capture", QtInfoMsg)
Q_LOGGING_CATEGORY(lcApp, "velto.app", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCli, "velto.cli", QtInfoMsg)

namespace log {
namespace {

const QLoggingCategory& category(Layer layer) {
  switch (layer) {
    case Layer::usb: return lcUsb();
    case Layer::uvc: return lcUvc();
    case Layer::model: return lcModel();
    case Layer::capture: return lcCapture();
    case Layer::app: return lcApp();
    case Layer::cli: return lcCli();
  }
  return lcApp();
}

QString text(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

void warning(Layer layer, std::string_view message) {
  const QLoggingCategory& c = category(layer);
  if (c.isWarningEnabled()) QMessageLogger(nullptr, 0, nullptr, c.categoryName()).warning().noquote() << text(message);
}

void info(Layer layer, std::string_view message) {
  const QLoggingCategory& c = category(layer);
  if (c.isInfoEnabled()) QMessageLogger(nullptr, 0, nullptr, c.categoryName()).info().noquote() << text(message);
}

void systemCallFailed(Layer layer, std::string_view call, std::string_view path, int err) {
  const std::string where = std::string(call) + "(" + std::string(path) + ")";
  const std::string message = where + ": " + std::strerror(err) + " (errno " + std::to_string(err) + ")";
  // The last errno seen per call and path: a repeat of the same failure is not news.
  static std::mutex mutex;
  static std::map<std::string, int> last;
  bool repeat = false;
  {
    std::lock_guard guard(mutex);
    auto [it, inserted] = last.try_emplace(where, err);
    repeat = !inserted && it->second == err;
    it->second = err;
    if (last.size() > 256) last.clear();  // bounded: a long session meets many device paths
  }
  const QLoggingCategory& c = category(layer);
  if (repeat) {
    if (c.isDebugEnabled()) QMessageLogger(nullptr, 0, nullptr, c.categoryName()).debug().noquote() << text(message);
  } else {
    warning(layer, message);
  }
}

}  // namespace log
}  // namespace velto
