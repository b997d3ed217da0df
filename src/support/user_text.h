// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A message for people that the lower layers build (the store's error, the calibrator's result,
// the preview's problem) and that must be said twice: in English for the log, velto-ctl and the
// session bus, and in the user's language in the window and the panel. It keeps the English
// template and the arguments that fill it, so the views translate it at their boundary while the
// layers below stay free of any language but English.
//
// The template is a string literal marked where it is written, with
//   UserText(QT_TRANSLATE_NOOP("Messages", "Couldn't reset the camera (%1, %2)."), {reason, number})
// so that lupdate collects it from that one place; the context must be "Messages" (kContext).
#pragma once

#include <QList>
#include <QString>

namespace velto {

class UserText {
 public:
  // The translation context of every template.
  static constexpr char kContext[] = "Messages";

  UserText() = default;
  // `source` is a marked literal, kept by pointer; %1 … %9 in it take `args` in order.
  explicit UserText(const char* source, QList<UserText> args = {});
  // Text that is the same in every language: a camera's name, a path, a number, or a reason the
  // system has already worded.
  static UserText verbatim(QString text);

  bool isEmpty() const { return source_ == nullptr && verbatim_.isEmpty(); }
  QString english() const;
  // In the language of the installed translators; English where they have no translation.
  QString translated() const;
  // The same message with its first letter in upper case, for a sentence of its own.
  UserText capitalized() const;

  // Equal when they read the same in English.
  friend bool operator==(const UserText& a, const UserText& b) { return a.english() == b.english(); }

 private:
  QString render(bool translate) const;

  const char* source_ = nullptr;
  QString verbatim_;
  QList<UserText> args_;
  bool capitalized_ = false;
};

}  // namespace velto
