// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The store's service as strangers on the bus meet it: how much one call may ask for. A private
// bus and a simulated camera.
#include "model/camera_bus.h"

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusPendingCall>

#include "eventually.h"
#include "model/camera_store.h"
#include "platform/session/login_item.h"
#include "platform/session/user_defaults.h"
#include "private_bus.h"
#include "sim/profile.h"
#include "sim_fixture.h"
#include "store_fixture.h"

namespace velto {
namespace {

class CameraBusTest : public testing::StoreOnC200Test {
 protected:
  void SetUp() override {
    if (session.address().isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
    connectC200();
    owner = QDBusConnection::connectToBus(session.address(), "owner");
    service = std::make_unique<CameraBusService>(owner);
    service->setStore(store.get());
  }
  void TearDown() override {
    service.reset();
    QDBusConnection::disconnectFromBus("caller");
    QDBusConnection::disconnectFromBus("owner");
  }

  // The call's answer: its error's name, empty on success.
  QDBusMessage call(const char* method, const QVariantList& args) {
    QDBusConnection c = QDBusConnection::connectToBus(session.address(), "caller");
    QDBusMessage m = QDBusMessage::createMethodCall(owner.baseService(), kCameraBusPath, kCameraBusInterface, method);
    m.setArguments(args);
    QDBusPendingCall pending = c.asyncCall(m, 60000);
    EXPECT_TRUE(testing::eventually([&] {
      store->io().waitUntilIdle();
      return pending.isFinished();
    }));
    return pending.reply();
  }

  testing::PrivateBus session;
  QDBusConnection owner{QString()};
  std::unique_ptr<CameraBusService> service;
};

TEST_F(CameraBusTest, OneCallAsksForBoundedWork) {
  const QString longest(kMaxPresetNameLength, u'n');
  const auto brightnessReads = [&] { return bus.requests("c200", "GET_CUR", 2, 2).size(); };
  const struct {
    const char* what;
    int presetsBefore;
    const char* method;
    QVariantList args;
    QString error;  // empty: answered
  } cases[] = {
      {"a name given twice", 0, "Get", {QStringList{"brightness", "brightness"}}, {}},
      {"as many names as may be", 0, "Get", {QStringList(CameraBusService::kMostNamesRead, "brightness")}, {}},
      {"one name more", 0, "Get", {QStringList(CameraBusService::kMostNamesRead + 1, "brightness")}, "Invalid"},
      {"the longest name", 0, "SavePreset", {"\t" + longest + " "}, {}},
      {"a name too long", 0, "SavePreset", {longest + "n"}, "Invalid"},
      {"a rename too long", 1, "RenamePreset", {"p0", longest + "n"}, "Invalid"},
      {"the last preset there may be", kMaxPresets - 1, "SavePreset", {"last"}, {}},
      {"one preset more", kMaxPresets, "SavePreset", {"more"}, "Invalid"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    while (store->presets().size() > c.presetsBefore) store->deletePresetAt(0);
    while (store->presets().size() < c.presetsBefore) store->savePreset(QStringLiteral("p%1").arg(store->presets().size()));
    const auto readsBefore = brightnessReads();
    const QDBusMessage answer = call(c.method, c.args);
    EXPECT_EQ(answer.errorName(), c.error.isEmpty() ? QString() : "app.velto.Camera1.Error." + c.error) << answer.errorMessage().toStdString();
    if (QByteArray(c.method) == "Get" && c.error.isEmpty()) {
      EXPECT_EQ(brightnessReads() - readsBefore, 1u);
      EXPECT_EQ(qdbus_cast<QVariantMap>(answer.arguments().value(0)).keys(), QStringList{"brightness"});
    }
  }
  EXPECT_EQ(store->presets().size(), kMaxPresets);
}

// A change asked for while the camera is still being connected (a slow camera reads its ranges
// for seconds) waits for it, as velto-ctl without an owner does.
TEST_F(CameraBusTest, AChangeWaitsForTheCameraBeingConnected) {
  bus.command("c200", "latency 20");  // its reading takes about two seconds
  store = std::make_unique<CameraStore>(clock, defaults, login, testing::storeOptions(bus));
  service->setStore(store.get());
  ASSERT_TRUE(testing::eventually([&] { return store->device().has_value(); }));
  ASSERT_FALSE(store->isConnected()) << "the reading has not landed yet";
  const QDBusMessage answer = call("Set", {QVariantMap{{"brightness", 12}}});
  EXPECT_EQ(answer.type(), QDBusMessage::ReplyMessage) << answer.errorMessage().toStdString();
  EXPECT_EQ(store->value(ControlID::brightness), 12);
}

}  // namespace
}  // namespace velto
