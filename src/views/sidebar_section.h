// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The look of the sidebar's sections: a header line with a bold title over a light frame that
// holds the rows, and the small borderless buttons that sit at the header's end.
#pragma once

#include <QString>

class QFrame;
class QHBoxLayout;
class QToolButton;
class QVBoxLayout;
class QWidget;

class QCheckBox;
class QLabel;

namespace velto::views {

struct SectionParts {
  QHBoxLayout* header;  // title, stretch; the caller appends its buttons. Null without a title.
  QFrame* box;
  QVBoxLayout* rows;
};

// Gives `root` the layout of a section titled `title` (none when empty).
SectionParts buildSection(QWidget* root, const QString& title);

// Keeps `box` in step with its rows: shown while one of them is, else hidden, or, when
// `emptyNote` is given, showing that note in the secondary colour instead (a section that must be
// there even when the camera has none of its controls says why it is empty). Rows may be added
// later and may show and hide in any order.
void followRows(QFrame* box, const QString& emptyNote = QString());

// A borderless header button in a smaller font; `tooltip` also names it for assistive tools.
QToolButton* headerButton(const QString& text, const QString& tooltip, QWidget* parent);

// A second, explanatory line in the palette's secondary text colour and a smaller font.
void makeSecondary(QWidget* label);

// The second, explanatory line of a check box: secondary, wrapped, set under the box's text (not
// its indicator), and the box's accessible description.
QLabel* checkBoxSubtitle(QCheckBox* check, const QString& text, QWidget* parent);

}  // namespace velto::views
