// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// An update feed served on the loopback interface, for the panel's tests and pictures: the updater
// reads it as it reads the real one, so its pendingVersion is set the way a run sets it. The
// presenter shows nothing.
#pragma once

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include "app/software_update.h"

namespace velto::testing {

inline QByteArray appcastOffering(const QString& version) {
  return QStringLiteral(
             "<?xml version=\"1.0\"?><rss version=\"2.0\" "
             "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel><item>"
             "<title>Velto Camera %1</title><sparkle:shortVersionString>%1</sparkle:shortVersionString>"
             "<enclosure url=\"https://example.invalid/velto-camera-%1.deb\" length=\"1\" "
             "type=\"application/octet-stream\"/></item></channel></rss>")
      .arg(version)
      .toUtf8();
}

class FeedServer {
 public:
  explicit FeedServer(QByteArray body) : body_(std::move(body)) {
    server_.listen(QHostAddress::LocalHost);
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
          const QByteArray request = socket->property("request").toByteArray() + socket->readAll();
          socket->setProperty("request", request);
          if (!request.contains("\r\n\r\n")) return;
          socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\nConnection: close\r\nContent-Length: " +
                        QByteArray::number(body_.size()) + "\r\n\r\n" + body_);
          socket->disconnectFromHost();
        });
      }
    });
  }
  QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(server_.serverPort())); }

 private:
  QByteArray body_;
  QTcpServer server_;
};

class SilentPresenter final : public UpdatePresenter {
 public:
  void showChecking(std::function<void()>) override {}
  void showUpdate(const AppcastItem&, const QString&, std::function<void(Choice)>) override {}
  void showUpToDate(const QString&) override {}
  void showError(const QString&) override {}
  void openUrl(const QUrl&) override {}
};

// An updater that is switched on (`feed` set) or off, as in the application's bundle information,
// running in the background as if the application were not in front.
inline SoftwareUpdate::Options updateOptions(std::optional<QUrl> feed) {
  SoftwareUpdate::Options options;
  options.bundle = BundleInfo{};
  options.bundle.updatesEnabled = feed.has_value();
  if (feed) options.bundle.feedUrl = *feed;
  options.currentVersion = QStringLiteral("1.0");
  options.isApplicationActive = [] { return false; };
  options.presenter = std::make_unique<SilentPresenter>();
  return options;
}

}  // namespace velto::testing
