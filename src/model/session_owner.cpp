// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "model/session_owner.h"

#include <QDBusConnectionInterface>

#include "model/camera_bus.h"
#include "model/camera_store.h"
#include "support/log.h"

namespace velto {

SessionOwner::SessionOwner(Claim claim, StoreFactory makeStore, QDBusConnection bus, QObject* parent)
    : QObject(parent), claim_(claim), makeStore_(std::move(makeStore)), bus_(std::move(bus)) {
  if (!bus_.isConnected()) return;
  service_ = std::make_unique<CameraBusService>(bus_);
  if (!service_->isExported()) {
    log::warning(log::Layer::model, std::string("could not export ") + kCameraBusPath + " on the session bus");
  }
}

void SessionOwner::claim() {
  QDBusConnectionInterface* names = bus_.isConnected() ? bus_.interface() : nullptr;
  if (names == nullptr) {
    claimed_ = true;
    becomeOwner();
    return;
  }
  const QString name = QString::fromLatin1(kOwnerBusName);
  // NameAcquired and NameLost: the queue moving the name to and from this process.
  connect(names, &QDBusConnectionInterface::serviceRegistered, this, [this, name](const QString& acquired) {
    if (acquired == name && !store_) becomeOwner();
  });
  connect(names, &QDBusConnectionInterface::serviceUnregistered, this, [this, name](const QString& lost) {
    if (lost == name && store_) stepDown();
  });
  const auto reply = claim_ == Claim::queue
                         ? names->registerService(name, QDBusConnectionInterface::QueueService,
                                                  QDBusConnectionInterface::AllowReplacement)
                         : names->registerService(name, QDBusConnectionInterface::ReplaceExistingService,
                                                  QDBusConnectionInterface::DontAllowReplacement);
  claimed_ = reply.isValid() && reply.value() != QDBusConnectionInterface::ServiceNotRegistered;
  if (!claimed_) {
    log::warning(log::Layer::model, "could not claim " + std::string(kOwnerBusName) + " on the session bus: " +
                                        reply.error().message().toStdString());
    return;
  }
  if (reply.value() == QDBusConnectionInterface::ServiceRegistered && !store_) becomeOwner();
}

SessionOwner::~SessionOwner() {
  // A process that quits hands nothing over to anyone: no "gave it up" for its listeners to report.
  if (store_) emit storeClosing();
  blockSignals(true);
  stepDown();
  if (claimed_ && bus_.isConnected() && bus_.interface() != nullptr) {
    bus_.interface()->unregisterService(QString::fromLatin1(kOwnerBusName));
  }
}

void SessionOwner::becomeOwner() {
  store_ = makeStore_();
  if (service_) service_->setStore(store_.get());
  emit ownershipChanged(true);
}

void SessionOwner::stepDown() {
  if (!store_) return;
  emit storeClosing();
  if (service_) service_->setStore(nullptr);
  store_->saveNow();  // the next owner reads the file
  store_.reset();
  emit ownershipChanged(false);
}

}  // namespace velto
