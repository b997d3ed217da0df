// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Logging, one category per layer: velto.usb (carriers, registry, notifier), velto.uvc (devices),
// velto.model (store, persistence), velto.capture, velto.app, velto.cli. Qt's logging rules
// switch them on and off (QT_LOGGING_RULES="velto.*=true", docs/hardware.md); velto-ctl turns them
// on with --verbose.
//
// This header is free of Qt so that the transport and device layers can log without knowing Qt;
// Qt code may use the categories of log_categories.h directly. Any thread.
#pragma once

#include <string_view>

namespace velto::log {

enum class Layer { usb, uvc, model, capture, app, cli };

void warning(Layer layer, std::string_view message);
void info(Layer layer, std::string_view message);

// One failing system call at the operating-system edge: "open(/dev/video2): Permission denied
// (errno 13)". The first occurrence is a warning; the same call failing the same way on the same
// path again (every poll of a camera that has gone away, say) is only a debug message, until a
// different failure of that call and path has been seen.
void systemCallFailed(Layer layer, std::string_view call, std::string_view path, int err);

}  // namespace velto::log
