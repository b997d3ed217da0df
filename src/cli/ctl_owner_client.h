// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// velto-ctl beside a running owner (the application or `velto-ctl watch`): every command goes to
// the owner's store over the session bus, and is printed as velto-ctl prints it without one.
#pragma once

#include <QDBusConnection>
#include <chrono>
#include <optional>
#include <ostream>

#include "cli/ctl_arguments.h"

namespace velto::cli {

// Where the session bus is, as libdbus finds it: DBUS_SESSION_BUS_ADDRESS, else the socket
// $XDG_RUNTIME_DIR/bus when it is one of this user's; none without either.
std::optional<QString> sessionBusAddress();

// The session bus when an owner holds its name there; none without a session bus or an owner.
std::optional<QDBusConnection> sessionOwnerBus();

// How long velto-ctl waits for the owner to carry out a command (stats: more, per frame); then it
// gives up with kCameraFailed.
inline constexpr std::chrono::seconds kOwnerTimeLimit{60};

// Carries out `request` through the owner; the exit code as without one.
int runThroughOwner(const CtlRequest& request, QDBusConnection bus, std::ostream& out, std::ostream& err);

}  // namespace velto::cli
