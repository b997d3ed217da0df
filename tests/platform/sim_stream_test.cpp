// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The simulated camera's video: the version-2 messages of the socket codec, frames from an
// in-process SimServer to a SimStream, and MJPEG through the capture session's decoder.
#include "platform/video/sim_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/usb/simcam_protocol.h"
#include "platform/video/gst_capture_backend.h"
#include "sim/profile.h"
#include "sim_fixture.h"
#include "support/serial_queue.h"

namespace velto {
namespace {

namespace simcam = usb::simcam;
using video::SimStream;
using Result = SimStream::Result;

TEST(SimcamVideoMessagesTest, RoundTripAndRejectWhatDoesNotFit) {
  const std::vector<simcam::Message> samples = {
      simcam::StreamRequest{1280, 720}, simcam::StreamStart{640, 360, 30},
      simcam::StreamRefused{simcam::StreamRefused::Reason::busy, "in use"},
      simcam::FrameChunk{7, 262144, {1, 2, 3}}, simcam::StreamModeRequest{video::fourccOf("YUY2"), 640, 360, 15}};
  for (const simcam::Message& m : samples) {
    const auto frame = simcam::encode(m);
    const auto body = std::span(frame).subspan(simcam::kLengthPrefix);
    EXPECT_EQ(simcam::decodeBody(body), m) << "type " << int(frame[4]);
    for (std::size_t n = 1; n < body.size(); ++n) {
      // A chunk may be cut anywhere after its header: it is then a shorter chunk.
      if (frame[4] == 0x43 && n > 9) continue;
      EXPECT_FALSE(simcam::decodeBody(body.first(n))) << "type " << int(frame[4]) << " cut to " << n;
    }
  }
  auto body = [](std::vector<std::uint8_t> bytes) { return simcam::decodeBody(bytes).has_value(); };
  EXPECT_FALSE(body({0x41, 0, 0, 0x68, 0x01, 30, 0})) << "zero width";
  EXPECT_FALSE(body({0x41, 0x80, 0x02, 0x68, 0x01, 0, 0})) << "zero rate";
  EXPECT_FALSE(body({0x42, 3, 0, 0})) << "unknown reason";
  EXPECT_FALSE(body({0x43, 1, 0, 0, 0, 0, 0, 0, 0})) << "a chunk without data";
  EXPECT_FALSE(body({0x45, 0})) << "reserved, not yet a message";

  // The header a sender writes before the pixels reads back; a wrong type or length is refused.
  const auto header = simcam::encodeChunkHeader(9, 4096, simcam::kMaxChunkData);
  const auto read = simcam::decodeChunkHeader(header);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->sequence, 9u);
  EXPECT_EQ(read->offset, 4096u);
  EXPECT_EQ(read->dataLength, simcam::kMaxChunkData);
  auto bad = header;
  bad[2] = 0x05;  // body past the limit
  EXPECT_FALSE(simcam::decodeChunkHeader(bad));
  bad = simcam::encodeChunkHeader(9, 0, 0);
  EXPECT_FALSE(simcam::decodeChunkHeader(bad)) << "no data";
  bad = header;
  bad[4] = 0x11;
  EXPECT_FALSE(simcam::decodeChunkHeader(bad));
}

class SimStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bus.plug(sim::c200Profile(), "cam", 20, [](sim::ServerOptions& o) {
      o.width = 320;
      o.height = 180;
      o.fps = 60;
    });
  }
  std::string socket() { return bus.camera("cam").socketPath(); }

  testing::SimBus bus;
};

