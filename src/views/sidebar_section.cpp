// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/sidebar_section.h"

#include <QCheckBox>
#include <QChildEvent>
#include <QEvent>
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

namespace {

class RowFollower : public QObject {
 public:
  RowFollower(QFrame* box, QLabel* note) : QObject(box), box_(box), note_(note) {
    for (QObject* child : box->children()) watch(child);
    box->installEventFilter(this);
    refit();
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == box_) {
      if (event->type() == QEvent::ChildAdded) watch(static_cast<QChildEvent*>(event)->child());
      else if (event->type() == QEvent::ChildRemoved) refit();
    } else if (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent) {
      refit();
    }
    return false;
  }

 private:
  void watch(QObject* child) {
    if (child->isWidgetType() && child != note_) child->installEventFilter(this);
  }
  void refit() {
    bool any = false;
    for (QObject* child : box_->children()) {
      if (child->isWidgetType() && child != note_ && !static_cast<QWidget*>(child)->isHidden()) any = true;
    }
    if (note_) note_->setVisible(!any);
    box_->setVisible(any || note_);
  }

  QFrame* box_;
  QLabel* note_;
};

}  // namespace

void followRows(QFrame* box, const QString& emptyNote) {
  QLabel* note = nullptr;
  if (!emptyNote.isEmpty()) {
    note = new QLabel(emptyNote, box);
    note->setObjectName(QStringLiteral("emptyNote"));
    note->setWordWrap(true);
    makeSecondary(note);
    if (auto* rows = qobject_cast<QVBoxLayout*>(box->layout())) rows->insertWidget(0, note);
  }
  new RowFollower(box, note);
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
