// The small dialog that asks for a preset's name: a field with the placeholder "Name", "Save"
// and "Cancel". It only collects text; what Save does is its owner's business.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

namespace velto::views {

class PresetNameDialog : public QDialog {
  Q_OBJECT

 public:
  // `title` is "Save Preset" or "Rename Preset"; `name` fills the field.
  PresetNameDialog(const QString& title, const QString& name, QWidget* parent = nullptr);

  // The field's text without spaces and tabs at either end (line breaks are kept).
  QString trimmedName() const;
  // Spaces and tabs off both ends of `text`.
  static QString trimmed(const QString& text);

  QLineEdit* field() const { return field_; }
  QPushButton* saveButton() const { return save_; }

 private:
  QLineEdit* field_;
  QPushButton* save_;
};

}  // namespace velto::views
