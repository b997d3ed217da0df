// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The simulated camera's request log: one JSON object per line, appended and flushed as each
// request is answered or each bus event happens, so that a test or a person can follow what the
// camera's host did (docs/simcam.md lists the fields).
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "sim/sim_camera.h"

namespace velto::sim {

// "GET_CUR", "SET_CUR", ... or "0x85" for a code without a name here.
std::string requestName(std::uint8_t bRequest);

// One log line (without the newline). `data` is what was sent for an OUT request and what was
// answered for an IN one.
std::string requestLine(std::uint64_t seq, const Setup& setup, std::span<const std::uint8_t> data,
                        usb::Status status);
std::string eventLine(std::uint64_t seq, std::string_view event);

class RequestLog {
 public:
  RequestLog() = default;
  ~RequestLog();
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;

  // Opens `path` for appending. False (with errno set) when it cannot be opened.
  bool open(const std::string& path);
  bool isOpen() const { return file_ != nullptr; }

  // Writes and flushes one line; does nothing when no file is open. Sequence numbers count both
  // kinds of lines, from 1.
  void request(const Setup& setup, std::span<const std::uint8_t> data, usb::Status status);
  void event(std::string_view name);

 private:
  void write(const std::string& line);
  std::FILE* file_ = nullptr;
  std::uint64_t seq_ = 0;
};

}  // namespace velto::sim
