// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "model/storage.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>
#include <QTemporaryDir>

#include "platform/session/user_defaults.h"

namespace velto {
namespace {

class StorageTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  QString path = dir.filePath("velto-camera.conf");
  std::unique_ptr<UserDefaults> defaults = std::make_unique<UserDefaults>(path);
  Storage storage{*defaults};

  // Writes raw JSON under a key, as another version of the application might have.
  void store(const QString& key, const char* json) { defaults->setData(key, QByteArray(json)); }
  QJsonDocument stored(const QString& key) { return QJsonDocument::fromJson(*defaults->data(key)); }
};

TEST_F(StorageTest, AFreshInstallationHasNothing) {
  EXPECT_EQ(storage.loadPresets(), std::nullopt);
  EXPECT_EQ(storage.loadPreferredCamera(), std::nullopt);
  EXPECT_EQ(storage.loadSettings({0x291A, 0x3369}), std::nullopt);
  EXPECT_EQ(storage.loadBoolean("keepLocked"), std::nullopt);
}

TEST_F(StorageTest, SettingsUseTheExactKeyAndShape) {
  EXPECT_EQ(Storage::settingsKey({0x291A, 0x3369}), "settings.291a:3369");
  EXPECT_EQ(Storage::settingsKey({0x046D, 0x0825}), "settings.046d:0825");
  storage.saveSettings({0x291A, 0x3369}, {{ControlID::brightness, -12}, {ControlID::exposure, 156}});
  EXPECT_EQ(stored("settings.291a:3369").object(),
            (QJsonObject{{"brightness", -12}, {"exposure", 156}}));
  // Another model keeps its own map.
  storage.saveSettings({0x291A, 0x3370}, {{ControlID::brightness, 5}});
  EXPECT_EQ(storage.loadSettings({0x291A, 0x3369})->at(ControlID::brightness), -12);
  EXPECT_EQ(storage.loadSettings({0x291A, 0x3370})->at(ControlID::brightness), 5);
}

TEST_F(StorageTest, UnknownMembersAreKeptAndSurviveTheNextSave) {
  store("settings.291a:3369", R"({"brightness":10,"sparkle":3,"contrast":"high","gain":2.5,"zoom":150.0})");
  const auto loaded = storage.loadSettings({0x291A, 0x3369});
  ASSERT_TRUE(loaded);
  EXPECT_EQ(*loaded, (ControlValues{{ControlID::brightness, 10}, {ControlID::zoom, 150}}));
  storage.saveSettings({0x291A, 0x3369}, {{ControlID::brightness, 11}});
  const QJsonObject after = stored("settings.291a:3369").object();
  EXPECT_EQ(after.value("sparkle").toInt(), 3);
  EXPECT_EQ(after.value("brightness").toInt(), 11);
  EXPECT_EQ(after.value("contrast").toString(), "high") << "kept until the control gets a value of its own";
  EXPECT_EQ(after.value("gain").toDouble(), 2.5);
  storage.saveSettings({0x291A, 0x3369}, {{ControlID::contrast, 40}});
  EXPECT_EQ(stored("settings.291a:3369").object().value("contrast").toInt(), 40);
}

TEST_F(StorageTest, ThePreferredCameraIsAKeyObject) {
  storage.savePreferredCamera({0x291A, 0x3369});
  EXPECT_EQ(stored("preferredCamera").object(), (QJsonObject{{"vendorID", 10522}, {"productID", 13161}}));
  store("preferredCamera", R"( { "productID" : 2085, "name": "x", "vendorID": 1133 } )");
  EXPECT_EQ(storage.loadPreferredCamera(), (CameraKey{1133, 2085}));
  for (const char* bad : {"", "{}", "[]", R"({"vendorID":1})", R"({"vendorID":1,"productID":65536})",
                          R"({"vendorID":-1,"productID":2})", R"({"vendorID":1.5,"productID":2})",
                          R"({"vendorID":1,"productID":2)", R"({"vendorID":"1","productID":2})"}) {
    store("preferredCamera", bad);
    EXPECT_EQ(storage.loadPreferredCamera(), std::nullopt) << bad;
  }
}

TEST_F(StorageTest, UnreadableDataLoadsAsAbsent) {
  store("settings.291a:3369", "{not json");
  EXPECT_EQ(storage.loadSettings({0x291A, 0x3369}), std::nullopt);
  store("settings.291a:3369", "[1,2]");
  EXPECT_EQ(storage.loadSettings({0x291A, 0x3369}), std::nullopt);
  store("preferredCamera", R"({"vendorID":70000,"productID":1})");
  EXPECT_EQ(storage.loadPreferredCamera(), std::nullopt);
  store("presets", R"({"id":"x"})");
  EXPECT_EQ(storage.loadPresets(), std::nullopt);
  defaults->setBoolean("x", true);
  EXPECT_EQ(defaults->data("x"), std::nullopt) << "a boolean is not data";
  defaults->setData("keepLocked", "yes");
  EXPECT_EQ(storage.loadBoolean("keepLocked"), std::nullopt) << "data is not a boolean";
}

TEST_F(StorageTest, PresetsRoundTripWithUpperCaseIds) {
  const Preset meeting{QUuid::createUuid(), "Meeting", {{ControlID::autoExposure, 2}, {ControlID::fieldOfView, 95}}, {}, {}};
  const Preset empty{QUuid::createUuid(), "", {}, {}, {}};
  storage.savePresets({meeting, empty});
  const QJsonArray array = stored("presets").array();
  ASSERT_EQ(array.size(), 2);
  const QString id = array[0].toObject().value("id").toString();
  EXPECT_EQ(id.size(), 36);
  EXPECT_EQ(id, id.toUpper());
  EXPECT_EQ(storage.loadPresets(), (QList<Preset>{meeting, empty}));
}

TEST_F(StorageTest, ABrokenPresetDoesNotTakeTheOthersWithIt) {
  store("presets", R"([
    {"id":"7D444840-9DC0-11D1-B245-5FFDCE74FAD2","name":"Good","values":{"brightness":1,"future":9}},
    {"id":"7D444840-9DC0-11D1-B245-5FFDCE74FAD3","name":"No values"},
    {"id":"not-a-uuid","name":"Bad id","values":{}},
    42,
    {"id":"7D444840-9DC0-11D1-B245-5FFDCE74FAD4","name":"Also good","values":{}}
  ])");
  const auto presets = storage.loadPresets();
  ASSERT_TRUE(presets);
  ASSERT_EQ(presets->size(), 2);
  EXPECT_EQ((*presets)[0].name, "Good");
  EXPECT_EQ((*presets)[0].values, (ControlValues{{ControlID::brightness, 1}}));
  EXPECT_EQ((*presets)[1].name, "Also good");
  // The member from a newer version goes back out with the preset, and so does every element
  // that could not be read, in its place, even when a preset is deleted and another renamed.
  QList<Preset> edited = *presets;
  edited[1].name = "Renamed";
  storage.savePresets(edited);
  const QJsonArray after = stored("presets").array();
  ASSERT_EQ(after.size(), 5);
  EXPECT_EQ(after[0].toObject().value("values").toObject().value("future").toInt(), 9);
  EXPECT_EQ(after[1].toObject().value("name").toString(), "No values");
  EXPECT_EQ(after[2].toObject().value("id").toString(), "not-a-uuid");
  EXPECT_EQ(after[3].toInt(), 42);
  EXPECT_EQ(after[4].toObject().value("name").toString(), "Renamed");
  edited.removeFirst();
  storage.savePresets(edited);
  EXPECT_EQ(stored("presets").array().size(), 4) << "what followed the deleted preset stays";
}

