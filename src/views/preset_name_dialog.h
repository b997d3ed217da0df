// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The small dialog that asks for a preset's name: its title in bold ("Save Preset" or "Rename
// Preset"), a labelled field with the placeholder "Name" that takes at most kMaxPresetNameLength
// characters, a note while the name is that long or is one another preset already has (saving is
// still allowed: presets are told apart by more than their name), "Save" and "Cancel". It only
// collects text; what Save does is its owner's business.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QLabel;
class QLineEdit;
class QPushButton;

namespace velto::views {

class PresetNameDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kMinimumWidth = 320;

  // `title` is "Save Preset" or "Rename Preset"; `name` fills the field; `taken` are the names of
  // the other presets.
  PresetNameDialog(const QString& title, const QString& name, QStringList taken = {}, QWidget* parent = nullptr);

  // The field's text without spaces and tabs at either end (line breaks are kept).
  QString trimmedName() const;
  // Spaces and tabs off both ends of `text`.
  static QString trimmed(const QString& text);

  QLineEdit* field() const { return field_; }
  QPushButton* saveButton() const { return save_; }
  // The note under the field; hidden unless the name is as long as may be, or taken.
  QLabel* note() const { return note_; }

 private:
  void renderNote();

  const QStringList taken_;
  QLineEdit* field_;
  QLabel* note_;
  QPushButton* save_;
};

}  // namespace velto::views
