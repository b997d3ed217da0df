// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// cuvc end to end over the sim carrier, against a simulated camera served in-process.
#include "platform/usb/sim_carrier.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <sys/socket.h>
#include <sys/un.h>
#include <poll.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "cuvc/cuvc.h"
#include "platform/usb/registry.h"
#include "platform/usb/sim_directory.h"
#include "platform/usb/simcam_protocol.h"
#include "sim_test_server.h"

namespace velto {
namespace {

using testing::eventually;
namespace status = usb::status;
constexpr std::uint8_t CT = 1, PU = 2, XU = 6;

QJsonObject json(const std::string& text) { return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object(); }

class SimCarrierTest : public ::testing::Test {
 protected:
  void SetUp() override { reopen(); }
  void TearDown() override { cuvc_close(handle); }

  void reopen() {
    cuvc_close(handle);
    handle = nullptr;
    const auto services = usb::listSimServices(dir.path());
    ASSERT_EQ(services.size(), 1u);
    service = services[0];
    handle = cuvc_open(&service, &info);
    ASSERT_NE(handle, nullptr);
  }

  std::int64_t get(std::uint8_t request, std::uint8_t unit, std::uint8_t selector, std::uint16_t length,
                   cuvc_status* result = nullptr) {
    std::vector<std::uint8_t> data(length);
    const cuvc_status s = cuvc_get(handle, request, unit, selector, data.data(), length, nullptr);
    if (result) *result = s;
    std::int64_t v = 0;
    for (std::size_t i = std::min<std::size_t>(length, 8); i-- > 0;) v = v << 8 | data[i];
    return v;
  }

