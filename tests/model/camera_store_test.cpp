// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "model/camera_store.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <sys/stat.h>

#include "platform/session/login_item.h"
#include "platform/session/user_defaults.h"
#include "sim/profile.h"
#include "qt_printers.h"
#include "sim_fixture.h"
#include "store_fixture.h"
#include "uvc/uvc_device.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using testing::SimBus;

// Unit and selector of a few controls on the simulated C200.
constexpr int kPU = 2, kCT = 1, kXU = 6;
constexpr int kBrightnessSelector = 0x02;
constexpr int kHdrSelector = 0x13;
constexpr int kExposureSelector = 0x04;

class CameraStoreTest : public ::testing::Test {
 protected:
  // Hot-plug is off unless a test asks for it, so that only the test decides when to rescan.
  void start(bool hotplug = false, std::optional<CameraKey> camera = std::nullopt,
             std::optional<bool> keepLocked = std::nullopt) {
    CameraStore::Options options = testing::storeOptions(bus);
    options.registry.extra = [this] { return extraServices; };
    options.watchHotplug = hotplug;
    options.camera = camera;
    options.keepLocked = keepLocked;
    store = std::make_unique<CameraStore>(clock, defaults, login, options);
    settle();
  }
  void settle() { testing::settle(*store); }
  // Moves time by `step` and lets every poll or rescan it triggers finish.
  void advance(Clock::Duration step) {
    clock.advance(step);
    settle();
  }
  // Waits (in real time, bounded) for a hot-plug notification to arm a rescan timer.
  void waitForTimers(std::size_t count) {
    QElapsedTimer guard;
    guard.start();
    while (clock.pendingTimerCount() < count && guard.elapsed() < 5000) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    ASSERT_GE(clock.pendingTimerCount(), count) << "no hot-plug notification arrived";
  }
  std::int64_t camera(const std::string& name, const std::string& id = "c200") { return bus.state(id).at(name); }

  ManualClock clock;
  SimBus bus{clock};
  UserDefaults defaults{bus.path("velto-camera.conf")};
  LoginItem login{"velto-camera", bus.path("autostart")};
  std::unique_ptr<CameraStore> store;
  std::vector<usb::Service> extraServices;  // read on the store's I/O queue while it lists
};

TEST_F(CameraStoreTest, AFreshStartConnectsToTheC200AndRemembersWhatItRead) {
  bus.plug(sim::genericProfile(), "a-generic");
  bus.plug(sim::c200Profile(), "b-c200");
  start();
  ASSERT_EQ(store->cameras().size(), 2);
  EXPECT_EQ(store->cameras()[0].name, "USB 2.0 Camera");
  EXPECT_EQ(store->cameras()[1].name, "Anker PowerConf C200");
  ASSERT_TRUE(store->device());
  EXPECT_EQ(store->device()->key, (CameraKey{0x291A, 0x3369}));
  EXPECT_TRUE(store->presets().isEmpty());
  EXPECT_TRUE(store->keepLocked());
  EXPECT_TRUE(store->openWindowAtLaunch());
  EXPECT_EQ(store->preferredCamera(), (CameraKey{0x291A, 0x3369}));
  EXPECT_EQ(store->ranges().at(ControlID::brightness), (ControlRange{-64, 64, 1, 0}));
  EXPECT_EQ(store->ranges().at(ControlID::autoExposure).defaultValue, 2);
  EXPECT_EQ(store->value(ControlID::autoWhiteBalance), 1);
  EXPECT_FALSE(store->values().contains(ControlID::hdr));
  const auto saved = Storage(defaults).loadSettings({0x291A, 0x3369});
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->at(ControlID::brightness), 0);
}

TEST_F(CameraStoreTest, ThePreferredModelWinsElseTheFirstDiscovered) {
  bus.plug(sim::genericProfile(), "a-generic");
  bus.plug(sim::c200Profile(), "b-c200");
  Storage(defaults).savePreferredCamera({0x0C45, 0x6366});
  start();
  EXPECT_EQ(store->device()->key, (CameraKey{0x0C45, 0x6366}));

  QSignalSpy preferred(store.get(), &CameraStore::preferredCameraChanged);
  store->setPreferredCamera({0x291A, 0x3369});
  settle();
  EXPECT_EQ(store->device()->key, (CameraKey{0x291A, 0x3369}));
  EXPECT_EQ(Storage(defaults).loadPreferredCamera(), (CameraKey{0x291A, 0x3369}));
  // Writing the same model again still saves and rescans; only a change is signalled.
  defaults.remove("preferredCamera");
  store->setPreferredCamera({0x291A, 0x3369});
  EXPECT_TRUE(store->isBusy()) << "a rescan is under way";
  settle();
  EXPECT_EQ(Storage(defaults).loadPreferredCamera(), (CameraKey{0x291A, 0x3369}));
  EXPECT_EQ(preferred.count(), 1);

  // A per-run choice that is not saved.
  store.reset();
  start(false, CameraKey{0x0C45, 0x6366});
  EXPECT_EQ(store->device()->key, (CameraKey{0x0C45, 0x6366}));
  EXPECT_EQ(Storage(defaults).loadPreferredCamera(), (CameraKey{0x291A, 0x3369}));
}

