// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/update_dialog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "support/log_categories.h"

namespace velto {

UpdateDialog::UpdateDialog(QWidget* parent)
    : QDialog(parent),
      icon_(new QLabel(this)),
      heading_(new QLabel(this)),
      body_(new QLabel(this)),
      progress_(new QProgressBar(this)),
      notesTitle_(new QLabel(tr("Release Notes:"), this)),
      notes_(new QTextBrowser(this)),
      skip_(new QPushButton(tr("Skip This Version"), this)),
      later_(new QPushButton(tr("Remind Me Later"), this)),
      download_(new QPushButton(tr("Download…"), this)),
      cancel_(new QPushButton(tr("Cancel"), this)),
      ok_(new QPushButton(tr("OK"), this)) {
  setWindowTitle(tr("Software Update"));
  const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  QIcon appIcon = QApplication::windowIcon();
  if (appIcon.isNull()) appIcon = style()->standardIcon(QStyle::SP_MessageBoxInformation, nullptr, this);
  icon_->setPixmap(appIcon.pixmap(QSize(iconSize, iconSize), devicePixelRatio()));
  icon_->setAlignment(Qt::AlignTop);
  QFont headingFont = heading_->font();
  headingFont.setBold(true);
  headingFont.setPointSizeF(headingFont.pointSizeF() * 1.15);
  heading_->setFont(headingFont);
  heading_->setWordWrap(true);
  body_->setWordWrap(true);
  // Wrapped labels take the width they are given: give them a readable line in every mode.
  const int lineWidth = fontMetrics().averageCharWidth() * 60;
  heading_->setMinimumWidth(lineWidth);
  body_->setMinimumWidth(lineWidth);
  body_->setTextFormat(Qt::PlainText);
  progress_->setRange(0, 0);
  progress_->setTextVisible(false);
  // A link in the notes opens in the browser when it is a web page; any other kind of link (a
  // file, another program's scheme) is not followed.
  notes_->setOpenLinks(false);
  connect(notes_, &QTextBrowser::anchorClicked, this, [](const QUrl& link) {
    if (link.scheme() == QLatin1String("https") || link.scheme() == QLatin1String("http")) {
      QDesktopServices::openUrl(link);
    } else {
      qCWarning(lcApp) << "not following a release-notes link that is no web page:" << link.toString();
    }
  });
  notes_->setMinimumSize(420, 200);
  notesTitle_->setBuddy(notes_);

  auto* text = new QVBoxLayout;
  text->addWidget(heading_);
  text->addWidget(body_);
  text->addWidget(progress_);
  text->addWidget(notesTitle_);
  text->addWidget(notes_, 1);
  auto* top = new QHBoxLayout;
  top->addWidget(icon_, 0, Qt::AlignTop);
  top->addLayout(text, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(skip_);
  buttons->addStretch(1);
  for (QPushButton* b : {later_, download_, cancel_, ok_}) buttons->addWidget(b);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addLayout(buttons);

  connect(skip_, &QPushButton::clicked, this, [this] { answer(UpdatePresenter::Choice::skip); });
  connect(later_, &QPushButton::clicked, this, [this] { answer(UpdatePresenter::Choice::remindLater); });
  connect(download_, &QPushButton::clicked, this, [this] { answer(UpdatePresenter::Choice::download); });
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  setMode(Mode::message);
}

void UpdateDialog::setMode(Mode mode) {
  mode_ = mode;
  progress_->setVisible(mode == Mode::checking);
  cancel_->setVisible(mode == Mode::checking);
  ok_->setVisible(mode == Mode::message);
  for (QWidget* w : std::initializer_list<QWidget*>{notesTitle_, notes_, skip_, later_, download_}) {
    w->setVisible(mode == Mode::update);
  }
  QPushButton* primary = mode == Mode::update ? download_ : (mode == Mode::checking ? cancel_ : ok_);
  for (QPushButton* b : {download_, cancel_, ok_}) b->setDefault(b == primary);
  primary->setFocus();
  // Shrink or grow to the mode's contents: "checking" after an offer is a small window again.
  layout()->activate();
  resize(sizeHint());
}

void UpdateDialog::showChecking() {
  heading_->setText(tr("Checking for updates…"));
  body_->clear();
  body_->hide();
  setMode(Mode::checking);
}

void UpdateDialog::showUpdate(const AppcastItem& item, const QString& currentVersion) {
  heading_->setText(tr("A new version of Velto Camera is available!"));
  body_->setText(tr("Velto Camera %1 is now available; you have %2. Would you like to download it now?")
                     .arg(item.displayVersion, currentVersion));
  body_->show();
  if (!item.releaseNotes.isEmpty()) {
    // Notes are HTML or plain text; QTextBrowser decides, and never fetches anything remote.
    if (Qt::mightBeRichText(item.releaseNotes)) notes_->setHtml(item.releaseNotes);
    else notes_->setPlainText(item.releaseNotes);
  } else if (!item.releaseNotesLink.isEmpty()) {
    notes_->setHtml(tr("<p><a href=\"%1\">Read the release notes for version %2</a></p>")
                        .arg(item.releaseNotesLink.toString(QUrl::FullyEncoded).toHtmlEscaped(),
                             item.displayVersion.toHtmlEscaped()));
  } else {
    notes_->setPlainText(tr("No release notes were published for this version."));
  }
  setMode(Mode::update);
}

void UpdateDialog::showUpToDate(const QString& currentVersion) {
  showMessage(tr("You're up to date!"),
              tr("Velto Camera %1 is currently the newest version available.").arg(currentVersion));
}

void UpdateDialog::showError(const QString& reason) {
  showMessage(tr("Velto Camera could not check for updates."), reason);
}

void UpdateDialog::showMessage(const QString& heading, const QString& body) {
  heading_->setText(heading);
  body_->setText(body);
  body_->setVisible(!body.isEmpty());
  setMode(Mode::message);
}

void UpdateDialog::answer(UpdatePresenter::Choice choice) {
  const Mode was = mode_;
  mode_ = Mode::message;  // so that hiding the window answers nothing more
  QDialog::done(QDialog::Accepted);
  if (was == Mode::update) emit chosen(choice);
}

void UpdateDialog::done(int result) {
  const Mode was = mode_;
  mode_ = Mode::message;
  QDialog::done(result);
  if (was == Mode::update) emit chosen(UpdatePresenter::Choice::remindLater);
  if (was == Mode::checking) emit cancelled();
}

DialogPresenter::~DialogPresenter() { delete dialog_.data(); }

UpdateDialog& DialogPresenter::dialog() {
  if (dialog_ == nullptr) {
    dialog_ = new UpdateDialog;
    QObject::connect(dialog_, &UpdateDialog::chosen, dialog_, [this](Choice choice) {
      if (auto decided = std::exchange(decided_, nullptr)) decided(choice);
    });
    QObject::connect(dialog_, &UpdateDialog::cancelled, dialog_, [this] {
      if (auto cancel = std::exchange(cancel_, nullptr)) cancel();
    });
  }
  return *dialog_;
}

void DialogPresenter::present() {
  dialog_->show();
  dialog_->raise();
  dialog_->activateWindow();
}

void DialogPresenter::showChecking(std::function<void()> cancel) {
  cancel_ = std::move(cancel);
  dialog().showChecking();
  present();
}

void DialogPresenter::showUpdate(const AppcastItem& item, const QString& currentVersion,
                                 std::function<void(Choice)> decided) {
  cancel_ = nullptr;
  decided_ = std::move(decided);
  dialog().showUpdate(item, currentVersion);
  present();
}

void DialogPresenter::showUpToDate(const QString& currentVersion) {
  cancel_ = nullptr;
  dialog().showUpToDate(currentVersion);
  present();
}

void DialogPresenter::showError(const QString& reason) {
  cancel_ = nullptr;
  dialog().showError(reason);
  present();
}

void DialogPresenter::openUrl(const QUrl& url) {
  if (!QDesktopServices::openUrl(url)) {
    qCWarning(lcApp) << "could not open" << url.toString() << "in the browser";
    dialog().showMessage(QObject::tr("The download page could not be opened."),
                         QObject::tr("Open %1 in your web browser to download the update.").arg(url.toString()));
    present();
  }
}

}  // namespace velto
