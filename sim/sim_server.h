// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Puts one SimCamera on the "bus": publishes its device socket in the simulator directory, serves
// the socket protocol (docs/simcam-protocol.md) to every client, plugs and unplugs it,
// re-enumerates it, streams frames of its scene to clients that ask (protocol version 2; in one of
// the profile's advertised modes from version 4), and
// serves the control socket that `velto-simcam ctl` talks to.
//
// Threads: everything runs on the thread that calls run() (one poll() loop); command() may be
// called from any thread and is carried out on that loop. requestStop() is async-signal-safe.
// Latency, the re-enumeration delay and the frame cadence are real time; the camera's firmware
// runs on the clock given to it. Frames are drawn on a thread of their own (FrameRenderer) from a
// snapshot of the controls, and a client that does not keep up misses frames: a frame goes to a
// client only once the previous one has gone out whole.
//
// Resources are bounded: at most kMaxDeviceConnections camera hosts and kMaxControlConnections
// `ctl` clients at once (more wait in the listen backlog until one leaves), and when accept()
// fails for want of descriptors the server stops accepting for kAcceptRetryMs or until a
// connection closes, instead of waking at once to fail again.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/usb/simcam_protocol.h"
#include "sim/frame_renderer.h"
#include "sim/request_log.h"
#include "sim/sim_camera.h"

namespace velto::sim {

// The longest a reply or a return to the bus may be delayed: far past every time-out of the
// application, and short enough that a mistyped value cannot park the simulator for hours.
inline constexpr int kMaxDelayMs = 10'000;

struct ServerOptions {
  // The simulator directory; created 0700 when missing, refused when it is not trusted
  // (usb::checkSimDirectory: a symbolic link, another user's, or open to others).
  std::string directory;
  std::string id = "cam0";
  int latencyMs = 0;         // delay before each control answer; 0..kMaxDelayMs
  int reenumerateMs = 1000;  // time off the bus after a re-enumeration; 0..kMaxDelayMs
  std::string logPath;       // the request log; empty for none
  int width = 1280;          // frame size: 16..4096 each way
  int height = 720;
  int fps = 30;              // 1..120
  Lighting lighting;
  bool flipNeedsStream = false;  // the C200's quirk: a flip written while not streaming is dropped
};

class SimServer {
 public:
  // A camera host keeps one connection per open device; a few dozen covers every program and
  // test that could share one camera, while staying far below the usual descriptor limit.
  static constexpr std::size_t kMaxDeviceConnections = 64;
  // A `ctl` client sends one line and leaves.
  static constexpr std::size_t kMaxControlConnections = 8;
  static constexpr int kAcceptRetryMs = 100;

  SimServer(Profile profile, ServerOptions options, SimCamera::Clock clock);
  ~SimServer();  // stops the loop and unplugs
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // Creates the directory, the control socket and the log, and plugs the camera in. Fails with a
  // message when the directory is not trusted, another simulator with the same id is running or a
  // file cannot be created.
  bool start(std::string* error);

  // Serves until requestStop(); then unplugs the camera and removes the control socket.
  void run();
  // start() and run() on a thread of its own, for tests and embedding.
  bool startThread(std::string* error);
  void requestStop();
  // requestStop() and waits for the loop thread started by startThread().
  void stop();

  // Carries out one control command ("state", "set brightness 10", "unplug", ...) and returns
  // its answer: "ok" or "ok TEXT" on success, "error TEXT" otherwise. Blocks until the loop has
  // carried it out; before run() it runs on the caller, once the loop has ended it is refused.
  std::string command(const std::string& line);

  std::string socketPath() const;
  std::string controlPath() const;
  // "<directory>/<id>.video": an empty file (mode 0600) that stands for the camera's video node
  // while it is plugged in, made anew for every enumeration. A program that streams from the
  // camera holds it open, so whoever looks for the camera's users finds them as on a real node.
  std::string nodePath() const;
  // "<directory>/<id>.alt": what sysfs's bAlternateSetting of the streaming interface is on a
  // real camera, "0" while the camera is idle and "1" while anyone streams from it (a host, or
  // the other application of `busy`). Rewritten, not replaced, when it changes.
  std::string alternateSettingPath() const;
  // The registry ID of the current enumeration; 0 while unplugged.
  std::uint64_t registryID() const { return registryID_.load(); }