TEST_F(CameraStoreTest, WithoutACameraNothingChangesAndValuesFallBack) {
  start();
  QSignalSpy values(store.get(), &CameraStore::valuesChanged);
  store->set(ControlID::brightness, 10);
  store->setAuto(ControlID::autoFocus, true);
  store->resetToDefaults();
  EXPECT_FALSE(store->isBusy());
  EXPECT_EQ(values.count(), 0);
  EXPECT_EQ(store->value(ControlID::brightness), 0);
  store->savePreset("Empty");
  EXPECT_TRUE(store->presets().front().values.empty());
  EXPECT_EQ(store->activePresetID(), std::nullopt);

  bus.plug(sim::c200Profile(), "c200");
  store->rescan();
  settle();
  EXPECT_EQ(store->value(ControlID::hdr), 1) << "never read: the range's default";
  EXPECT_EQ(store->value(ControlID::fieldOfView), 95) << "read from the camera";
}

TEST_F(CameraStoreTest, NoneOfThePreferredModelsMeansTheFirstCamera) {
  bus.plug(sim::genericProfile(), "a-generic");
  start();
  EXPECT_EQ(store->device()->key, (CameraKey{0x0C45, 0x6366}));
  EXPECT_FALSE(store->supports(ControlID::pan));
  store->set(ControlID::pan, 3600);  // the generic camera has none
  settle();
  EXPECT_FALSE(store->values().contains(ControlID::pan));
}

TEST_F(CameraStoreTest, ConnectionWritesTheWantedSettingsBack) {
  bus.plug(sim::c200Profile(), "c200");
  defaults.setData("settings.291a:3369", R"({"brightness":12,"hdr":0,"fieldOfView":65,"someday":1})");
  start();
  EXPECT_EQ(camera("brightness"), 12);
  EXPECT_EQ(camera("hdr"), 0);
  EXPECT_EQ(store->value(ControlID::brightness), 12);
  EXPECT_EQ(store->value(ControlID::hdr), 0) << "hdr shows what is wanted";
  EXPECT_EQ(bus.setRequests("c200", kXU, kHdrSelector).size(), 1u);
}

TEST_F(CameraStoreTest, SetClampsManualValuesButNotAutoModes) {
  bus.plug(sim::c200Profile(), "c200");
  start();
  QSignalSpy changes(store.get(), &CameraStore::valuesChanged);
  store->set(ControlID::brightness, 500);
  EXPECT_EQ(store->value(ControlID::brightness), 64) << "shown at once, before the write";
  EXPECT_EQ(changes.count(), 1);
  store->set({{ControlID::autoWhiteBalance, 0}, {ControlID::whiteBalance, 4604}});
  store->set(ControlID::autoExposure, 8);
  settle();
  EXPECT_EQ(camera("brightness"), 64);
  EXPECT_EQ(camera("whiteBalance"), 4600) << "snapped to the 10 K step";
  EXPECT_EQ(camera("autoExposure"), 8);
  EXPECT_EQ(Storage(defaults).loadSettings({0x291A, 0x3369})->at(ControlID::brightness), 64);
}

TEST_F(CameraStoreTest, SwitchingAnAutoModeOffHandsOverTheShownValue) {
  bus.plug(sim::c200Profile(), "c200");
  start();
  store->set(ControlID::exposure, 333);
  store->setAuto(ControlID::autoExposure, false);
  settle();
  EXPECT_EQ(camera("autoExposure"), 1);
  EXPECT_EQ(camera("exposure"), 333);
  store->setAuto(ControlID::autoFocus, true);
  settle();
  EXPECT_EQ(camera("autoFocus"), 1);
}

TEST_F(CameraStoreTest, AFieldOfViewChangeAdoptsTheZoomTheFirmwareChose) {
  bus.plug(sim::c200Profile(), "c200");
  start();
  store->set(ControlID::fieldOfView, 65);
  ASSERT_TRUE(clock.waitForSleepers(1)) << "the zoom re-read waits on the I/O queue";
  advance(300ms);
  EXPECT_EQ(store->value(ControlID::zoom), 295);
  EXPECT_EQ(Storage(defaults).loadSettings({0x291A, 0x3369})->at(ControlID::zoom), 295);

  // With zoom in the same change there is nothing to adopt.
  store->set({{ControlID::fieldOfView, 78}, {ControlID::zoom, 120}});
  settle();
  EXPECT_EQ(clock.sleeperCount(), 0u);
  EXPECT_EQ(store->value(ControlID::zoom), 120);
}

TEST_F(CameraStoreTest, UnlockedPollFollowsOtherApplicationsWithoutWriting) {
  bus.plug(sim::c200Profile(), "c200");
  start();
  store->setKeepLocked(false);
  const auto writesBefore = bus.setRequests("c200", kPU, kBrightnessSelector).size();
  bus.command("c200", "set brightness 20");
  advance(1500ms);
  EXPECT_EQ(store->value(ControlID::brightness), 20);
  EXPECT_EQ(bus.setRequests("c200", kPU, kBrightnessSelector).size(), writesBefore);
}

