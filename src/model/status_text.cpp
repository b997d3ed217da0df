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

QString capitalized(QString text) {
  if (!text.isEmpty()) text[0] = text[0].toUpper();
  return text;
}

}  // namespace velto