TEST_F(StorageTest, AValueThatIsNotJsonIsSetAsideBeforeItIsReplaced) {
  for (const char* broken : {R"({"brightness":1,})", R"({"brightness":1e400})", R"({"bright)"}) {
    store("settings.291a:3369", broken);
    EXPECT_EQ(storage.loadSettings({0x291A, 0x3369}), std::nullopt) << broken;
    storage.saveSettings({0x291A, 0x3369}, {{ControlID::brightness, 2}});
    EXPECT_EQ(defaults->data("settings.291a:3369.unreadable"), QByteArray(broken));
    EXPECT_EQ(stored("settings.291a:3369").object().value("brightness").toInt(), 2);
  }
  store("presets", "[{");
  EXPECT_EQ(storage.loadPresets(), std::nullopt);
  storage.savePresets({});
  EXPECT_EQ(defaults->data("presets.unreadable"), QByteArray("[{"));
}

TEST_F(StorageTest, ValuesReachTheFileAndAnotherProcessSeesThem) {
  storage.savePreferredCamera({0x046D, 0x0825});
  storage.saveBoolean("keepLocked", false);
  defaults.reset();  // written out at destruction
  UserDefaults other(path);
  Storage reader(other);
  EXPECT_EQ(reader.loadPreferredCamera(), (CameraKey{0x046D, 0x0825}));
  EXPECT_EQ(reader.loadBoolean("keepLocked"), false);
}