TEST_F(CameraStoreTest, LockedPollCorrectsEachDistinctDriftOnce) {
  bus.plug(sim::c200Profile(), "c200");
  start();
  store->set(ControlID::brightness, 10);
  settle();
  advance(1500ms);  // the touch grace has passed by the next poll
  bus.command("c200", "ignore brightness");
  bus.command("c200", "set brightness 20");
  const auto writes = bus.setRequests("c200", kPU, kBrightnessSelector).size();

  advance(1500ms);
  EXPECT_EQ(bus.setRequests("c200", kPU, kBrightnessSelector).size(), writes + 1) << "one correction";
  EXPECT_EQ(store->value(ControlID::brightness), 10);
  advance(1500ms);
  advance(1500ms);
  EXPECT_EQ(bus.setRequests("c200", kPU, kBrightnessSelector).size(), writes + 1) << "the refused value is not retried";
  EXPECT_EQ(store->value(ControlID::brightness), 20) << "the interface shows what the camera has";

  // A new wanted value is a new mismatch: written once more after its grace.
  store->set(ControlID::brightness, 13);
  advance(1500ms);
  advance(1500ms);
  EXPECT_EQ(bus.setRequests("c200", kPU, kBrightnessSelector).size(), writes + 3);
}

// A camera that tells of changes is followed at once, with no read-back on the clock: another
// program's change is shown and undone as it happens (each time: a value that held is corrected
// again when it drifts the same way), and the read-back runs only while the values are on screen.
TEST_F(CameraStoreTest, NoticesShowAndUndoAnotherProgramsChangesWithoutPolling) {
  bus.plug(sim::c200Profile(), "c200");
  CameraStore::Options options = testing::storeOptions(bus);
  options.followNotices = true;
  store = std::make_unique<CameraStore>(clock, defaults, login, options);
  settle();
  // Bounded real-time wait for what arrives over the notice connection.
  auto waitFor = [this](auto condition) {
    QElapsedTimer guard;
    guard.start();
    while (!condition() && guard.elapsed() < 5000) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      store->io().waitUntilIdle();
    }
    settle();
    return condition();
  };
  ASSERT_TRUE(waitFor([&] { return store->followsNotices(); }));
  store->set(ControlID::brightness, 10);
  settle();
  advance(1500ms);  // the touch grace is over; no read-back runs in these 1.5 s
  auto writes = [&] { return bus.setRequests("c200", kPU, kBrightnessSelector).size(); };
  auto reads = [&] { return bus.requests("c200", "GET_CUR", kPU, kBrightnessSelector).size(); };
  auto exposureReads = [&] { return bus.requests("c200", "GET_CUR", kCT, kExposureSelector).size(); };
  const auto writesBefore = writes();

  for (int round = 1; round <= 2; ++round) {
    bus.command("c200", "set brightness 20");
    EXPECT_TRUE(waitFor([&] { return camera("brightness") == 10; })) << "round " << round;
    EXPECT_EQ(writes(), writesBefore + round);
    EXPECT_EQ(store->value(ControlID::brightness), 10);
  }

  // With nobody looking, a value its auto mode moves is not read for its notice (told first,
  // so any read of it would come before the brightness is back).
  const auto exposureReadsBefore = exposureReads();
  bus.command("c200", "set exposure 200");
  bus.command("c200", "set brightness 21");
  EXPECT_TRUE(waitFor([&] { return camera("brightness") == 10; }));
  EXPECT_EQ(exposureReads(), exposureReadsBefore);

  store->setKeepLocked(false);
  bus.command("c200", "set brightness 30");
  EXPECT_TRUE(waitFor([&] { return store->value(ControlID::brightness) == 30; }));
  EXPECT_EQ(writes(), writesBefore + 3) << "unlocked: shown, not written";

  // Nobody looks: read back whole once a minute. Somebody looks: whole as the view appears, then
  // every 1.5 s what the notices may miss (this camera tells of every control, but its firmware's
  // own changes need not be told: the values its auto modes move).
  auto readsBefore = reads();
  auto autoReadsBefore = exposureReads();
  advance(CameraStore::kPollPeriod * 3);
  EXPECT_EQ(reads(), readsBefore);
  int viewer = 0;
  store->setShowingValues(&viewer, true);
  settle();
  EXPECT_EQ(reads(), readsBefore + 1) << "a view that appears gets fresh values";
  advance(CameraStore::kPollPeriod);
  EXPECT_EQ(reads(), readsBefore + 1);
  EXPECT_EQ(exposureReads(), autoReadsBefore + 2);
  store->setShowingValues(&viewer, false);
  advance(CameraStore::kPollPeriod * 2);
  EXPECT_EQ(exposureReads(), autoReadsBefore + 2);
  advance(CameraStore::kQuietPollPeriod);
  EXPECT_EQ(reads(), readsBefore + 2);

  // The camera leaves: its notices end with it, and nothing is left waiting on them.
  bus.command("c200", "unplug");
  EXPECT_TRUE(waitFor([&] { return !store->followsNotices(); }));
}

