// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The tray icon's two drawings: a webcam on a stand, solid (`active`, a camera is connected) or
// outlined with a larger open lens (`idle`). Both are kept here as SVG text in an 18 x 18 box and
// rasterised with Qt SVG at the size and device pixel ratio they are shown at. They are template
// images: only their shape counts, and they are painted in one colour, the text colour of the
// panel or tray they sit on, so they read on light and dark bars alike.
//
// Main thread only (the parsed drawings are kept after first use).
#pragma once

#include <QByteArray>
#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPalette>
#include <QSize>

namespace velto::app::MenuBarIcon {

enum class Drawing { active, idle };

// The drawings' own size, in device-independent pixels.
inline constexpr QSize kSize{18, 18};

// The SVG text of `drawing`.
QByteArray svg(Drawing drawing);

// `drawing` rasterised at `size` (device-independent pixels) times `devicePixelRatio`, every
// covered pixel in `colour` (its coverage in the alpha channel), the ratio set on the image.
// A null image for an empty size; a blank one should the drawing not parse (logged once).
QImage image(Drawing drawing, QSize size, qreal devicePixelRatio, const QColor& colour);

// The tray's icon: `active` or `idle` in the palette's window-text colour (selected: its
// highlighted-text colour), at the sizes trays ask for, each in pixels 1:1 so every size is
// drawn for its own grid rather than scaled from another. Ask again when the palette changes.
QIcon trayIcon(bool active, const QPalette& palette);

// The pixel sizes trayIcon() carries (XEmbed trays at 16-48 px, StatusNotifier hosts up to 64).
inline constexpr int kTraySizes[] = {16, 18, 20, 22, 24, 32, 36, 44, 48, 64};

}  // namespace velto::app::MenuBarIcon
