#include "views/look.h"

#include <QLabel>

namespace velto::views {

QFont valueFont(const QFont& base) {
  QFont font = base;
  font.setFeature(QFont::Tag("tnum"), 1);
  font.setStyleHint(QFont::TypeWriter, QFont::PreferDefault);
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