// A camera that forgets its flip while idle has it again within a second of another program
// starting to stream, lock or no lock; a vendor value the camera refused is not sent again.
TEST_F(CameraStoreTest, VendorSettingsAreWrittenAgainWhenAnotherProgramStartsStreaming) {
  bus.plug(sim::c200Profile(), "c200", 20, [](sim::ServerOptions& o) { o.flipNeedsStream = true; });
  CameraStore::Options options = testing::storeOptions(bus);
  options.followNotices = true;
  options.keepLocked = false;
  store = std::make_unique<CameraStore>(clock, defaults, login, options);
  settle();
  bus.command("c200", "refuse hdr");
  store->set({{ControlID::horizontalFlip, 1}, {ControlID::hdr, 1}});
  advance(300ms);  // the stream starts while the user's own change is fresh
  ASSERT_EQ(camera("horizontalFlip"), 0) << "the idle camera drops the flip";
  const auto hdrWrites = bus.setRequests("c200", kXU, kHdrSelector).size();

  bus.command("c200", "busy");
  for (int step = 0; step < 4 && camera("horizontalFlip") != 1; ++step) {
    QCoreApplication::processEvents();
    advance(250ms);
  }
  EXPECT_EQ(camera("horizontalFlip"), 1);
  EXPECT_EQ(store->value(ControlID::horizontalFlip), 1);
  EXPECT_EQ(bus.setRequests("c200", kXU, kHdrSelector).size(), hdrWrites);
}

// Another program's change right after the user's own is left alone during the touch's grace and
// corrected after it, whether the store learns of it by the poll or by the camera's notice (which
// tells of a value once: the grace must delay the correction, never swallow it).
TEST_F(CameraStoreTest, ATouchedControlIsLeftAloneDuringItsGraceThenCorrected) {
  bus.plug(sim::c200Profile(), "c200");
  for (const bool notices : {false, true}) {
    SCOPED_TRACE(notices ? "notices" : "poll");
    CameraStore::Options options = testing::storeOptions(bus);
    options.followNotices = notices;
    store = std::make_unique<CameraStore>(clock, defaults, login, options);
    settle();
    advance(1000ms);
    store->set(ControlID::brightness, notices ? 40 : 30);
    settle();
    bus.command("c200", "set brightness 5");  // another application, right after the user
    for (int step = 0; step < 10; ++step) advance(50ms);  // the notice, and the poll at 1.5 s: the touch is 0.5 s old
    EXPECT_EQ(store->value(ControlID::brightness), notices ? 40 : 30);
    EXPECT_EQ(camera("brightness"), 5);
    advance(1500ms);  // the touch has expired: the drift is corrected
    EXPECT_EQ(camera("brightness"), notices ? 40 : 30);
  }
}

TEST_F(CameraStoreTest, ManualValuesDriftFreelyUnderTheirAutoMode) {
  bus.plug(sim::c200Profile(), "c200");
  start();
  store->set({{ControlID::autoExposure, 8}, {ControlID::autoWhiteBalance, 0}, {ControlID::whiteBalance, 5000}});
  advance(1500ms);
  const auto exposureWrites = bus.setRequests("c200", kCT, 0x04).size();
  bus.command("c200", "set exposure 999");
  bus.command("c200", "set whiteBalance 3000");
  advance(1500ms);
  advance(1500ms);
  EXPECT_EQ(bus.setRequests("c200", kCT, 0x04).size(), exposureWrites) << "aperture priority counts as automatic";
  EXPECT_EQ(camera("whiteBalance"), 5000) << "manual white balance is enforced";
}

TEST_F(CameraStoreTest, HdrIsWrittenOnConnectionAndRediscoveryNeverByThePoll) {
  bus.plug(sim::c200Profile(), "c200");
  defaults.setData("settings.291a:3369", R"({"hdr":0})");
  start();
  EXPECT_EQ(bus.setRequests("c200", kXU, kHdrSelector).size(), 1u);
  const auto device = store->device();
  advance(1500ms);
  advance(1500ms);
  EXPECT_EQ(bus.setRequests("c200", kXU, kHdrSelector).size(), 1u);
  EXPECT_FALSE(store->values().empty());
  store->rescan();  // the same camera found again: kept, and corrected with force
  settle();
  EXPECT_EQ(store->device(), device);
  EXPECT_EQ(bus.setRequests("c200", kXU, kHdrSelector).size(), 2u);
}