TEST_F(StorageTest, ASaveThatSucceedsAfterAFailureIsReportedAsSaved) {
  // Something that is not a file where the settings go, then the way cleared (a full disk freed).
  ASSERT_TRUE(QDir().mkpath(path));
  storage.saveSettings({0x291A, 0x3369}, {{ControlID::brightness, 7}});
  EXPECT_EQ(storage.sync(), "Is a directory");
  ASSERT_TRUE(QDir(path).removeRecursively());
  EXPECT_EQ(storage.sync(), std::nullopt) << "an earlier failure is not this write's";
  storage.saveBoolean("keepLocked", false);
  EXPECT_EQ(storage.sync(), std::nullopt);
  UserDefaults other(path);
  Storage reader(other);
  EXPECT_EQ(reader.loadSettings({0x291A, 0x3369}), (ControlValues{{ControlID::brightness, 7}}))
      << "what failed to be written the first time is written the next";
  EXPECT_EQ(reader.loadBoolean("keepLocked"), false);
}

TEST_F(StorageTest, ACorruptFileLoadsWhatItCan) {
  defaults.reset();
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("\x01\x02 garbage\n[General]\nkeepLocked=false\nopenWindowAtLaunch=maybe\n=\n[[[\n");
  file.close();
  UserDefaults reopened(path);
  Storage reader(reopened);
  EXPECT_EQ(reader.loadBoolean("keepLocked"), false);
  EXPECT_EQ(reader.loadBoolean("openWindowAtLaunch"), std::nullopt);
}

// Presets as a hand edit may leave them: `count` of them, the first named `longName`.
QByteArray presetsLine(int count, const QString& longName) {
  QJsonArray presets;
  for (int i = 0; i < count; ++i) {
    presets.append(QJsonObject{{"id", QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()},
                               {"name", i == 0 ? longName : QString::number(i)},
                               {"values", QJsonObject{}}});
  }
  return "presets=@ByteArray(" + QJsonDocument(presets).toJson(QJsonDocument::Compact).replace('"', "\\\"") + ")\n";
}