TEST_F(SimStreamTest, FramesArriveInTheAskedSizeAndStopWhileFrozen) {
  auto owned = std::make_unique<SimStream>();
  SimStream& stream = *owned;
  std::string error;
  ASSERT_EQ(stream.open(socket(), 1920, 1080, &error), Result::frame) << error;
  EXPECT_EQ(stream.width(), 320);
  EXPECT_EQ(stream.height(), 180);
  EXPECT_EQ(stream.fps(), 60);
  SimStream::Packet frame;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(stream.next(frame, &error), Result::frame) << error;
  // Up to 640×480 the camera sends YUY2: a Y per pixel, U and V per pair.
  ASSERT_EQ(frame.format, SimStream::Format::yuy2);
  EXPECT_EQ(frame.bytesPerRow, 2 * 320);
  ASSERT_EQ(frame.size, 2u * 320 * 180);
  // The centre shows mid grey: about neutral, once auto exposure has settled near 0.45.
  const std::uint8_t* centre = frame.data + 90 * frame.bytesPerRow + 2 * 160;
  EXPECT_NEAR(centre[1], 128, 6);
  EXPECT_NEAR(centre[3], 128, 6);
  EXPECT_NEAR(centre[0], 16 + 0.45 * 219, 52);

  SimStream second;
  EXPECT_EQ(second.open(socket(), 160, 160, &error), Result::busy) << "one program streams at a time";

  // Frozen, the camera sends at most what was already on its way; next() then blocks until
  // interrupted from another thread.
  bus.command("cam", "freeze");
  std::thread interrupter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    stream.interrupt();
  });
  int late = 0;
  Result r;
  while ((r = stream.next(frame, &error)) == Result::frame) ++late;
  interrupter.join();
  EXPECT_EQ(r, Result::interrupted);
  EXPECT_LE(late, 4) << "at 60 fps, 400 ms would have brought about 24";
  EXPECT_EQ(stream.next(frame, &error), Result::interrupted) << "for good";

  bus.command("cam", "thaw");
  owned.reset();  // the camera is free once the stream is closed
  SimStream small;
  ASSERT_EQ(small.open(socket(), 160, 160, &error), Result::frame) << error;
  EXPECT_EQ(small.width(), 160);
  EXPECT_EQ(small.height(), 90) << "the camera's shape, scaled to fit";
  ASSERT_EQ(small.next(frame, &error), Result::frame) << error;
  EXPECT_EQ(frame.width, 160);
}

TEST_F(SimStreamTest, AModeIsStreamedExactlyAndAnythingElseRefused) {
  std::string error;
  SimStream::Packet frame;
  {
    SimStream small;
    // MJPEG even at a size the camera would send as YUY2 by itself, at the slower of its rates.
    ASSERT_EQ(small.open(socket(), video::CaptureMode{video::fourccOf("MJPG"), 320, 240, 15}, &error), Result::frame) << error;
    EXPECT_EQ(small.width(), 320);
    EXPECT_EQ(small.height(), 240);
    EXPECT_EQ(small.fps(), 15);
    ASSERT_EQ(small.next(frame, &error), Result::frame) << error;
    EXPECT_EQ(frame.format, SimStream::Format::mjpeg);
  }

  {
    SimStream large;
    ASSERT_EQ(large.open(socket(), video::CaptureMode{video::fourccOf("YUY2"), 640, 480, 30}, &error), Result::frame) << error;
    ASSERT_EQ(large.next(frame, &error), Result::frame) << error;
    EXPECT_EQ(frame.format, SimStream::Format::yuy2);
    EXPECT_EQ(frame.size, 2u * 640 * 480);
  }

  SimStream odd;
  EXPECT_EQ(odd.open(socket(), video::CaptureMode{video::fourccOf("MJPG"), 1024, 768, 30}, &error), Result::refused);
  EXPECT_NE(error.find("does not offer MJPG 1024x768 at 30 fps"), std::string::npos) << error;
  SimStream h264;
  EXPECT_EQ(h264.open(socket(), video::CaptureMode{video::fourccOf("H264"), 1280, 720, 30}, &error), Result::refused);
  EXPECT_NE(error.find("H.264"), std::string::npos) << error;
}

