// The few pieces of look every view shares, so the window reads as one: values in a monospaced
// digit font, section titles as bold labels, and the described signal colours. Everything else
// comes from the platform style and the desktop's palette.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QLabel;
class QWidget;

namespace velto::views {

// The font for numbers that change while the user watches (slider values, readouts): the
// system's fixed-pitch font at the size of `base`, so a value does not shift as it changes.
QFont valueFont(const QFont& base);

// A bold section title.
QLabel* sectionTitle(const QString& text, QWidget* parent = nullptr);

// The signal colours: red for an error or clipped highlights, and the orange of a warning label.
inline QColor highlightSignal() { return QColor(255, 0, 0); }
inline QColor warningSignal() { return QColor(255, 149, 0); }

}  // namespace velto::views
