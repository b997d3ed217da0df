// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/sim_directory.h"

#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

#include "support/log.h"

namespace velto::usb {
namespace {

std::atomic<bool> simulatedCamerasRequested{false};

std::string simDirectoryFor(const char* runtimeDirectory, uid_t owner) {
  if (runtimeDirectory != nullptr && runtimeDirectory[0] != '\0') {
    return std::string(runtimeDirectory) + "/velto-simcam";
  }
  return "/tmp/velto-simcam-" + std::to_string(owner);
}

// "nobody (65534)", or the bare number for a user the system does not name.
std::string userText(uid_t uid) {
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  const std::string number = std::to_string(uid);
  if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr) return "user " + number;
  return std::string(found->pw_name) + " (" + number + ")";
}

SimDirectoryCheck refused(std::string problem) {
  return SimDirectoryCheck{SimDirectoryCheck::Verdict::refused, std::move(problem)};
}

}  // namespace

std::string defaultSimDirectory() { return simDirectoryFor(std::getenv("XDG_RUNTIME_DIR"), ::getuid()); }

SimDirectoryCheck checkSimDirectory(const std::string& directory, uid_t owner) {
  struct stat st {};
  if (::lstat(directory.c_str(), &st) != 0) {
    const int err = errno;
    if (err == ENOENT) return SimDirectoryCheck{SimDirectoryCheck::Verdict::missing, directory + " does not exist"};
    return refused(directory + ": " + std::strerror(err));
  }
  if (S_ISLNK(st.st_mode)) return refused(directory + " is a symbolic link");
  if (!S_ISDIR(st.st_mode)) return refused(directory + " is not a directory");
  if (st.st_uid != owner) {
    return refused(directory + " belongs to " + userText(st.st_uid) + ", not to " + userText(owner));
  }
  if ((st.st_mode & 0777) != 0700) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 0777));
    return refused(directory + " has mode " + mode + ", not 0700: other users can reach it");
  }
  return SimDirectoryCheck{SimDirectoryCheck::Verdict::trusted, {}};
}

SimDirectoryCheck prepareSimDirectory(const std::string& directory, uid_t owner) {
  if (directory.empty()) return refused("no directory for simulated cameras");
  const SimDirectoryCheck found = checkSimDirectory(directory, owner);
  if (found.verdict != SimDirectoryCheck::Verdict::missing) return found;
  // mkdir never follows a link and fails on anything already there, so whatever stands at the
  // path afterwards is checked again rather than assumed to be ours.
  for (std::size_t slash = directory.find('/', 1); slash != std::string::npos; slash = directory.find('/', slash + 1)) {
    ::mkdir(directory.substr(0, slash).c_str(), 0700);
  }
  if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
    return refused("cannot create " + directory + ": " + std::strerror(errno));
  }
  return checkSimDirectory(directory, owner);
}

SimDirectoryChoice chooseSimDirectory(bool requested, const char* runtimeDirectory, uid_t owner) {
  if (!requested) return {};
  std::string directory = simDirectoryFor(runtimeDirectory, owner);
  SimDirectoryCheck check = prepareSimDirectory(directory, owner);
  if (!check.trusted()) return SimDirectoryChoice{{}, std::move(check.problem)};
  return SimDirectoryChoice{std::move(directory), {}};
}

void requestSimulatedCameras() { simulatedCamerasRequested.store(true); }

SimDirectoryChoice simulatedCameraDirectory() {
  const char* wanted = std::getenv("VELTO_SIMCAM");
  const bool fromEnvironment = wanted != nullptr && wanted[0] != '\0' && std::strcmp(wanted, "0") != 0;
  SimDirectoryChoice choice = chooseSimDirectory(simulatedCamerasRequested.load() || fromEnvironment,
                                                 std::getenv("XDG_RUNTIME_DIR"), ::getuid());
  if (!choice.refusal.empty()) {
    // Every listing asks again; the user hears of a refusal once.
    static std::mutex mutex;
    static std::set<std::string> told;
    std::lock_guard lock(mutex);
    if (told.insert(choice.refusal).second) {
      log::warning(log::Layer::usb, "simulated cameras are not listed: " + choice.refusal);
    }
  }
  return choice;
}

std::string simSocketPath(const std::string& directory, std::string_view id) {
  return directory + "/" + std::string(id) + ".sock";
}

std::string simControlPath(const std::string& directory, std::string_view id) {
  return directory + "/" + std::string(id) + ".ctl";
}

bool isSimSocketName(std::string_view name) {
  constexpr std::string_view suffix = ".sock";
  return name.size() > suffix.size() && name.ends_with(suffix) &&
         isValidSimID(name.substr(0, name.size() - suffix.size()));
}

bool isValidSimID(std::string_view id) {
  if (id.empty() || id.size() > 64 || id[0] == '.') return false;
  for (char c : id) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.';
    if (!ok) return false;
  }
  return true;
}

int unixSocketFor(const std::string& path, sockaddr_un& address) {
  address = sockaddr_un{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

int connectUnixSocket(const std::string& path, int timeoutMs) {
  sockaddr_un addr{};
  const int fd = unixSocketFor(path, addr);
  if (fd < 0) return -1;
  // A full backlog answers EAGAIN (Unix sockets do not complete a connect later): retry briefly.
  for (int waited = 0;; waited += 5) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return fd;
    if (errno != EAGAIN || waited >= timeoutMs) break;
    ::poll(nullptr, 0, 5);
  }
  if (errno == EAGAIN) errno = ETIMEDOUT;
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return -1;
}

}  // namespace velto::usb
