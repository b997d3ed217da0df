// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Who owns the cameras and the settings in this user session. The owner holds kOwnerBusName on
// the session bus and runs the one store; a process that is not the owner touches neither the
// camera nor the settings. D-Bus queues those that wait: `velto-ctl watch` queues and allows
// replacement, the application replaces; when the owner quits, the next in the queue becomes
// owner and its new store writes the wanted settings back. Without a session bus the process
// simply owns.
//
// The objects come before the name: the store's service is exported when the owner is made, and
// the name is asked for only by claim(), once the caller has exported its own objects too (the
// picture's). Until this process owns the session they answer NoCamera.
//
// Main thread.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <functional>
#include <memory>

namespace velto {

class CameraStore;
class CameraBusService;

class SessionOwner : public QObject {
  Q_OBJECT

 public:
  enum class Claim {
    queue,    // wait for the name if another owner has it, and give it up to one that replaces
    replace,  // take the name from an owner that allows it, and keep it
  };
  // Makes a store when this process becomes owner (after reading the settings file afresh).
  using StoreFactory = std::function<std::unique_ptr<CameraStore>()>;

  SessionOwner(Claim claim, StoreFactory makeStore, QDBusConnection bus, QObject* parent = nullptr);
  ~SessionOwner() override;

  // Asks for the name (or, without a bus, simply owns). Call once.
  void claim();

  // The store while this process owns the session; null while it waits.
  CameraStore* store() const { return store_.get(); }
  // False when the name could not be had at all (another owner that keeps it, for `replace`).
  bool claimed() const { return claimed_; }

 signals:
  // This process became owner (true) or another program took the name (false); not emitted when
  // the owner itself is destroyed.
  void ownershipChanged(bool owner);
  // The store is about to go (ownership lost, or this owner destroyed): whoever holds on to it
  // lets go now.
  void storeClosing();

 private:
  void becomeOwner();
  void stepDown();

  Claim claim_;
  StoreFactory makeStore_;
  QDBusConnection bus_;
  bool claimed_ = false;
  std::unique_ptr<CameraBusService> service_;
  std::unique_ptr<CameraStore> store_;
};

}  // namespace velto
