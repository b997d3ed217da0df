// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/sim_directory.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace velto::usb {

std::string defaultSimDirectory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] != '\0') return std::string(runtime) + "/velto-simcam";
  return "/tmp/velto-simcam-" + std::to_string(::getuid());
}

bool ensureSimDirectory(const std::string& directory) {
  if (directory.empty()) return false;
  for (std::size_t slash = directory.find('/', 1); ; slash = directory.find('/', slash + 1)) {
    const std::string part = directory.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat st {};
  return ::stat(directory.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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
