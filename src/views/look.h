// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The few pieces of look every view shares, so the window reads as one: values in a monospaced
// digit font, section titles as bold labels, and the described signal colours. Everything else
// comes from the platform style and the desktop's palette.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QPalette;

class QLabel;
class QWidget;

namespace velto::views {

// The font for numbers that change while the user watches (slider values, readouts): the
// system's fixed-pitch font at the size of `base`, so a value does not shift as it changes.
QFont valueFont(const QFont& base);

// A bold section title.
QLabel* sectionTitle(const QString& text, QWidget* parent = nullptr);

// The signal colours: the orange of a warning label.
inline QColor warningSignal() { return QColor(255, 149, 0); }

// The red of an error message that stays readable on `palette`'s background: a deep red on a
// light window, a light one on a dark window (both above 4.5:1 against the usual backgrounds).
QColor errorColor(const QPalette& palette);

// A label that shows errors: red in a smaller (caption) font, following the palette when the
// desktop switches between light and dark.
QLabel* errorLabel(QWidget* parent);

// The smaller font of captions and of the callouts over the preview.
QFont smallerFont(const QFont& base);

// Gives a slider the desktop style's look at a smaller size: a thinner groove and handle, so the
// sidebar's many sliders read as a compact list rather than a wall of handles.
void useSmallControlSize(QWidget* slider);

}  // namespace velto::views
