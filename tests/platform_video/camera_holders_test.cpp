// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Looking for the programs that hold a camera's node open, in a /proc tree of the test's own:
// each process a directory with its comm and an fd directory of symbolic links, as the kernel
// shows them.
#include "platform/video/camera_holders.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace velto::video {
namespace {

namespace fs = std::filesystem;

class CameraHoldersTest : public ::testing::Test {
 protected:
  CameraHoldersTest() {
    fs::create_directories(proc());
    std::ofstream created(node());
  }
  std::string root() const { return dir.path().toStdString(); }
  std::string proc() const { return root() + "/proc"; }
  std::string node() const { return root() + "/cam0.video"; }

  // A process with `comm` (none: it ended before its name was read) and descriptors linking to
  // `targets`.
  std::string process(pid_t pid, const char* comm, const std::vector<std::string>& targets) {
    const std::string path = proc() + "/" + std::to_string(pid);
    fs::create_directories(path + "/fd");
    if (comm != nullptr) std::ofstream(path + "/comm") << comm << '\n';
    int fd = 3;
    for (const std::string& target : targets) fs::create_symlink(target, path + "/fd/" + std::to_string(fd++));
    return path;
  }
  std::vector<CameraHolder> find(std::size_t limit = 4, std::vector<std::string> passOver = {}) {
    HolderSearch search;
    search.passOver = std::move(passOver);
    search.procRoot = proc();
    search.self = 10;
    search.limit = limit;
    return findCameraHolders(node(), search);
  }

  QTemporaryDir dir;
};

TEST_F(CameraHoldersTest, ProcessesHoldingTheNodeByPathOrByAnotherNameAreFoundInPidOrder) {
  const std::string alias = root() + "/by-id-cam0";
  fs::create_symlink(node(), alias);
  process(300, "obs", {"socket:[4711]", "pipe:[12]", alias});
  process(42, "zoom", {"/dev/null", node()});
  process(7, "sleep", {"anon_inode:[eventfd]", root() + "/other.video"});
  fs::create_directories(proc() + "/self");  // not a process

  EXPECT_EQ(find(), (std::vector<CameraHolder>{{42, "zoom"}, {300, "obs"}}));
  EXPECT_EQ(find(1), (std::vector<CameraHolder>{{42, "zoom"}})) << "the search ends with the limit";
}

TEST_F(CameraHoldersTest, ThisProcessAndProcessesThatCannotBeReadAreSkipped) {
  process(10, "velto-camera", {node()});                      // this process
  process(20, nullptr, {node()});                             // ended before its name was read
  fs::create_directories(proc() + "/30");                     // ended: no fd directory left
  fs::create_symlink(root() + "/gone", proc() + "/40");       // ended while listed
  const std::string foreign = process(50, "zoom", {node()});  // another user's
  const bool foreignOwned = ::getuid() == 0 && ::chown(foreign.c_str(), 65534, 65534) == 0;
  process(60, "cheese", {node()});

  const std::vector<CameraHolder> expected = foreignOwned ? std::vector<CameraHolder>{{60, "cheese"}}
                                                         : std::vector<CameraHolder>{{50, "zoom"}, {60, "cheese"}};
  EXPECT_EQ(find(), expected);

  HolderSearch missing;
  missing.procRoot = root() + "/no-proc";
  EXPECT_TRUE(findCameraHolders(node(), missing).empty());
  HolderSearch plain;
  plain.procRoot = proc();
  EXPECT_TRUE(findCameraHolders("", plain).empty());

  // Sharing the camera through PipeWire, its daemon holding the node is no other program.
  process(70, "pipewire", {node()});
  EXPECT_EQ(find(4, pipeWireProcessNames()), expected);
  HolderSearch publisher;
  publisher.procRoot = proc();
  publisher.self = 10;
  publisher.passOverProcesses = {60, 70};
  const std::vector<CameraHolder> notPassedOver =
      foreignOwned ? std::vector<CameraHolder>{} : std::vector<CameraHolder>{{50, "zoom"}};
  EXPECT_EQ(findCameraHolders(node(), publisher), notPassedOver) << "the processes passed over by number";
  EXPECT_EQ(find(4).back(), (CameraHolder{70, "pipewire"}));
}

}  // namespace
}  // namespace velto::video