  testing::TempDirectory dir;
  testing::TestServer server{dir.path()};
  usb::Service service;
  cuvc_info info{};
  cuvc_handle* handle = nullptr;
};

TEST_F(SimCarrierTest, RegistryListsTheCamera) {
  EXPECT_EQ(service.vendorID, 0x291A);
  EXPECT_EQ(service.productID, 0x3369);
  EXPECT_EQ(service.locationID, 0x01100000u);
  EXPECT_EQ(service.productName, "Anker PowerConf C200");
  EXPECT_EQ(service.carrier, usb::CarrierKind::sim);
  EXPECT_EQ(service.path, dir.path() + "/cam0.sock");
  EXPECT_EQ(service.registryID, server->registryID());
  EXPECT_NE(service.registryID, 0u);
}

TEST_F(SimCarrierTest, OpenFindsTheUnits) {
  EXPECT_EQ(info.vendorID, 0x291A);
  EXPECT_EQ(info.productID, 0x3369);
  EXPECT_EQ(info.locationID, 0x01100000u);
  EXPECT_EQ(info.interfaceNumber, 0);
  EXPECT_EQ(info.cameraTerminalID, CT);
  EXPECT_EQ(info.processingUnitID, PU);
  EXPECT_EQ(info.extensionUnitID, XU);
  EXPECT_EQ(info.extensionGUID[0], 0xA2);
  EXPECT_EQ(info.extensionGUID[15], 0x3B);
}

TEST_F(SimCarrierTest, GetAndSetRoundTrip) {
  cuvc_status s = 1;
  EXPECT_EQ(get(CUVC_GET_MIN, PU, 0x02, 2, &s), 0xFFC0) << "brightness minimum -64";
  EXPECT_EQ(s, CUVC_SUCCESS);
  const std::uint8_t minus5[] = {0xFB, 0xFF};
  EXPECT_EQ(cuvc_set(handle, PU, 0x02, minus5, 2), CUVC_SUCCESS);
  EXPECT_EQ(get(CUVC_GET_CUR, PU, 0x02, 2), 0xFFFB);
  EXPECT_EQ(json(server.command("state"))["brightness"].toInteger(), -5);
  const std::uint8_t tooBright[] = {100, 0};
  EXPECT_EQ(cuvc_set(handle, PU, 0x02, tooBright, 2), status::pipeStalled);
  get(CUVC_GET_MIN, CT, 0x02, 1, &s);
  EXPECT_EQ(s, status::pipeStalled) << "auto-exposure mode has no minimum";
  EXPECT_EQ(get(CUVC_GET_RES, CT, 0x02, 1), 0x0B);

  std::uint8_t data[2] = {0xEE, 0xEE};
  std::uint16_t transferred = 0;
  EXPECT_EQ(cuvc_get(handle, CUVC_GET_CUR, PU, 0x03, data, 2, &transferred), CUVC_SUCCESS);
  EXPECT_EQ(transferred, 2);
  EXPECT_EQ(data[0], 50);
}

TEST_F(SimCarrierTest, PanAndTiltShareOnePayload) {
  const std::uint8_t panTilt[8] = {0x10, 0x0E, 0, 0, 0xF0, 0xF1, 0xFF, 0xFF};  // 3600, -3600
  EXPECT_EQ(cuvc_set(handle, CT, 0x0D, panTilt, 8), CUVC_SUCCESS);
  std::uint8_t back[8] = {};
  EXPECT_EQ(cuvc_get(handle, CUVC_GET_CUR, CT, 0x0D, back, 8, nullptr), CUVC_SUCCESS);
  EXPECT_EQ(0, std::memcmp(back, panTilt, 8));
  const QJsonObject state = json(server.command("state"));
  EXPECT_EQ(state["pan"].toInteger(), 3600);
  EXPECT_EQ(state["tilt"].toInteger(), -3600);
}

TEST_F(SimCarrierTest, VendorPayloadAndFirmwareZoom) {
  std::uint8_t payload[60] = {};
  std::uint16_t transferred = 0;
  ASSERT_EQ(cuvc_get(handle, CUVC_GET_CUR, XU, 0x10, payload, 60, &transferred), CUVC_SUCCESS);
  EXPECT_EQ(transferred, 60);
  EXPECT_EQ(payload[1], 0x01);
  EXPECT_EQ(payload[2], 95);
  payload[2] = 78;
  payload[5] = 0;
  ASSERT_EQ(cuvc_set(handle, XU, 0x10, payload, 60), CUVC_SUCCESS);
  EXPECT_EQ(get(CUVC_GET_CUR, CT, 0x0B, 2), 100) << "zoom has not moved yet";
  server.now += 300;
  EXPECT_EQ(get(CUVC_GET_CUR, CT, 0x0B, 2), 175);
  cuvc_status s = 0;
  std::uint8_t shorter[59] = {};
  EXPECT_EQ(cuvc_get(handle, CUVC_GET_CUR, XU, 0x10, shorter, 59, nullptr), status::pipeStalled);
  get(CUVC_GET_CUR, XU, 0x13, 60, &s);
  EXPECT_EQ(s, CUVC_SUCCESS);
}

TEST_F(SimCarrierTest, HungCameraTimesOutWithinTheBound) {
  server.command("hang");
  const auto start = std::chrono::steady_clock::now();
  cuvc_status s = 0;
  get(CUVC_GET_CUR, PU, 0x02, 2, &s);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(s, status::timeout);
  EXPECT_LT(elapsed, std::chrono::milliseconds(CUVC_COMPLETION_TIMEOUT_MS + 500)) << "never blocked";
  // The description is still served while hung: the registry still lists it.
  EXPECT_EQ(usb::listSimServices(dir.path()).size(), 1u);
  server.command("unhang");
  EXPECT_EQ(get(CUVC_GET_CUR, PU, 0x03, 2, &s), 50);
  EXPECT_EQ(s, CUVC_SUCCESS);
}

TEST_F(SimCarrierTest, ALateAnswerIsNotTakenForTheNextOne) {
  server.command("latency 700");  // past the 500 ms without data
  cuvc_status s = 0;
  get(CUVC_GET_CUR, PU, 0x02, 2, &s);
  EXPECT_EQ(s, status::timeout);
  server.command("latency 0");
  // The brightness answer arrives late, before or while contrast is asked.
  EXPECT_EQ(get(CUVC_GET_CUR, PU, 0x03, 2, &s), 50);
  EXPECT_EQ(s, CUVC_SUCCESS);
  EXPECT_EQ(get(CUVC_GET_CUR, PU, 0x07, 2, &s), 60);
}

TEST_F(SimCarrierTest, SlowButTimelyAnswersArrive) {
  server.command("latency 100");
  cuvc_status s = 1;
  EXPECT_EQ(get(CUVC_GET_CUR, PU, 0x03, 2, &s), 50);
  EXPECT_EQ(s, CUVC_SUCCESS);
}

TEST_F(SimCarrierTest, ReenumerationLeavesAndReturnsWithANewRegistryID) {
  const std::uint8_t ten[] = {10, 0};
  ASSERT_EQ(cuvc_set(handle, PU, 0x02, ten, 2), CUVC_SUCCESS);
  const std::uint64_t before = service.registryID;
  EXPECT_EQ(cuvc_reenumerate(handle), CUVC_SUCCESS);
  cuvc_status s = 0;
  get(CUVC_GET_CUR, PU, 0x02, 2, &s);
  EXPECT_EQ(s, status::noDevice) << "the old handle's requests fail";
  ASSERT_TRUE(eventually([&] {
    const auto services = usb::listSimServices(dir.path());
    return services.size() == 1 && services[0].registryID != before;
  }));
  EXPECT_EQ(service.connect().carrier, nullptr) << "the old enumeration cannot be reached any more";
  reopen();
  EXPECT_NE(service.registryID, before);
  EXPECT_EQ(get(CUVC_GET_CUR, PU, 0x02, 2), 10) << "settings survive a re-enumeration";
}

TEST_F(SimCarrierTest, UnplugAndSleep) {
  server.command("unplug");
  cuvc_status s = 0;
  get(CUVC_GET_CUR, PU, 0x02, 2, &s);
  EXPECT_EQ(s, status::noDevice);
  get(CUVC_GET_CUR, PU, 0x02, 2, &s);
  EXPECT_EQ(s, status::noDevice) << "and keep failing";
  EXPECT_TRUE(usb::listSimServices(dir.path()).empty());
  EXPECT_EQ(server->command("unplug"), "error the camera is not plugged in");
  server.command("plug");
  reopen();

  server.command("set brightness 20");
  EXPECT_EQ(get(CUVC_GET_CUR, PU, 0x02, 2), 20);
  const std::uint64_t before = service.registryID;
  server.command("sleep");
  ASSERT_TRUE(eventually([&] {
    const auto services = usb::listSimServices(dir.path());
    return services.size() == 1 && services[0].registryID != before;
  }));
  reopen();
  EXPECT_EQ(get(CUVC_GET_CUR, PU, 0x02, 2), 0) << "a camera waking from sleep forgot its settings";
}

TEST_F(SimCarrierTest, RefuseAndIgnoreReachTheHost) {
  server.command("refuse contrast");
  const std::uint8_t v[] = {10, 0};
  EXPECT_EQ(cuvc_set(handle, PU, 0x03, v, 2), status::pipeStalled);
  server.command("accept contrast");
  server.command("ignore contrast");
  EXPECT_EQ(cuvc_set(handle, PU, 0x03, v, 2), CUVC_SUCCESS);
  EXPECT_EQ(get(CUVC_GET_CUR, PU, 0x03, 2), 50);
  EXPECT_EQ(server->command("refuse zoomz"), "error unknown control 'zoomz'");
}

// Connects a raw client to the camera's socket.
int rawConnect(const std::string& path) { return usb::connectUnixSocket(path, 1000); }

// Reads until the server closes the connection; true when it did within the deadline.
bool closedByServer(int fd, std::vector<std::uint8_t>* received = nullptr) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    std::uint8_t buffer[512];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n == 0) return true;
    if (n > 0 && received) received->insert(received->end(), buffer, buffer + n);
  }
  return false;
}