  // For tests: the open connections (both sockets), as of the loop's last pass, and how often
  // the loop has woken from poll().
  std::size_t connectionCount() const { return connectionCount_.load(); }
  std::uint64_t loopWakeups() const { return loopWakeups_.load(); }

 private:
  struct Connection;
  struct Pending;

  std::string execute(const std::string& line);
  bool plug(std::string* error);
  void unplug();
  void reenumerate();
  void acceptOn(int listener, bool control, std::size_t room);
  void readFrom(Connection& c);
  void onDeviceMessage(Connection& c, usb::simcam::Message& message);
  // Answers a stream request with a refusal and closes the connection once it has gone out.
  void refuseStream(Connection& c, usb::simcam::StreamRefused::Reason reason, std::string text);
  // Refuses the stream as busy while another application or another host streams. True then.
  bool refusedAsBusy(Connection& c);
  void startStream(Connection& c, const usb::simcam::StreamRequest& request);
  void startModeStream(Connection& c, const usb::simcam::StreamModeRequest& request);
  void beginStream(Connection& c, FrameShape shape, int fps);
  // The rate frames are drawn at: the fastest stream's.
  int tickFps() const;
  void queue(Connection& c, std::vector<std::uint8_t> bytes);
  void flush(Connection& c);
  // Sends the frame under way; with `begunOnly`, only the rest of a chunk already begun. False
  // when the socket is full.
  bool sendFrame(Connection& c, bool begunOnly);
  void renderFrame();
  void deliverFrames();
  void runCommands();
  void shutdown();
  // Tells every notice connection of the controls whose values changed since the last call.
  void tellChanges();

  ServerOptions options_;
  SimCamera camera_;
  RequestLog log_;

  int wake_[2] = {-1, -1};
  int controlListener_ = -1;
  int deviceListener_ = -1;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::uint64_t nextSerial_ = 0;
  std::deque<Pending> pending_;      // answers held back by the latency, in due order
  std::int64_t plugBackAt_ = -1;     // real-time ms when a re-enumerated camera returns
  bool held_ = false;                // another client holds the camera: no re-enumeration
  std::int64_t acceptPausedUntil_ = -1;  // real-time ms; accept() ran out of descriptors
  bool acceptWarned_ = false;            // said so once on stderr
  std::atomic<std::uint64_t> registryID_{0};
  std::atomic<std::size_t> connectionCount_{0};
  std::atomic<std::uint64_t> loopWakeups_{0};
  std::atomic<bool> stopRequested_{false};
  std::thread thread_;

  // Streaming, loop thread only.
  std::unique_ptr<FrameRenderer> renderer_;
  bool frozen_ = false;           // frames stop, the camera stays
  // What the alternate-setting file says: whether the camera streams.
  void showStreaming(bool streaming);
  bool shownStreaming_ = false;
  bool busy_ = false;             // another application streams: stream requests are refused
  std::int64_t nextFrameAt_ = -1; // real-time µs of the next frame; -1 while nobody streams
  std::uint32_t frameSequence_ = 0;

  // Change notices, loop thread only: the values last told of, and when the firmware's own
  // changes (auto modes, zoom after the field of view, focus search) are looked for next.
  std::map<ControlID, std::int64_t> told_;
  std::int64_t nextLookAt_ = -1;  // real-time ms; -1 while nobody asked for notices

  // Who may touch the camera and the sockets: before run() the caller of start(), during run()
  // only the loop thread, afterwards nobody but the destructor.
  enum class Phase { idle, running, stopped };
  std::mutex commandsMutex_;
  std::condition_variable commandsChanged_;
  Phase phase_ = Phase::idle;         // guarded by commandsMutex_
  std::thread::id loopThread_;        // guarded by commandsMutex_
  struct Command {
    std::string line;
    std::string answer;
    bool done = false;
  };
  std::deque<std::shared_ptr<Command>> commands_;  // guarded by commandsMutex_
};

// The next registry ID for a camera in `directory`: unique within it, never reused (a counter
// kept in a locked file there). Simulated registry IDs lie in their own range, 0x53494d... ("SIM").
std::uint64_t allocateRegistryID(const std::string& directory);

}  // namespace velto::sim
