// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A control's title as the views show it: the catalogue's English title (uvc/controls.h, which
// velto-ctl prints as it is) in the user's language.
#pragma once

#include <QString>

#include "uvc/controls.h"

namespace velto::views {

QString controlTitle(ControlID id);

}  // namespace velto::views