TEST_F(CameraStoreTest, UnplugKeepsTheWantedSettingsAndReplugRestoresThem) {
  bus.plug(sim::c200Profile(), "c200");
  start(true);
  store->set(ControlID::brightness, 40);
  settle();
  ASSERT_TRUE(store->saveNow());  // the save's timer is no more
  const std::size_t baseline = clock.pendingTimerCount();  // the poll's timer
  auto inode = [&] {
    struct stat status {};
    return ::stat(defaults.path().toLocal8Bit().constData(), &status) == 0 ? status.st_ino : 0;
  };
  const ino_t saved = inode();
  ASSERT_NE(saved, 0u);

  bus.command("c200", "unplug");
  waitForTimers(baseline + 1);
  advance(800ms);
  EXPECT_FALSE(store->device());
  EXPECT_TRUE(store->values().empty());
  EXPECT_TRUE(store->ranges().empty());
  EXPECT_TRUE(store->cameras().isEmpty());

  bus.command("c200", "set brightness 0");  // it forgot while away
  bus.command("c200", "plug");
  waitForTimers(baseline + 1);
  advance(800ms);
  ASSERT_TRUE(store->device());
  EXPECT_EQ(camera("brightness"), 40);
  EXPECT_EQ(store->value(ControlID::brightness), 40);
  // The file holds these wanted values already: it is neither saved nor written behind our back
  // (a write replaces the file, and with it its inode).
  EXPECT_EQ(clock.pendingTimerCount(), baseline) << "no save is scheduled";
  EXPECT_EQ(inode(), saved);
}

TEST_F(CameraStoreTest, TwoCamerasOfOneModelShareTheirWantedSettings) {
  sim::Profile second = sim::c200Profile();
  second.locationID = 0x01200000;
  bus.plug(sim::c200Profile(), "c200");
  bus.plug(second, "d-c200");
  start();
  ASSERT_EQ(store->cameras().size(), 2);
  EXPECT_NE(store->cameras()[0].locationID, store->cameras()[1].locationID);
  EXPECT_EQ(store->device()->locationID, 0x01100000u) << "the first in discovery order";
  store->set(ControlID::brightness, 21);
  settle();
  EXPECT_EQ(camera("brightness", "d-c200"), 0);

  bus.command("c200", "unplug");
  advance(1600ms);
  store->rescan();
  settle();
  EXPECT_EQ(store->device()->locationID, 0x01200000u);
  EXPECT_EQ(camera("brightness", "d-c200"), 21) << "the same model's wanted value";
}

TEST_F(CameraStoreTest, ABurstOfPlugEventsGivesOneRescanAfterTheLast) {
  start(true);
  const std::size_t baseline = clock.pendingTimerCount();
  QSignalSpy listings(store.get(), &CameraStore::camerasChanged);
  bus.plug(sim::genericProfile(), "a");
  waitForTimers(baseline + 1);
  advance(500ms);
  bus.plug(sim::c200Profile(), "b");
  bus.plug(sim::genericProfile(), "c");
  QElapsedTimer quiet;
  quiet.start();
  while (quiet.elapsed() < 300) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(clock.pendingTimerCount(), baseline + 1) << "one pending rescan, however many events";
  advance(500ms);
  EXPECT_EQ(listings.count(), 0) << "the later events pushed the rescan back";
  advance(300ms);
  EXPECT_EQ(listings.count(), 1);
  EXPECT_EQ(store->cameras().size(), 3);
  EXPECT_EQ(store->device()->key, (CameraKey{0x291A, 0x3369}));
}

TEST_F(CameraStoreTest, ACameraThatAnswersNothingIsLookedForAgain) {
  bus.plug(sim::c200Profile(), "c200");
  start();
  store->set(ControlID::brightness, 7);
  settle();
  bus.command("c200", "sleep");  // every control back to default, then off the bus and back
  ASSERT_TRUE(bus.waitUntilPlugged("c200"));
  advance(1500ms);  // the poll reads nothing from the old enumeration
  EXPECT_FALSE(store->values().empty()) << "an empty read changes nothing shown";
  advance(1000ms);  // the rescan finds the camera's new enumeration
  EXPECT_EQ(camera("brightness"), 7);
}

