// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "model/status_text.h"

#include "uvc/uvc_device.h"

namespace velto {

UserText statusReasonText(usb::Status status) {
  switch (status) {
    case usb::status::success: return UserText(QT_TRANSLATE_NOOP("Messages", "success"));
    case usb::status::noDevice: return UserText(QT_TRANSLATE_NOOP("Messages", "the camera is not connected"));
    case usb::status::notPrivileged: return UserText(QT_TRANSLATE_NOOP("Messages", "permission denied"));
    case usb::status::exclusiveAccess: return UserText(QT_TRANSLATE_NOOP("Messages", "in use by another program"));
    case usb::status::badArgument: return UserText(QT_TRANSLATE_NOOP("Messages", "value not accepted"));
    case usb::status::unsupported: return UserText(QT_TRANSLATE_NOOP("Messages", "not supported by the camera"));
    case usb::status::ioError: return UserText(QT_TRANSLATE_NOOP("Messages", "input/output error"));
    case usb::status::pipeStalled: return UserText(QT_TRANSLATE_NOOP("Messages", "refused by the camera"));
    case usb::status::timeout: return UserText(QT_TRANSLATE_NOOP("Messages", "the camera did not answer"));
    case usb::status::noMemory: return UserText(QT_TRANSLATE_NOOP("Messages", "out of memory"));
    default: return UserText(QT_TRANSLATE_NOOP("Messages", "unexpected error"));
  }
}

QString statusReason(usb::Status status) { return statusReasonText(status).english(); }

UserText cannotOpenText(const usb::Service& service, const OpenResult& result) {
  const UserText name = UserText::verbatim(QString::fromStdString(UVCDevice::displayName(service)));
  const UserText reason = statusReasonText(result.status);
  const bool denied = result.status == usb::status::notPrivileged;
  if (result.path.empty()) {
    return denied ? UserText(QT_TRANSLATE_NOOP("Messages", "cannot open %1: %2 — see docs/hardware.md"), {name, reason})
                  : UserText(QT_TRANSLATE_NOOP("Messages", "cannot open %1: %2"), {name, reason});
  }
  const UserText path = UserText::verbatim(QString::fromStdString(result.path));
  return denied
             ? UserText(QT_TRANSLATE_NOOP("Messages", "cannot open %1 (%2): %3 — see docs/hardware.md"), {name, path, reason})
             : UserText(QT_TRANSLATE_NOOP("Messages", "cannot open %1 (%2): %3"), {name, path, reason});
}

QString cannotOpenMessage(const usb::Service& service, const OpenResult& result) {
  return cannotOpenText(service, result).english();
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

}  // namespace velto