TEST(StorageReading, WhatIsDroppedLeavesTheFileAsItWasBesideItAndTheRestInUse) {
  struct Case {
    const char* what;
    QByteArray text;  // after keepLocked=false
    const char* dropped;
  };
  const Case cases[] = {
      {"truncated", R"(presets="@ByteArray([{\"id\":\"6F9619FF-8B86-D011-B4)", "presets"},
      {"binary", "\x89PNG\r\n\x1a\n\x01\x02", "bytes that are not text"},
      {"wrongly typed", "openWindowAtLaunch=maybe\npreferredCamera=@ByteArray({\\\"vendorID\\\":\\\"x\\\"})\n",
       "openWindowAtLaunch, preferredCamera"},
      {"beyond the limits", presetsLine(kMaxPresets + 1, QString(100'000, u'n')), "presets"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QTemporaryDir dir;
    const QString path = dir.filePath("velto-camera.conf");
    const QByteArray original = "[General]\nkeepLocked=false\n" + c.text;
    {
      QFile file(path);
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write(original);
    }
    UserDefaults defaults(path);
    Storage storage(defaults);
    ASSERT_TRUE(storage.readProblem());
    EXPECT_EQ(storage.readProblem()->english(),
              QString("Some of your settings could not be read (%1: %2). The file as it was is kept as %1.unreadable.")
                  .arg(path, c.dropped));
    EXPECT_EQ(storage.loadBoolean("keepLocked"), false) << "what can be read is in use";
    const QList<Preset> presets = storage.loadPresets().value_or(QList<Preset>{});
    EXPECT_LE(presets.size(), kMaxPresets);
    if (!presets.isEmpty()) {
      EXPECT_EQ(presets.first().name.size(), kMaxPresetNameLength);
    }

    storage.reload();  // the same bytes again: no second copy
    storage.saveBoolean("openWindowAtLaunch", true);
    storage.savePresets(presets);
    EXPECT_EQ(storage.sync(), std::nullopt);
    QFile copy(path + ".unreadable");
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), original);
    EXPECT_FALSE(QFile::exists(path + ".unreadable.1"));
    storage.reload();
    EXPECT_EQ(storage.readProblem(), std::nullopt) << "the file as written is read whole";
    EXPECT_EQ(storage.loadPresets().value_or(QList<Preset>{}), presets);
  }
}

TEST(StorageReading, AFileThatIsNotReadSaysTheDefaultsApply) {
  QTemporaryDir dir;
  const QString path = dir.filePath("velto-camera.conf");
  ASSERT_TRUE(QFile::link("/dev/zero", path));
  UserDefaults defaults(path);
  Storage storage(defaults);
  ASSERT_TRUE(storage.readProblem());
  EXPECT_EQ(storage.readProblem()->english(),
            QString("Couldn't read your settings (%1: not a regular file). The defaults apply, and the file is left as it "
                    "is.")
                .arg(path));
}

TEST(Preset, EffectiveValuesDropManualControlsTheirAutoModeOverrides) {
  Preset p{QUuid::createUuid(), "p",
           {{ControlID::autoExposure, 8}, {ControlID::exposure, 300}, {ControlID::autoWhiteBalance, 0},
            {ControlID::whiteBalance, 4000}, {ControlID::focus, 20}, {ControlID::brightness, 3}},
           {}, {}};
  EXPECT_EQ(p.effectiveValues(), (ControlValues{{ControlID::autoExposure, 8}, {ControlID::autoWhiteBalance, 0},
                                                {ControlID::whiteBalance, 4000}, {ControlID::focus, 20},
                                                {ControlID::brightness, 3}}));
  p.values[ControlID::autoExposure] = 4;  // shutter priority: exposure is the user's
  EXPECT_TRUE(p.effectiveValues().contains(ControlID::exposure));
}

TEST(Preset, AutoModeValuesAndTests) {
  EXPECT_EQ(autoModeValue(ControlID::autoExposure, true), 2);
  EXPECT_EQ(autoModeValue(ControlID::autoExposure, false), 1);
  EXPECT_EQ(autoModeValue(ControlID::autoFocus, true), 1);
  EXPECT_EQ(autoModeValue(ControlID::autoWhiteBalance, false), 0);
  EXPECT_TRUE(isAutoOn(ControlID::autoExposure, 2));
  EXPECT_TRUE(isAutoOn(ControlID::autoExposure, 8));
  EXPECT_FALSE(isAutoOn(ControlID::autoExposure, 1));
  EXPECT_FALSE(isAutoOn(ControlID::autoExposure, 4));
  EXPECT_TRUE(isAutoOn(ControlID::autoFocus, 3));
  EXPECT_EQ(governedControl(ControlID::autoWhiteBalance), ControlID::whiteBalance);
  EXPECT_EQ(governedControl(ControlID::exposure), std::nullopt);
  EXPECT_EQ(governingControl(ControlID::focus), ControlID::autoFocus);
}

}  // namespace
}  // namespace velto