TEST_F(CameraStoreTest, ResetReportsFailuresInTheDescribedForm) {
  start();
  store->resetCamera();  // no camera: nothing happens
  EXPECT_FALSE(store->isBusy());
  EXPECT_EQ(store->lastError(), std::nullopt);

  bus.plug(sim::c200Profile(), "c200");
  store->rescan();
  settle();
  bus.command("c200", "unplug");
  store->resetCamera();
  settle();
  EXPECT_EQ(store->lastErrorText(), "Couldn't reset the camera (the camera is not connected, 0xe00002c0).");

  bus.command("c200", "plug");
  store->rescan();
  settle();
  bus.command("c200", "hold");  // another client has the camera open
  store->resetCamera();
  settle();
  EXPECT_EQ(store->lastErrorText(), "Couldn't reset the camera (in use by another program, 0xe00002c5).");
  EXPECT_FALSE(store->isResetting()) << "a failed reset is over at once";
  EXPECT_NE(bus.camera("c200").registryID(), 0u) << "not re-enumerated";
  bus.command("c200", "release");
  auto enumeration = bus.camera("c200").registryID();
  store->resetCamera();
  settle();
  EXPECT_EQ(store->lastError(), std::nullopt) << "a successful reset clears the message";
  EXPECT_EQ(store->resettingCamera()->name, "Anker PowerConf C200") << "until the camera answers again";
  ASSERT_TRUE(bus.waitUntilPlugged("c200", enumeration));
  advance(1500ms);  // a poll through the enumeration that left answers nothing
  EXPECT_TRUE(store->isResetting());
  store->rescan();
  settle();
  EXPECT_FALSE(store->isResetting()) << "the camera's new enumeration answered";

  // A camera that never comes back ends the reset after a while all the same.
  enumeration = bus.camera("c200").registryID();
  store->resetCamera();
  settle();
  ASSERT_TRUE(bus.waitUntilPlugged("c200", enumeration));
  bus.command("c200", "unplug");
  advance(14s);
  EXPECT_FALSE(store->device());
  EXPECT_TRUE(store->isResetting());
  advance(1s);
  EXPECT_FALSE(store->isResetting());
  bus.command("c200", "plug");
  bus.command("c200", "hold");
  store->rescan();
  settle();
  store->resetCamera();
  settle();
  ASSERT_TRUE(store->lastError());

  // A successful login-item change clears it.
  QSignalSpy loginChanges(store.get(), &CameraStore::launchAtLoginChanged);
  store->setLaunchAtLogin(true);
  EXPECT_EQ(store->lastError(), std::nullopt);
  EXPECT_TRUE(store->launchAtLogin());
  EXPECT_EQ(loginChanges.count(), 1);
}

TEST_F(CameraStoreTest, AFailedLoginItemChangeExplainsItself) {
  QFile blocker(bus.path("autostart"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));  // a file where the folder should be
  blocker.close();
  start();
  store->setLaunchAtLogin(true);
  ASSERT_TRUE(store->lastError());
  EXPECT_TRUE(store->lastError()->startsWith("Couldn't change Launch at Login: "));
  EXPECT_FALSE(store->launchAtLogin());
}

TEST_F(CameraStoreTest, PreferencesPersistOnEveryWriteAndSignalOnlyChanges) {
  start();
  QSignalSpy locked(store.get(), &CameraStore::keepLockedChanged);
  QSignalSpy window(store.get(), &CameraStore::openWindowAtLaunchChanged);
  store->setKeepLocked(true);
  store->setOpenWindowAtLaunch(true);
  EXPECT_EQ(locked.count(), 0);
  EXPECT_EQ(window.count(), 0);
  EXPECT_EQ(defaults.boolean("keepLocked"), true) << "saved even when unchanged";
  store->setOpenWindowAtLaunch(false);
  EXPECT_EQ(window.count(), 1);
  store.reset();
  start(false, std::nullopt, false);
  EXPECT_FALSE(store->keepLocked());
  EXPECT_FALSE(store->openWindowAtLaunch());
  EXPECT_EQ(defaults.boolean("keepLocked"), true) << "a per-run choice is not saved";
}

TEST_F(CameraStoreTest, PresetsSaveApplyAndTellWhichIsActive) {
  bus.plug(sim::c200Profile(), "c200");
  start();
  EXPECT_EQ(store->activePresetID(), std::nullopt) << "no preset";

  store->set({{ControlID::autoExposure, 2}, {ControlID::exposure, 300}});
  store->savePreset("Bright");
  const Preset bright = store->presets().front();
  EXPECT_EQ(bright.values.at(ControlID::autoExposure), 2);
  EXPECT_EQ(store->activePresetID(), bright.id);

  // Exposure is the camera's business under auto exposure: still active.
  store->set(ControlID::exposure, 100);
  EXPECT_EQ(store->activePresetID(), bright.id);
  store->set(ControlID::autoExposure, 1);
  EXPECT_EQ(store->activePresetID(), std::nullopt);

  // Applying writes the auto mode first, then the manual value.
  store->applyPreset(bright);
  settle();
  EXPECT_EQ(camera("autoExposure"), 2);
  EXPECT_EQ(bus.setRequests("c200", kCT, 0x04).back(), "2c010000") << "exposure 300 is sent all the same";

  store->savePreset("Same");
  EXPECT_EQ(store->activePresetID(), bright.id) << "the first of two equal presets";
  Preset foreign{QUuid::createUuid(), "Other camera", {{ControlID::saturation, 1}}, {}, {}};
  store->movePresets({1}, 0);
  EXPECT_EQ(store->presets()[0].name, "Same");
  store->renamePreset(store->presets()[0].id, "Renamed");
  store->deletePreset(QUuid::createUuid());  // matches nothing: rewritten unchanged
  const auto saved = Storage(defaults).loadPresets();
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->size(), 2);
  EXPECT_EQ((*saved)[0].name, "Renamed");
  store->deletePreset(bright.id);
  EXPECT_EQ(store->presets().size(), 1);
}

TEST_F(CameraStoreTest, PresetsOfUnsupportedControlsAreNeverActive) {
  bus.plug(sim::genericProfile(), "generic");
  Storage(defaults).savePresets({Preset{QUuid::createUuid(), "Pan", {{ControlID::pan, 3600}}, {}, {}}});
  start();
  ASSERT_EQ(store->presets().size(), 1);
  EXPECT_EQ(store->activePresetID(), std::nullopt);
  store->applyPreset(store->presets().front());
  settle();
  EXPECT_FALSE(store->values().contains(ControlID::pan));
}

