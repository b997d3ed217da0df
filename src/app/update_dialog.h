// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The updater's window, one for the whole run: "checking", the offer of a new release with its
// notes, "You're up to date", or why a check failed. DialogPresenter puts SoftwareUpdate's
// decisions on it and opens downloads with QDesktopServices.
//
// Main thread only.
#pragma once

#include <QDialog>
#include <QPointer>
#include <functional>

#include "app/software_update.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTextBrowser;

namespace velto {

class UpdateDialog : public QDialog {
  Q_OBJECT

 public:
  explicit UpdateDialog(QWidget* parent = nullptr);

  void showChecking();
  void showUpdate(const AppcastItem& item, const QString& currentVersion);
  void showUpToDate(const QString& currentVersion);
  void showError(const QString& reason);
  void showMessage(const QString& heading, const QString& body);

  enum class Mode { checking, update, message };
  Mode mode() const { return mode_; }

 signals:
  // The user's answer to an offer; closing the window is remindLater.
  void chosen(velto::UpdatePresenter::Choice choice);
  // The user stopped a running check (Cancel, or closing the window).
  void cancelled();

 protected:
  void done(int result) override;

 private:
  void setMode(Mode mode);
  void answer(UpdatePresenter::Choice choice);

  Mode mode_ = Mode::message;
  QLabel* icon_;
  QLabel* heading_;
  QLabel* body_;
  QProgressBar* progress_;
  QLabel* notesTitle_;
  QTextBrowser* notes_;
  QPushButton* skip_;
  QPushButton* later_;
  QPushButton* download_;
  QPushButton* cancel_;
  QPushButton* ok_;
};

class DialogPresenter final : public UpdatePresenter {
 public:
  DialogPresenter() = default;
  ~DialogPresenter() override;

  void showChecking(std::function<void()> cancel) override;
  void showUpdate(const AppcastItem& item, const QString& currentVersion,
                  std::function<void(Choice)> decided) override;
  void showUpToDate(const QString& currentVersion) override;
  void showError(const QString& reason) override;
  void openUrl(const QUrl& url) override;

 private:
  UpdateDialog& dialog();  // created on first use, then shown again and again
  void present();

  QPointer<UpdateDialog> dialog_;
  std::function<void()> cancel_;
  std::function<void(Choice)> decided_;
};

}  // namespace velto
