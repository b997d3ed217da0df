#include "views/preset_name_dialog.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace velto::views {

PresetNameDialog::PresetNameDialog(const QString& title, const QString& name, QWidget* parent) : QDialog(parent) {
  setWindowTitle(title);
  auto* column = new QVBoxLayout(this);
  field_ = new QLineEdit(name, this);
  field_->setPlaceholderText(QStringLiteral("Name"));
  field_->setAccessibleName(QStringLiteral("Name"));
  field_->setMinimumWidth(field_->fontMetrics().averageCharWidth() * 32);
  column->addWidget(field_);
  auto* buttons = new QDialogButtonBox(this);
  save_ = buttons->addButton(QStringLiteral("Save"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
  save_->setDefault(true);
  column->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  field_->selectAll();
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
