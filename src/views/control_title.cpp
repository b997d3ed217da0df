// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/control_title.h"

#include <QCoreApplication>
#include <iterator>
#include <string>

namespace velto::views {
namespace {

constexpr char kContext[] = "ControlTitle";

// The catalogue's titles, marked here for lupdate because the catalogue is free of Qt. They are
// looked up by the catalogue's own text, which stays the one English source: a title that
// changes there and not here stays English in every language until it is marked again.
[[maybe_unused]] constexpr const char* kMarked[] = {
    QT_TRANSLATE_NOOP("ControlTitle", "Auto Exposure"),   QT_TRANSLATE_NOOP("ControlTitle", "Exposure"),
    QT_TRANSLATE_NOOP("ControlTitle", "Auto Focus"),      QT_TRANSLATE_NOOP("ControlTitle", "Focus"),
    QT_TRANSLATE_NOOP("ControlTitle", "Auto White Balance"), QT_TRANSLATE_NOOP("ControlTitle", "Temperature"),
    QT_TRANSLATE_NOOP("ControlTitle", "Anti-Flicker"),    QT_TRANSLATE_NOOP("ControlTitle", "Brightness"),
    QT_TRANSLATE_NOOP("ControlTitle", "Contrast"),        QT_TRANSLATE_NOOP("ControlTitle", "Saturation"),
    QT_TRANSLATE_NOOP("ControlTitle", "Sharpness"),       QT_TRANSLATE_NOOP("ControlTitle", "Gamma"),
    QT_TRANSLATE_NOOP("ControlTitle", "Hue"),             QT_TRANSLATE_NOOP("ControlTitle", "Gain"),
    QT_TRANSLATE_NOOP("ControlTitle", "Backlight"),       QT_TRANSLATE_NOOP("ControlTitle", "Flip Horizontally"),
    QT_TRANSLATE_NOOP("ControlTitle", "HDR"),             QT_TRANSLATE_NOOP("ControlTitle", "Pickup"),
    QT_TRANSLATE_NOOP("ControlTitle", "Field of View"),   QT_TRANSLATE_NOOP("ControlTitle", "Zoom"),
    QT_TRANSLATE_NOOP("ControlTitle", "Pan"),             QT_TRANSLATE_NOOP("ControlTitle", "Tilt"),
};
static_assert(std::size(kMarked) == kControlCount, "every control's title is marked");

}  // namespace

QString controlTitle(ControlID id) {
  const std::string english(title(id));
  return QCoreApplication::translate(kContext, english.c_str());
}

}  // namespace velto::views
