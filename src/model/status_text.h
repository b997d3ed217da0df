// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// USB statuses in the words a Linux user reads in messages, and the messages built from them.
#pragma once

#include <QString>
#include <optional>

#include "platform/usb/service.h"
#include "platform/usb/status.h"
#include "support/user_text.h"
#include "uvc/controls.h"

namespace velto {

struct OpenResult;

// "permission denied", "in use by another program", "no answer", ...: the cause of a failure,
// short enough to stand inside parentheses beside the status number. The text form is English.
UserText statusReasonText(usb::Status status);
QString statusReason(usb::Status status);

// "cannot open Anker PowerConf C200 (/dev/video2): permission denied — see docs/hardware.md";
// without the path when no file refused, without the pointer when permissions are not the cause.
UserText cannotOpenText(const usb::Service& service, const OpenResult& result);
QString cannotOpenMessage(const usb::Service& service, const OpenResult& result);

// The status as messages show it: "0xe00002c1".
QString statusNumber(usb::Status status);

// Why `id` cannot be read from `camera`, which `offers` it or not; none when it can be.
std::optional<QString> unreadableControl(const QString& camera, bool offers, ControlID id);

// "reading brightness failed (the camera did not answer, status 0xe0004051)"
QString readFailure(ControlID id, usb::Status status);

}  // namespace velto