TEST_F(SimCarrierTest, MalformedInputClosesThatConnectionOnly) {
  const int fd = rawConnect(service.path);
  ASSERT_GE(fd, 0);
  const std::uint8_t oversized[] = {0xFF, 0xFF, 0xFF, 0x7F, 0x01};
  ASSERT_EQ(::send(fd, oversized, sizeof oversized, MSG_NOSIGNAL), 5);
  EXPECT_TRUE(closedByServer(fd));
  ::close(fd);

  const int other = rawConnect(service.path);
  const std::vector<std::uint8_t> hello = usb::simcam::encode(usb::simcam::Hello{});
  ASSERT_EQ(::send(other, hello.data(), hello.size(), MSG_NOSIGNAL), static_cast<ssize_t>(hello.size()));
  const std::uint8_t junk[] = {3, 0, 0, 0, 0x10, 1, 2};  // a control request cut short
  ASSERT_EQ(::send(other, junk, sizeof junk, MSG_NOSIGNAL), 7);
  EXPECT_TRUE(closedByServer(other));
  ::close(other);

  EXPECT_EQ(get(CUVC_GET_CUR, PU, 0x03, 2), 50) << "the camera's other host is unaffected";
}

TEST_F(SimCarrierTest, UnsupportedVersionIsRefused) {
  const int fd = rawConnect(service.path);
  // Only versions newer than any this camera speaks.
  constexpr std::uint16_t newer = usb::simcam::kModeStreamProtocolVersion + 1;
  const std::vector<std::uint8_t> hello = usb::simcam::encode(usb::simcam::Hello{newer, newer + 1});
  ASSERT_EQ(::send(fd, hello.data(), hello.size(), MSG_NOSIGNAL), static_cast<ssize_t>(hello.size()));
  std::vector<std::uint8_t> received;
  EXPECT_TRUE(closedByServer(fd, &received));
  ::close(fd);
  usb::simcam::FrameReader reader;
  reader.append(received);
  usb::simcam::Message m;
  ASSERT_EQ(reader.next(m), usb::simcam::FrameReader::Result::message);
  EXPECT_TRUE(std::holds_alternative<usb::simcam::Error>(m));
}

