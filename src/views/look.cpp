#include "views/look.h"

#include <QFontDatabase>
#include <QLabel>

namespace velto::views {

QFont valueFont(const QFont& base) {
  // The system's fixed-pitch font at the size of the text around it.
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  if (base.pointSizeF() > 0) font.setPointSizeF(base.pointSizeF());
  else font.setPixelSize(base.pixelSize());
  return font;
}

QLabel* sectionTitle(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
  label->setAccessibleName(text);
  return label;
}

}  // namespace velto::views
