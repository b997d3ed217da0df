// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "model/status_text.h"

#include "uvc/uvc_device.h"

namespace velto {

QString statusReason(usb::Status status) {
  switch (status) {
    case usb::status::success: return QStringLiteral("success");
    case usb::status::noDevice: return QStringLiteral("the camera is not connected");
    case usb::status::notPrivileged: return QStringLiteral("permission denied");
    case usb::status::exclusiveAccess: return QStringLiteral("in use by another program");
    case usb::status::badArgument: return QStringLiteral("value not accepted");
    case usb::status::unsupported: return QStringLiteral("not supported by the camera");
    case usb::status::ioError: return QStringLiteral("input/output error");
    case usb::status::pipeStalled: return QStringLiteral("refused by the camera");
    case usb::status::timeout: return QStringLiteral("the camera did not answer");
    case usb::status::noMemory: return QStringLiteral("out of memory");
    default: return QStringLiteral("unexpected error");
  }
}

QString cannotOpenMessage(const usb::Service& service, const OpenResult& result) {
  QString text = QStringLiteral("cannot open ") + QString::fromStdString(UVCDevice::displayName(service));
  if (!result.path.empty()) text += QStringLiteral(" (%1)").arg(QString::fromStdString(result.path));
  text += QStringLiteral(": ") + statusReason(result.status);
  if (result.status == usb::status::notPrivileged) text += QStringLiteral(" — see docs/hardware.md");
  return text;
}

QString statusNumber(usb::Status status) { return QStringLiteral("0x%1").arg(status, 8, 16, QLatin1Char('0')); }

std::optional<QString> unreadableControl(const QString& camera, bool offers, ControlID id) {
  const QString name = QString::fromUtf8(rawValue(id).data(), static_cast<qsizetype>(rawValue(id).size()));
  if (!offers) return camera + " has no control " + name;
  if (!spec(id).readable) return name + " cannot be read back from the camera";
  return std::nullopt;
}

QString readFailure(ControlID id, usb::Status status) {
  return QStringLiteral("reading %1 failed (%2, status %3)")
      .arg(QString::fromUtf8(rawValue(id).data(), static_cast<qsizetype>(rawValue(id).size())), statusReason(status),
           statusNumber(status));
}

QString capitalized(QString text) {
  if (!text.isEmpty()) text[0] = text[0].toUpper();
  return text;
}

}  // namespace velto