TEST_F(CameraStoreTest, ResetToDefaultsSkipsControlsWithoutARange) {
  bus.plug(sim::c200Profile(), "c200");
  start();
  store->set({{ControlID::brightness, 30}, {ControlID::contrast, 80}});
  store->resetToDefaults(std::vector<ControlID>{ControlID::brightness, ControlID::pan, ControlID::gain});
  settle();
  EXPECT_EQ(camera("brightness"), 0);
  EXPECT_EQ(camera("contrast"), 80);
  store->resetToDefaults();
  settle();
  EXPECT_EQ(camera("contrast"), 50);
  EXPECT_EQ(camera("fieldOfView"), 78) << "the fixed vendor default";
}

TEST_F(CameraStoreTest, RefocusSwitchesAutoFocusOffAndOnAgain) {
  bus.plug(sim::c200Profile(), "c200");
  start();
  store->set(ControlID::autoFocus, 1);
  settle();
  const auto before = bus.setRequests("c200", kCT, 0x08).size();
  store->refocus();
  ASSERT_TRUE(clock.waitForSleepers(1));
  EXPECT_EQ(camera("autoFocus"), 0);
  advance(300ms);
  EXPECT_EQ(camera("autoFocus"), 1);
  EXPECT_EQ(bus.setRequests("c200", kCT, 0x08).size(), before + 2);
  EXPECT_EQ(store->value(ControlID::autoFocus), 1);
}

TEST_F(CameraStoreTest, ARefusedValueIsReportedNeitherSavedNorWrittenAgainUntilTheUserChangesIt) {
  bus.plug(sim::c200Profile(), "c200");
  start();
  QSignalSpy failures(store.get(), &CameraStore::writeFailed);
  bus.command("c200", "refuse contrast");
  store->set({{ControlID::contrast, 70}, {ControlID::brightness, 3}});
  settle();
  ASSERT_EQ(failures.count(), 1);
  const auto reported = failures[0][0].value<std::vector<WriteFailure>>();
  ASSERT_EQ(reported, (std::vector<WriteFailure>{{ControlID::contrast, 70, usb::status::pipeStalled}}));
  EXPECT_EQ(camera("brightness"), 3);
  EXPECT_FALSE(Storage(defaults).loadSettings({0x291A, 0x3369})->contains(ControlID::contrast))
      << "a later run must not send it again";

  const auto tries = [&] { return bus.setRequests("c200", kPU, 0x03).size(); };
  const auto before = tries();
  advance(1500ms);
  advance(1500ms);
  store->rescan();  // found again: the forced correction skips it too
  settle();
  EXPECT_EQ(tries(), before);
  store->set(ControlID::contrast, 71);  // the user's new wish is tried
  settle();
  EXPECT_EQ(tries(), before + 1);
  // An auto mode the camera does not offer is not sent at all.
  EXPECT_FALSE(store->accepts(ControlID::autoExposure, -1));
  EXPECT_FALSE(store->accepts(ControlID::autoFocus, 2));
  store->set(ControlID::autoExposure, 3);
  EXPECT_FALSE(store->isBusy());
}

TEST_F(CameraStoreTest, SwitchingCamerasNeverMixesTheirSettings) {
  bus.plug(sim::genericProfile(), "a-generic");
  bus.plug(sim::c200Profile(), "c200");
  start();
  store->set(ControlID::brightness, 50);
  settle();
  const auto c200Saved = Storage(defaults).loadSettings({0x291A, 0x3369});

  // Changes made the moment the other camera is chosen, before its reading has landed.
  QObject::connect(store.get(), &CameraStore::deviceChanged, store.get(), [&] {
    if (!store->device() || store->device()->key != CameraKey{0x0C45, 0x6366}) return;
    EXPECT_FALSE(store->isConnected());
    EXPECT_TRUE(store->ranges().empty()) << "nothing of the C200 is shown for the new camera";
    store->set(ControlID::brightness, 500);
    store->refocus();
  });
  store->setPreferredCamera({0x0C45, 0x6366});
  advance(400ms);
  ASSERT_TRUE(store->isConnected());
  EXPECT_EQ(Storage(defaults).loadSettings({0x291A, 0x3369}), c200Saved) << "the C200's settings are its own";
  const auto genericSaved = Storage(defaults).loadSettings({0x0C45, 0x6366});
  ASSERT_TRUE(genericSaved);
  EXPECT_FALSE(genericSaved->contains(ControlID::fieldOfView));
  const std::int64_t max = store->ranges().at(ControlID::brightness).max;
  EXPECT_EQ(genericSaved->at(ControlID::brightness), max) << "the change waited for the range to clamp it";
  EXPECT_EQ(camera("brightness", "a-generic"), max);
  EXPECT_EQ(camera("brightness"), 50);
}

