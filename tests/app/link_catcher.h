// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Stands in for the browser: QDesktopServices hands it the links it would open
// (QDesktopServices::setUrlHandler(scheme, catcher, "open")).
#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

class LinkCatcher : public QObject {
  Q_OBJECT

 public slots:
  void open(const QUrl& url) { opened.append(url); }

 public:
  QList<QUrl> opened;
};
