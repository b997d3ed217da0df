// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "support/user_text.h"

#include <QCoreApplication>

namespace velto {

UserText::UserText(const char* source, QList<UserText> args) : source_(source), args_(std::move(args)) {}

UserText UserText::verbatim(QString text) {
  UserText result;
  result.verbatim_ = std::move(text);
  return result;
}

QString UserText::english() const { return render(false); }

QString UserText::translated() const { return render(true); }

UserText UserText::capitalized() const {
  UserText result = *this;
  result.capitalized_ = true;
  return result;
}

QString UserText::render(bool translate) const {
  if (source_ == nullptr) return verbatim_;
  const QString pattern = translate ? QCoreApplication::translate(kContext, source_) : QString::fromUtf8(source_);
  // One pass over the template: an argument's own text (a path with "%1" in it) is never read as
  // a place for another.
  QString text;
  text.reserve(pattern.size());
  for (qsizetype i = 0; i < pattern.size(); ++i) {
    const QChar c = pattern[i];
    if (c == u'%' && i + 1 < pattern.size() && pattern[i + 1] >= u'1' && pattern[i + 1] <= u'9') {
      const qsizetype index = pattern[i + 1].unicode() - u'1';
      if (index < args_.size()) {
        text += args_[index].render(translate);
        ++i;
        continue;
      }
    }
    text += c;
  }
  if (capitalized_ && !text.isEmpty()) text[0] = text[0].toUpper();
  return text;
}

}  // namespace velto
