#include "views/sidebar_section.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "views/look.h"

namespace velto::views {

SectionParts buildSection(QWidget* root, const QString& title) {
  auto* column = new QVBoxLayout(root);
  column->setContentsMargins(0, 0, 0, 0);
  QHBoxLayout* header = nullptr;
  if (!title.isEmpty()) {
    header = new QHBoxLayout;
    header->setContentsMargins(4, 0, 0, 0);  // the title lines up with the text in the frame
    header->addWidget(sectionTitle(title, root));
    header->addStretch(1);
    column->addLayout(header);
  }
  // The rows on the view background colour inside a light frame, as desktop settings panels do.
  auto* box = new QFrame(root);
  box->setFrameShape(QFrame::StyledPanel);
  box->setBackgroundRole(QPalette::Base);
  box->setAutoFillBackground(true);
  auto* rows = new QVBoxLayout(box);
  column->addWidget(box);
  return {header, box, rows};
}

QToolButton* headerButton(const QString& text, const QString& tooltip, QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setText(text);
  button->setAutoRaise(true);
  button->setToolTip(tooltip);
  button->setAccessibleName(tooltip.isEmpty() ? text : tooltip);
  QFont small = button->font();
  small.setPointSizeF(small.pointSizeF() * 0.9);
  button->setFont(small);
  return button;
}

void makeSecondary(QWidget* label) {
  label->setForegroundRole(QPalette::PlaceholderText);
  QFont small = label->font();
  small.setPointSizeF(small.pointSizeF() * 0.9);
  label->setFont(small);
}

QLabel* checkBoxSubtitle(QCheckBox* check, const QString& text, QWidget* parent) {
  auto* line = new QLabel(text, parent);
  line->setWordWrap(true);
  makeSecondary(line);
  const int indent = check->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, check) +
                     check->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, check);
  line->setContentsMargins(indent, 0, 0, 0);
  check->setAccessibleDescription(text);
  return line;
}

}  // namespace velto::views