TEST_F(CameraStoreTest, ARescanOpensOnlyACameraThatIsNew) {
  bus.plug(sim::c200Profile(), "c200");
  start();
  const auto opened = UVCDevice::openCount();
  store->rescan();  // a keyboard was plugged in
  settle();
  EXPECT_EQ(UVCDevice::openCount(), opened);
  bus.plug(sim::genericProfile(), "d-generic");
  store->rescan();
  settle();
  EXPECT_EQ(UVCDevice::openCount(), opened) << "listing a camera opens nothing";
  EXPECT_EQ(store->cameras().size(), 2);
  bus.command("c200", "unplug");
  bus.command("c200", "plug");
  store->rescan();
  settle();
  EXPECT_EQ(UVCDevice::openCount(), opened + 1) << "the returning camera, once";
}

TEST_F(CameraStoreTest, ACameraThatCannotBeOpenedIsListedWithItsReasonAndTheNextOneUsed) {
  bus.plug(sim::genericProfile(), "a-generic");
  usb::Service refusing;
  refusing.registryID = 0x0001'0004;
  refusing.vendorID = 0x291A;
  refusing.productID = 0x3369;
  refusing.locationID = 0x01400000;
  refusing.productName = "Anker PowerConf C200";
  refusing.carrier = usb::CarrierKind::v4l2;
  refusing.connect = [] { return usb::Connection::failed(usb::status::notPrivileged, "/dev/video2"); };
  extraServices = {refusing};
  start();
  ASSERT_EQ(store->cameras().size(), 2);
  EXPECT_EQ(store->cameras()[1].name, "Anker PowerConf C200");
  EXPECT_EQ(store->lastErrorText(),
            "Cannot open Anker PowerConf C200 (/dev/video2): permission denied — see docs/hardware.md");
  ASSERT_TRUE(store->isConnected()) << "the camera that opens is used meanwhile";
  EXPECT_EQ(store->device()->key, (CameraKey{0x0C45, 0x6366}));
  const auto opened = UVCDevice::openCount();
  store->rescan();
  settle();
  EXPECT_EQ(UVCDevice::openCount(), opened) << "the camera in use is kept, not opened again";

  extraServices.clear();  // unplugged
  store->rescan();
  settle();
  EXPECT_EQ(store->lastError(), std::nullopt);
}

TEST_F(CameraStoreTest, AFileChangedByAnotherProgramIsMergedNotOverwritten) {
  bus.plug(sim::c200Profile(), "c200");
  start();
  store->set(ControlID::contrast, 10);  // ours, not yet in the file
  settle();
  {
    UserDefaults other(bus.path("velto-camera.conf"));
    Storage storage(other);
    storage.saveSettings({0x291A, 0x3369}, {{ControlID::brightness, 44}, {ControlID::contrast, 99}});
    storage.savePresets({Preset{QUuid::createUuid(), "From elsewhere", {{ControlID::brightness, 44}}}});
    ASSERT_EQ(other.sync(), std::nullopt);
  }
  QElapsedTimer guard;
  guard.start();
  while (store->presets().isEmpty() && guard.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  ASSERT_EQ(store->presets().size(), 1) << "the file's presets were read";
  settle();
  EXPECT_EQ(camera("brightness"), 44) << "the camera follows the file";
  EXPECT_EQ(camera("contrast"), 10) << "what this process changed since stays";
  ASSERT_TRUE(store->saveNow());
  UserDefaults reread(bus.path("velto-camera.conf"));
  const auto file = Storage(reread).loadSettings({0x291A, 0x3369});
  EXPECT_EQ(file->at(ControlID::brightness), 44);
  EXPECT_EQ(file->at(ControlID::contrast), 10);
  EXPECT_EQ(Storage(reread).loadPresets()->size(), 1) << "the newer file is not overwritten by older memory";

  // Another program's change that lands while this process is busy, just before its own save
  // takes the file in: still applied once the notice comes, though the text read after that save
  // already holds it.
  ASSERT_TRUE(store->openWindowAtLaunch());
  {
    QFile raw(bus.path("velto-camera.conf"));
    ASSERT_TRUE(raw.open(QIODevice::Append));
    raw.write("\n[General]\nopenWindowAtLaunch=false\n");
  }
  store->set(ControlID::saturation, 70);
  ASSERT_TRUE(store->saveNow());
  guard.restart();
  while (store->openWindowAtLaunch() && guard.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_FALSE(store->openWindowAtLaunch());
}

TEST_F(CameraStoreTest, QuittingDropsQueuedReadsAndSkipsWritesToAHungCamera) {
  bus.plug(sim::c200Profile(), "c200");
  start();
  bus.command("c200", "hang");
  store->set(ControlID::brightness, 9);  // times out: the camera is known to be hung
  settle();
  store->set(ControlID::brightness, 10);
  store->reconcile(true);
  store->reconcile(true);
  QElapsedTimer timer;
  timer.start();
  store.reset();
  EXPECT_LT(timer.elapsed(), 1500);
}

}  // namespace
}  // namespace velto
