// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "capture/capture_mode_settings.h"

#include "platform/session/user_defaults.h"

namespace velto {
namespace {

QString keyOf(const CameraKey& model) {
  return QStringLiteral("captureMode/%1_%2")
      .arg(model.vendorID, 4, 16, QLatin1Char('0'))
      .arg(model.productID, 4, 16, QLatin1Char('0'));
}

}  // namespace

std::optional<video::CaptureMode> CaptureModeSettings::mode(const CameraKey& model) const {
  const std::optional<QByteArray> stored = defaults_.data(keyOf(model));
  if (!stored) return std::nullopt;
  return video::parseModeKey(std::string_view(stored->constData(), static_cast<std::size_t>(stored->size())));
}

void CaptureModeSettings::setMode(const CameraKey& model, const std::optional<video::CaptureMode>& mode) {
  if (mode) {
    defaults_.setData(keyOf(model), QByteArray::fromStdString(video::modeKey(*mode)));
  } else {
    defaults_.remove(keyOf(model));
  }
}

}  // namespace velto
