// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Scrolling a form must never change a setting that happens to pass under the pointer: a slider,
// combo box or spin box takes the wheel only once the user has given it focus (a click or Tab),
// and otherwise hands the wheel to the scrolling form around it, as KDE's own settings do.
#pragma once

class QWidget;

namespace velto::views {

// Makes `control` take wheel events only while it has focus, and focus only by click or Tab.
void takeWheelOnlyWithFocus(QWidget* control);

}  // namespace velto::views
