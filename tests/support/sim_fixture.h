// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Simulated cameras plugged into a private directory, served in-process, for tests above the
// carriers. The cameras' firmware runs on the test's ManualClock.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_server.h"
#include "support/manual_clock.h"

namespace velto::testing {

class SimBus {
 public:
  // The cameras' firmware follows `clock`.
  explicit SimBus(ManualClock& clock)
      : now_([&clock] {
          return std::chrono::duration_cast<std::chrono::milliseconds>(clock.monotonicNow().time_since_epoch()).count();
        }) {}
  // The cameras' firmware follows real time, and they are published where a program run with
  // XDG_RUNTIME_DIR=runtimeDirectory() looks for them.
  SimBus()
      : now_([] {
          return std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now().time_since_epoch())
              .count();
        }),
        subdirectory_("velto-simcam") {}

  std::string directory() const { return dir_.filePath(subdirectory_).toStdString(); }
  QString runtimeDirectory() const { return dir_.path(); }
  // The environment of a program that lists these cameras (velto-ctl, velto-camera): their
  // runtime directory, and simulated cameras asked for.
  QProcessEnvironment programEnvironment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtimeDirectory());
    env.insert("VELTO_SIMCAM", "1");
    return env;
  }
  QString path(const QString& name) const { return dir_.filePath(name); }

  // Plugs in a camera with `profile` under `id` (cameras are listed in id order); `tune` may
  // change its options (frame size, rate, lighting) before it starts.
  sim::SimServer& plug(sim::Profile profile, const std::string& id, int reenumerateMs = 20,
                       const std::function<void(sim::ServerOptions&)>& tune = {}) {
    sim::ServerOptions options;
    options.directory = directory();
    options.id = id;
    options.reenumerateMs = reenumerateMs;
    options.logPath = dir_.filePath(QString::fromStdString(id + ".jsonl")).toStdString();
    if (tune) tune(options);
    auto server = std::make_unique<sim::SimServer>(std::move(profile), options, now_);
    std::string error;
    EXPECT_TRUE(server->startThread(&error)) << error;
    servers_[id] = std::move(server);
    return *servers_[id];
  }

  sim::SimServer& camera(const std::string& id) { return *servers_.at(id); }

  // Runs a control command and expects it to succeed.
  void command(const std::string& id, const std::string& line) {
    const std::string answer = camera(id).command(line);
    EXPECT_EQ(answer.rfind("ok", 0), 0u) << line << ": " << answer;
  }

  // The camera's current values by catalogue name.
  std::map<std::string, std::int64_t> state(const std::string& id) {
    const std::string answer = camera(id).command("state");
    const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(answer.substr(3))).object();
    std::map<std::string, std::int64_t> values;
    for (auto it = object.begin(); it != object.end(); ++it) values[it.key().toStdString()] = it.value().toInteger();
    return values;
  }

  // Waits (real time, bounded) until the camera is on the bus under a registry ID other than
  // `previous`: back from a re-enumeration.
  bool waitUntilPlugged(const std::string& id, std::uint64_t previous = 0) {
    auto back = [&] { return camera(id).registryID() != 0 && camera(id).registryID() != previous; };
    for (int i = 0; i < 500 && !back(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return back();
  }

  // The events in the camera's log ("plug", "stream-start", ...), oldest first.
  std::vector<std::string> events(const std::string& id) {
    QFile log(dir_.filePath(QString::fromStdString(id + ".jsonl")));
    std::vector<std::string> found;
    if (!log.open(QIODevice::ReadOnly)) return found;
    for (const QByteArray& line : log.readAll().split('\n')) {
      const QString event = QJsonDocument::fromJson(line).object().value("event").toString();
      if (!event.isEmpty()) found.push_back(event.toStdString());
    }
    return found;
  }

  // SET_CUR requests the camera received for `unit`/`selector`, oldest first, as payload hex.
  std::vector<std::string> setRequests(const std::string& id, int unit, int selector) {
    return requests(id, "SET_CUR", unit, selector);
  }
  // The same for any request ("GET_CUR", ...).
  std::vector<std::string> requests(const std::string& id, const QString& kind, int unit, int selector) {
    QFile log(dir_.filePath(QString::fromStdString(id + ".jsonl")));
    std::vector<std::string> found;
    if (!log.open(QIODevice::ReadOnly)) return found;
    for (const QByteArray& line : log.readAll().split('\n')) {
      const QJsonObject entry = QJsonDocument::fromJson(line).object();
      if (entry.value("request").toString() == kind && entry.value("unit").toInt() == unit &&
          entry.value("selector").toInt() == selector) {
        found.push_back(entry.value("data").toString().toStdString());
      }
    }
    return found;
  }

 private:
  std::function<std::int64_t()> now_;
  QString subdirectory_ = "sim";
  QTemporaryDir dir_;
  std::map<std::string, std::unique_ptr<sim::SimServer>> servers_;
};

}  // namespace velto::testing
