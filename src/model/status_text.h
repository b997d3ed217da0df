// USB statuses in the words a Linux user reads in messages, and the messages built from them.
#pragma once

#include <QString>

#include "platform/usb/service.h"
#include "platform/usb/status.h"

namespace velto {

struct OpenResult;

// "permission denied", "in use by another program", "no answer", ...: the cause of a failure,
// short enough to stand inside parentheses beside the status number.
QString statusReason(usb::Status status);

// "cannot open Anker PowerConf C200 (/dev/video2): permission denied — see docs/hardware.md";
// without the path when no file refused, without the pointer when permissions are not the cause.
QString cannotOpenMessage(const usb::Service& service, const OpenResult& result);

// The same text with its first letter in upper case, for a sentence of its own.
QString capitalized(QString text);

}  // namespace velto