TEST(SimRegistryTest, StaleAndForeignFilesAreNotListed) {
  testing::TempDirectory dir;
  // A socket left by a simulator that was killed: the file exists, nobody listens.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string stale = dir.path() + "/old.sock";
  std::strcpy(addr.sun_path, stale.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ::close(fd);
  std::ofstream(dir.path() + "/notes.txt") << "x";
  std::ofstream(dir.path() + "/plain.sock") << "not a socket";
  EXPECT_TRUE(usb::listSimServices(dir.path()).empty());
  EXPECT_TRUE(usb::listSimServices(dir.path() + "/missing").empty());
  usb::RegistryOptions options;
  options.simDirectory = dir.path();  // and no sysfs: only simulated cameras
  EXPECT_TRUE(usb::listServices(options).empty());
}

TEST(SimRegistryTest, TwoCamerasAreListedInNameOrderWithDistinctIDs) {
  testing::TempDirectory dir;
  testing::TestServer second(dir.path(), sim::genericProfile(), "b-generic");
  testing::TestServer first(dir.path(), sim::c200Profile(), "a-c200");
  const auto services = usb::listSimServices(dir.path());
  ASSERT_EQ(services.size(), 2u);
  EXPECT_EQ(services[0].productID, 0x3369);
  EXPECT_EQ(services[1].productName, "USB 2.0 Camera");
  EXPECT_NE(services[0].registryID, services[1].registryID);
}

TEST(SimServerTest, AnotherSimulatorWithTheSameIDIsRefused) {
  testing::TempDirectory dir;
  testing::TestServer running(dir.path());
  sim::ServerOptions options;
  options.directory = dir.path();
  sim::SimServer twin(sim::c200Profile(), options, [] { return 0; });
  std::string error;
  EXPECT_FALSE(twin.start(&error));
  EXPECT_EQ(error, "a simulated camera with id 'cam0' is already running");
  EXPECT_EQ(usb::listSimServices(dir.path()).size(), 1u) << "the running one is untouched";
}

TEST(SimServerTest, LogsRequestsAndEvents) {
  testing::TempDirectory dir;
  const std::string log = dir.path() + "/requests.jsonl";
  {
    testing::TestServer server(dir.path(), sim::c200Profile(), "cam0", log);
    const auto services = usb::listSimServices(dir.path());
    ASSERT_EQ(services.size(), 1u);
    cuvc_info info{};
    cuvc_handle* handle = cuvc_open(&services[0], &info);
    ASSERT_NE(handle, nullptr);
    std::uint8_t mode = 0;
    EXPECT_EQ(cuvc_get(handle, CUVC_GET_CUR, CT, 0x02, &mode, 1, nullptr), CUVC_SUCCESS);
    const std::uint8_t v[] = {0x0A, 0x00};
    EXPECT_EQ(cuvc_set(handle, PU, 0x02, v, 2), CUVC_SUCCESS);
    server.command("hang");
    cuvc_close(handle);
  }
  std::ifstream in(log);
  std::vector<QJsonObject> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(json(line));
  const std::vector<QJsonObject> expected = {
      {{"seq", 1}, {"event", "plug"}},
      {{"seq", 2}, {"request", "GET_CUR"}, {"bmRequestType", 161}, {"bRequest", 129}, {"unit", 1},
       {"selector", 2}, {"wValue", 512}, {"wIndex", 256}, {"length", 1}, {"data", "02"}, {"status", 0}},
      {{"seq", 3}, {"request", "SET_CUR"}, {"bmRequestType", 33}, {"bRequest", 1}, {"unit", 2},
       {"selector", 2}, {"wValue", 512}, {"wIndex", 512}, {"length", 2}, {"data", "0a00"}, {"status", 0}},
      {{"seq", 4}, {"event", "hang"}},
      {{"seq", 5}, {"event", "unplug"}},
  };
  EXPECT_EQ(lines, expected);
}

TEST(SimServerTest, ControlCommandsTakeNumbersAsVeltoCtlDoesAndCapTheLatency) {
  testing::TempDirectory dir;
  testing::TestServer server(dir.path());
  server.command("set brightness -0x10");
  EXPECT_EQ(json(server.command("state"))["brightness"].toInteger(), -16);
  EXPECT_EQ(server->command("set brightness 1.5"), "error '1.5' is not an integer");
  server.command("latency 10000");
  EXPECT_EQ(server->command("latency 10001"), "error latency: 10001 ms is more than the maximum of 10000 ms");
}

// Sends a hello on `fd` and waits up to `timeoutMs` for the first byte of an answer.
bool answersHello(int fd, int timeoutMs) {
  const std::vector<std::uint8_t> hello = usb::simcam::encode(usb::simcam::Hello{});
  if (::send(fd, hello.data(), hello.size(), MSG_NOSIGNAL | MSG_DONTWAIT) != static_cast<ssize_t>(hello.size())) {
    return false;
  }
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) == 1;
}

