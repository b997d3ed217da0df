// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/video/camera_holders.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <memory>
#include <optional>

#include "support/log.h"

namespace velto::video {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

std::optional<pid_t> pidOf(const char* name) {
  const char* last = name;
  while (*last != '\0') ++last;
  pid_t pid = 0;
  const auto [ptr, err] = std::from_chars(name, last, pid);
  if (err != std::errc{} || ptr != last || name == last || pid <= 0) return std::nullopt;
  return pid;
}

// A video node is a character device: any name of it names the same device number. Anything
// else (the simulated camera's regular file) is the same inode on the same file system.
bool sameFile(const struct stat& a, const struct stat& b) {
  if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode)) return a.st_rdev == b.st_rdev;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The program's name, without the kernel's newline; empty when the process is gone.
std::string commOf(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  char buffer[64];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  ::close(fd);
  if (n <= 0) return {};
  std::string name(buffer, static_cast<std::size_t>(n));
  while (!name.empty() && (name.back() == '\n' || name.back() == ' ' || name.back() == '\0')) name.pop_back();
  return name;
}

struct Node {
  std::string path;
  std::string canonical;  // the path with links resolved; `path` when that fails
  std::optional<struct stat> status;
};

// Whether one of the descriptors in `fdDir` refers to `node`. A directory that cannot be read
// (another user's process, one that ended) holds nothing that can be seen.
bool holds(const std::string& fdDir, const Node& node) {
  const Dir fds(::opendir(fdDir.c_str()));
  if (!fds) return false;
  while (const dirent* entry = ::readdir(fds.get())) {
    if (entry->d_name[0] == '.') continue;
    const std::string link = fdDir + "/" + entry->d_name;
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) continue;
    const std::string_view named(target, static_cast<std::size_t>(n));
    if (named == node.path || named == node.canonical) return true;
    // Sockets, pipes and anonymous inodes ("socket:[123]") are never the node: only names of
    // files are worth a stat.
    if (!node.status || named.front() != '/') continue;
    struct stat status {};
    if (::stat(link.c_str(), &status) == 0 && sameFile(status, *node.status)) return true;
  }
  return false;
}

}  // namespace

const std::vector<std::string>& pipeWireProcessNames() {
  static const std::vector<std::string> names = {"pipewire", "wireplumber", "pipewire-media-", "pipewire-pulse"};
  return names;
}

std::vector<CameraHolder> findCameraHolders(const std::string& nodePath, const HolderSearch& search) {
  std::vector<CameraHolder> holders;
  if (nodePath.empty() || search.limit == 0) return holders;
  Node node;
  node.path = nodePath;
  node.canonical = nodePath;
  if (char* resolved = ::realpath(nodePath.c_str(), nullptr)) {
    node.canonical = resolved;
    std::free(resolved);
  }
  struct stat status {};
  if (::stat(nodePath.c_str(), &status) == 0) node.status = status;

  const Dir proc(::opendir(search.procRoot.c_str()));
  if (!proc) {
    log::systemCallFailed(log::Layer::capture, "opendir", search.procRoot, errno);
    return holders;
  }
  std::vector<pid_t> pids;
  while (const dirent* entry = ::readdir(proc.get())) {
    if (const auto pid = pidOf(entry->d_name)) pids.push_back(*pid);
  }
  std::sort(pids.begin(), pids.end());

  const pid_t self = search.self != 0 ? search.self : ::getpid();
  const uid_t user = ::getuid();
  for (const pid_t pid : pids) {
    if (pid == self || std::find(search.passOverProcesses.begin(), search.passOverProcesses.end(), pid) !=
                           search.passOverProcesses.end()) {
      continue;
    }
    const std::string dir = search.procRoot + "/" + std::to_string(pid);
    struct stat owner {};
    if (::stat(dir.c_str(), &owner) != 0 || owner.st_uid != user) continue;
    if (!holds(dir + "/fd", node)) continue;
    std::string name = commOf(dir + "/comm");
    if (name.empty()) continue;  // ended meanwhile
    if (std::find(search.passOver.begin(), search.passOver.end(), name) != search.passOver.end()) continue;
    holders.push_back(CameraHolder{pid, std::move(name)});
    if (holders.size() >= search.limit) break;
  }
  return holders;
}

}  // namespace velto::video
