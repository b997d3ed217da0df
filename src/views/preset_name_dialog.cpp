// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/preset_name_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "model/preset.h"
#include "views/look.h"
#include "views/sidebar_section.h"

namespace velto::views {

PresetNameDialog::PresetNameDialog(const QString& title, const QString& name, QStringList taken, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), taken_(std::move(taken)) {
  setWindowTitle(title);
  auto* column = new QVBoxLayout(this);
  // The title inside as well: a window manager may show none, and a dialog reads better with it.
  auto* heading = sectionTitle(title, this);
  heading->setObjectName(QStringLiteral("title"));
  column->addWidget(heading);

  auto* form = new QFormLayout;
  field_ = new QLineEdit(name, this);
  field_->setPlaceholderText(tr("Name"));
  field_->setAccessibleName(tr("Name"));
  // Longer text is cut where typing stops; the note says why.
  field_->setMaxLength(kMaxPresetNameLength);
  form->addRow(tr("&Name:"), field_);
  column->addLayout(form);
  note_ = new QLabel(this);
  note_->setObjectName(QStringLiteral("note"));
  note_->setWordWrap(true);
  makeSecondary(note_);
  column->addWidget(note_);

  auto* buttons = new QDialogButtonBox(this);
  save_ = buttons->addButton(tr("Save"), QDialogButtonBox::AcceptRole);
  buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
  save_->setDefault(true);
  column->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(field_, &QLineEdit::textChanged, this, &PresetNameDialog::renderNote);
  setMinimumWidth(kMinimumWidth);
  field_->selectAll();
  renderNote();
}

void PresetNameDialog::renderNote() {
  const QString name = trimmedName();
  QStringList notes;
  if (field_->text().size() >= field_->maxLength()) notes << tr("A name has at most %n characters.", nullptr, field_->maxLength());
  if (!name.isEmpty() && taken_.contains(name)) notes << tr("Another preset is already called “%1”. Saving keeps both.").arg(name);
  note_->setText(notes.join(u' '));
  note_->setVisible(!notes.isEmpty());
}

QString PresetNameDialog::trimmedName() const { return trimmed(field_->text()); }

QString PresetNameDialog::trimmed(const QString& text) {
  auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
  qsizetype begin = 0, end = text.size();
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  return text.mid(begin, end - begin);
}

}  // namespace velto::views