TEST(SimServerTest, HostsBeyondTheCapWaitTheirTurnWithoutSpinningTheLoop) {
  testing::TempDirectory dir;
  testing::TestServer server(dir.path());
  constexpr std::size_t cap = sim::SimServer::kMaxDeviceConnections;
  std::vector<int> fds;
  for (std::size_t i = 0; i < cap + 3; ++i) {  // the three extra wait in the listen backlog
    fds.push_back(rawConnect(server->socketPath()));
    ASSERT_GE(fds.back(), 0) << i;
  }
  ASSERT_TRUE(eventually([&] { return server->connectionCount() == cap; }));
  // Nothing is due, so a loop that does not spin stays asleep however long it is watched; one
  // that polls a listener it cannot accept from wakes thousands of times in this window.
  const std::uint64_t wakeups = server->loopWakeups();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_LE(server->loopWakeups() - wakeups, 1u);
  EXPECT_FALSE(answersHello(fds.back(), 50)) << "not accepted while the cap is reached";

  for (int i = 0; i < 3; ++i) ::close(fds[static_cast<std::size_t>(i)]);
  EXPECT_TRUE(answersHello(fds.back(), 5000)) << "accepted once others have left";
  for (std::size_t i = 3; i < fds.size(); ++i) ::close(fds[i]);
}

}  // namespace
}  // namespace velto