TEST_F(SimStreamTest, BusyRefusesUnplugEndsAndTheLogSaysSo) {
  bus.command("cam", "busy");
  SimStream refused;
  std::string error;
  EXPECT_EQ(refused.open(socket(), 1280, 720, &error), Result::busy);
  EXPECT_EQ(error, "the camera is in use by another application");
  bus.command("cam", "free");

  SimStream stream;
  ASSERT_EQ(stream.open(socket(), 1280, 720, &error), Result::frame) << error;
  SimStream::Packet frame;
  ASSERT_EQ(stream.next(frame, &error), Result::frame) << error;
  bus.command("cam", "unplug");
  Result r;
  while ((r = stream.next(frame, &error)) == Result::frame) {
  }
  EXPECT_EQ(r, Result::vanished) << error;

  SimStream gone;
  EXPECT_EQ(gone.open(socket(), 1280, 720, &error), Result::refused);
  const auto events = bus.events("cam");
  EXPECT_EQ(std::count(events.begin(), events.end(), "stream-start"), 1);
  EXPECT_EQ(std::count(events.begin(), events.end(), "stream-stop"), 1);
}

// Above 640×480 the camera sends MJPEG, which the capture session decodes like a real camera's:
// for the screen at the view's size (or just above it), in full on request.
TEST(SimCaptureMjpegTest, DecodesToTheCameraSizeEndToEnd) {
  testing::SimBus bus;
  bus.plug(sim::c200Profile(), "cam", 20, [](sim::ServerOptions& o) {
    o.width = 1280;
    o.height = 720;
  });
  std::string error;
  {
    SimStream probe;
    ASSERT_EQ(probe.open(bus.camera("cam").socketPath(), 1920, 1080, &error), Result::frame) << error;
    SimStream::Packet packet;
    ASSERT_EQ(probe.next(packet, &error), Result::frame) << error;
    EXPECT_EQ(packet.format, SimStream::Format::mjpeg);
    EXPECT_EQ(packet.bytesPerRow, 0);
    EXPECT_EQ(packet.data[0], 0xff) << "a JPEG's start marker";
    EXPECT_EQ(packet.data[1], 0xd8);
  }

  std::mutex mutex;
  std::condition_variable changed;
  std::optional<Frame> frame;
  std::optional<video::SessionError> failure;
  SerialQueue frames{"camera.frames"};
  video::GstCaptureOptions options;
  options.sysfsRoot.clear();
  options.watchDevices = false;
  options.simDirectory = bus.directory();
  video::GstCaptureBackend backend(options);
  video::CaptureBackend::Handlers handlers;
  handlers.frameQueue = &frames;
  handlers.frame = [&](Frame f) {
    std::lock_guard lock(mutex);
    frame = std::move(f);
    changed.notify_all();
  };
  handlers.runtimeError = [&](const video::SessionError& e) {
    std::lock_guard lock(mutex);
    failure = e;
    changed.notify_all();
  };
  backend.setHandlers(std::move(handlers));
  backend.setPictureSize(760, 428);
  const std::vector<video::CaptureDevice> devices = backend.devices();
  ASSERT_EQ(devices.size(), 1u);
  backend.configure(devices[0], false);
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return frame || failure; }));
    ASSERT_FALSE(failure) << failure->text;
    EXPECT_EQ(frame->width(), 760) << "decoded at half the size, then made the view's";
    EXPECT_EQ(frame->height(), 428);
    EXPECT_EQ(frame->sourceWidth(), 1280);
    EXPECT_EQ(frame->sourceHeight(), 720);
    const Frame full = frame->fullResolution();
    EXPECT_EQ(full.width(), 1280);
    EXPECT_EQ(full.height(), 720);
    for (const Frame* f : {static_cast<const Frame*>(&*frame), &full}) {
      ASSERT_NE(f->pixels(), nullptr);
      // The centre is about neutral mid grey, as in the raw picture.
      const std::uint8_t* centre = f->pixels() + f->height() / 2 * f->bytesPerRow() + 4 * (f->width() / 2);
      EXPECT_NEAR(centre[0], centre[2], 12);
      EXPECT_NEAR(centre[1], 0.45 * 255, 60);
    }
  }
  backend.stopSession();
  backend.waitUntilIdle();
}

}  // namespace
}  // namespace velto
