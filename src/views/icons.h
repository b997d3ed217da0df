// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The images the views show, by the symbol names the design gives them ("video.slash",
// "checkmark", ...). One table maps each to a freedesktop icon name, taken from the desktop's
// icon theme when it has one, and to a drawing of our own in the resources (":/velto/icons/*.svg")
// for desktops without one (offscreen, Xvfb, a bare window manager). Our drawings are
// monochrome and are painted in the palette's text colour at the moment they are drawn, so they
// follow light and dark palettes, and they are rendered for the device pixel ratio they are
// painted at.
//
// Main thread only (they read the application palette).
#pragma once

#include <QColor>
#include <QIcon>
#include <QString>
#include <span>
#include <string_view>

namespace velto::views {

struct IconEntry {
  std::string_view systemName;  // as the views name it
  const char* themeName;        // freedesktop name, for QIcon::fromTheme
  const char* resource;         // our drawing, ":/velto/icons/<file>.svg"
};

// Every symbol the views use, in no particular order.
std::span<const IconEntry> iconTable();

// The image for `systemName`: the theme's icon when the theme has one, else our drawing in the
// palette's text colour (disabled and selected states in their palette colours). A name not in
// the table is logged once and gives an empty icon.
QIcon icon(std::string_view systemName);

// The same image painted in one fixed colour whatever the palette (a checkmark in the accent
// colour, the camera in green). Theme icons are recoloured too; they are monochrome symbols.
QIcon icon(std::string_view systemName, const QColor& tint);

// Our own drawing only, never the theme's (for tests and for places that must look the same on
// every desktop). Empty for unknown names.
QIcon bundledIcon(std::string_view systemName);

}  // namespace velto::views
